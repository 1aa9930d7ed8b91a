# Included by varnel_add_test_folder for win32_tests (${name}, ${dir}).
# The loader test loads the DLL from beside the test program.
add_dependencies(${name} VarnelSdk_Rade)

# The DLL may import only Windows system DLLs: anything else (the C++ runtime,
# winpthread, an image library) would be missing on a customer's machine.
add_test(NAME win32_dll_imports
  COMMAND ${CMAKE_COMMAND} -DLIBRARY=$<TARGET_FILE:VarnelSdk_Rade>
          -P ${dir}/check_imports.cmake)
# The DLL exports exactly the 118 names of the .def file, undecorated.
add_test(NAME win32_dll_exports
  COMMAND ${CMAKE_COMMAND} -DLIBRARY=$<TARGET_FILE:VarnelSdk_Rade>
          -DDEF_FILE=${PROJECT_SOURCE_DIR}/src/api/varnel.def -DTOOL=objdump
          -P ${CMAKE_CURRENT_SOURCE_DIR}/api/check_exports.cmake)

# The settings tests here and in api_tests use the one settings key of the
# prefix's registry: never at the same time.
set_tests_properties(${name} PROPERTIES RESOURCE_LOCK varnel_settings_key)

# The dialog tests open the library's own templates from the program itself:
# the templates are compiled into it as they are into the DLL.
target_sources(${name} PRIVATE ${VARNEL_RESOURCE_FILES})

# The dialog tests once more on a Japanese system (default language 1041):
# the Japanese templates, texts and sync buttons.
add_test(NAME win32_dialogs_japanese COMMAND ${name} --gtest_color=no --gtest_filter=DialogTest.*)
set_tests_properties(win32_dialogs_japanese PROPERTIES
  ENVIRONMENT "LANG=ja_JP.UTF-8;LC_ALL=ja_JP.UTF-8"
  RESOURCE_LOCK varnel_settings_key TIMEOUT 900)
