# The Windows SDK zip under Wine (included from tests/CMakeLists.txt in the
# Windows tree): the example linked against each import library, run against
# the native FUSE camera head.
set(windows_sdk_camsim "${VARNEL_CAMSIM}")
if(NOT windows_sdk_camsim)
  set(windows_sdk_camsim "${CMAKE_BINARY_DIR}/../native/bin/varnel-camsim")
endif()
add_test(NAME windows_sdk_import_libraries
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/windows_sdk.sh ${VARNEL_WINDOWS_SDK_ZIP}
                 ${PROJECT_SOURCE_DIR}/tests/fuse/run_with_camsim.sh ${windows_sdk_camsim}
                 ${CMAKE_C_COMPILER} ${PROJECT_SOURCE_DIR}/examples/snap.c)
# The programs live in a temporary directory: the label gives them the tree's
# prefix for programs on a FUSE head (tests/CMakeLists.txt).
set_tests_properties(windows_sdk_import_libraries PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600
                     LABELS "fuse")
