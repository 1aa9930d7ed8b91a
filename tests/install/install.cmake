# The installed SDK and its Debian package (included from tests/CMakeLists.txt
# on Linux). A sanitizer tree's library cannot be loaded by programs built
# without the sanitizer, so those trees leave these out.
if(NOT CMAKE_CXX_FLAGS MATCHES "sanitize" AND TARGET varnel-camsim AND TARGET varnelcam)
  add_test(NAME install_tree
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/install_tree.sh ${CMAKE_BINARY_DIR}
                   ${PROJECT_SOURCE_DIR})
  add_test(NAME install_debian_package
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/debian_package.sh ${CMAKE_BINARY_DIR}
                   ${PROJECT_SOURCE_DIR})
  # The package's dpkg -i changes the machine's GStreamer plugins and linker
  # cache for a moment: nothing else that loads them runs at the same time.
  set_tests_properties(install_tree install_debian_package PROPERTIES
                       SKIP_RETURN_CODE 77 TIMEOUT 600 RESOURCE_LOCK varnel_system_install)
  # Other trees' suites may run beside this one (tools/run-tests.sh): the
  # label lets the runner keep the machine-wide install for a moment when
  # nothing else runs.
  set_tests_properties(install_debian_package PROPERTIES LABELS "system")
  # The README's C example: the shipped examples/snap.c, built against this
  # tree's library and run without a camera and on the FUSE head.
  add_test(NAME readme_example
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/readme_example.sh ${PROJECT_SOURCE_DIR}
                   $<TARGET_FILE:VarnelSdk_Rade> $<TARGET_FILE:varnel-camsim> ${CMAKE_C_COMPILER})
  set_tests_properties(readme_example PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300 LABELS "fuse")
endif()
