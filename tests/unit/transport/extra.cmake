# The raw-volume path against the FUSE camera head (tests/fuse and
# tests/win32fuse). Both run through tests/fuse/run_with_camsim.sh, which
# mounts varnel-camsim on a temporary directory, links the drive letter, runs
# the program and unmounts in every case. They skip (exit 77) when the daemon
# or FUSE is missing.
set(VARNEL_FUSE_RUNNER ${PROJECT_SOURCE_DIR}/tests/fuse/run_with_camsim.sh)
file(GLOB VARNEL_FUSE_TEST_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/fuse/*.cpp)

if(NOT WIN32)
  if(TARGET varnel-camsim AND VARNEL_FUSE_TEST_SOURCES)
    add_executable(fuse_tests ${VARNEL_FUSE_TEST_SOURCES})
    target_link_libraries(fuse_tests PRIVATE varnel_core varnel_sim varnel_test_support GTest::gtest
                          GTest::gtest_main)
    target_include_directories(fuse_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    add_dependencies(fuse_tests varnel-camsim)
    add_test(NAME fuse_tests
             COMMAND ${VARNEL_FUSE_RUNNER} $<TARGET_FILE:varnel-camsim> $<TARGET_FILE:fuse_tests>
                     --gtest_color=no)
    set_tests_properties(fuse_tests PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300 LABELS "fuse")
  endif()
else()
  # The Windows tree cannot build the daemon: it takes the native one.
  set(VARNEL_CAMSIM "" CACHE FILEPATH "Native varnel-camsim used by the Wine FUSE tests")
  set(camsim "${VARNEL_CAMSIM}")
  if(NOT camsim)
    set(camsim "${CMAKE_BINARY_DIR}/../native/bin/varnel-camsim")
  endif()
  file(GLOB VARNEL_WIN32FUSE_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/win32fuse/*.cpp)
  if(VARNEL_WIN32FUSE_SOURCES)
    add_executable(win32fuse_tests ${VARNEL_WIN32FUSE_SOURCES} ${VARNEL_FUSE_TEST_SOURCES})
    target_link_libraries(win32fuse_tests PRIVATE varnel_core varnel_sim varnel_test_support
                          GTest::gtest GTest::gtest_main)
    target_include_directories(win32fuse_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    add_test(NAME win32fuse_tests
             COMMAND ${VARNEL_FUSE_RUNNER} --wine ${camsim} $<TARGET_FILE:win32fuse_tests>
                     --gtest_color=no)
    # Label "fuse": a Wine prefix of the FUSE programs' own (tests/CMakeLists.txt).
    set_tests_properties(win32fuse_tests PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600
                         LABELS "fuse")
  endif()
  # Programs that call the library through VarnelSdk_Rade.dll itself, one
  # run per model of the head.
  file(GLOB VARNEL_WIN32FUSE_DLL_SOURCES CONFIGURE_DEPENDS
       ${PROJECT_SOURCE_DIR}/tests/win32fuse_dll/*.cpp)
  if(VARNEL_WIN32FUSE_DLL_SOURCES)
    add_executable(win32fuse_dll_tests ${VARNEL_WIN32FUSE_DLL_SOURCES})
    target_link_libraries(win32fuse_dll_tests PRIVATE VarnelSdk_Rade GTest::gtest
                          GTest::gtest_main user32)
    target_include_directories(win32fuse_dll_tests PRIVATE ${PROJECT_SOURCE_DIR}
                               ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/src
                               ${PROJECT_SOURCE_DIR}/tests)
    foreach(model HXA1 HZG7)
      add_test(NAME win32fuse_dll_triggers_${model}
               COMMAND ${VARNEL_FUSE_RUNNER} --wine ${camsim} $<TARGET_FILE:win32fuse_dll_tests>
                       --gtest_color=no)
      set_tests_properties(win32fuse_dll_triggers_${model} PROPERTIES
        ENVIRONMENT "VARNEL_CAMSIM_ARGS=--model ${model};VARNEL_TEST_MODEL=${model}"
        SKIP_RETURN_CODE 77 TIMEOUT 600 LABELS "fuse")
    endforeach()
  endif()
endif()
