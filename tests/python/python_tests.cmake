# The Python package's tests, run by CTest (included from tests/CMakeLists.txt
# on Linux). A sanitizer tree's library cannot be loaded into an interpreter
# that was not started under the sanitizer, so those trees leave them out.
if(NOT CMAKE_CXX_FLAGS MATCHES "sanitize" AND TARGET varnel-camsim)
  add_test(NAME python_package_tests
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/run_pytest.sh $<TARGET_FILE:VarnelSdk_Rade>
                   $<TARGET_FILE:varnel-camsim> ${PROJECT_SOURCE_DIR})
  add_test(NAME python_package_installs
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/pip_install_check.sh
                   $<TARGET_FILE:VarnelSdk_Rade> ${PROJECT_SOURCE_DIR})
  set_tests_properties(python_package_tests python_package_installs PROPERTIES
                       SKIP_RETURN_CODE 77 TIMEOUT 600)
endif()
