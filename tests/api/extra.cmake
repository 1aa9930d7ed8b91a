# Included by varnel_add_test_folder for api_tests (${name}, ${dir}).
if(NOT WIN32)
  # The loader test opens the shipped shared library itself.
  add_dependencies(${name} VarnelSdk_Rade)
  target_compile_definitions(${name} PRIVATE
    VARNEL_SHARED_LIBRARY_PATH="$<TARGET_FILE:VarnelSdk_Rade>")
  target_link_libraries(${name} PRIVATE ${CMAKE_DL_LIBS})
  # The shared object exports exactly the interface: the names of the .def file
  # and the Linux message-queue extension, nothing else.
  add_test(NAME api_exported_names
    COMMAND ${CMAKE_COMMAND}
      -DLIBRARY=$<TARGET_FILE:VarnelSdk_Rade>
      -DDEF_FILE=${PROJECT_SOURCE_DIR}/src/api/varnel.def
      -DEXTRA_NAMES=VarnelPosix_CreateMessageQueue,VarnelPosix_DestroyMessageQueue,VarnelPosix_ReadMessage,VarnelPosix_PendingMessages
      -P ${dir}/check_exports.cmake)
endif()

# The public headers compile as strict C99 with the C compiler of this tree.
add_test(NAME api_header_is_c
  COMMAND ${CMAKE_C_COMPILER} -std=c99 -pedantic-errors -Wall -Wextra -Werror -fsyntax-only
          -I${PROJECT_SOURCE_DIR}/include ${dir}/header_check.c)

# Each test clears the settings key of the Wine prefix (or uses a store file of
# its own on Linux); win32_tests use the same key.
set_tests_properties(${name} PROPERTIES RESOURCE_LOCK varnel_settings_key)
