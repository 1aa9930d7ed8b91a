# varnelcam.exe under Wine against the native FUSE camera head (included from
# tests/CMakeLists.txt in the Windows tree).
set(varnelcam_camsim "${VARNEL_CAMSIM}")
if(NOT varnelcam_camsim)
  set(varnelcam_camsim "${CMAKE_BINARY_DIR}/../native/bin/varnel-camsim")
endif()
add_test(NAME tool_varnelcam_wine
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/wine_varnelcam.sh
                 ${PROJECT_SOURCE_DIR}/tests/fuse/run_with_camsim.sh ${varnelcam_camsim}
                 $<TARGET_FILE:varnelcam>)
# Label "fuse": a Wine prefix of the FUSE programs' own (tests/CMakeLists.txt).
set_tests_properties(tool_varnelcam_wine PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600
                     LABELS "fuse")

# varnelcam.exe trigger --external: the DLL's triggered frames from the FUSE
# head, and their latency on the clock the native head stamped with.
add_test(NAME tool_trigger_external_wine
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/external_trigger.sh
                 ${PROJECT_SOURCE_DIR}/tests/fuse/run_with_camsim.sh ${varnelcam_camsim}
                 $<TARGET_FILE:varnelcam> --wine)
set_tests_properties(tool_trigger_external_wine PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600
                     LABELS "fuse")
