# Included by varnel_add_test_folder for tool_tests (${name}, ${dir}): the
# tests run the varnelcam program itself.
add_dependencies(${name} varnelcam)
target_compile_definitions(${name} PRIVATE VARNELCAM_PATH="$<TARGET_FILE:varnelcam>")
target_link_libraries(${name} PRIVATE TIFF::TIFF)
# The tests of two programs on one camera and of a camera pulled out need the
# FUSE head, which another process (the tool) can reach.
if(TARGET varnel-camsim)
  add_dependencies(${name} varnel-camsim)
  target_compile_definitions(${name} PRIVATE VARNEL_CAMSIM_PATH="$<TARGET_FILE:varnel-camsim>")
endif()

# The live viewer under a virtual X display, checked against the frame it
# saves.
add_test(NAME tool_view_screenshot
         COMMAND bash ${dir}/view_screenshot.sh $<TARGET_FILE:varnelcam>)
set_tests_properties(tool_view_screenshot PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)

# Outside triggers from the FUSE head's steady-rate trigger.
if(TARGET varnel-camsim)
  add_test(NAME tool_trigger_external
           COMMAND bash ${dir}/external_trigger.sh ${PROJECT_SOURCE_DIR}/tests/fuse/run_with_camsim.sh
                   $<TARGET_FILE:varnel-camsim> $<TARGET_FILE:varnelcam>)
  set_tests_properties(tool_trigger_external PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300
    LABELS "fuse" ENVIRONMENT "VARNEL_REGISTRY=${CMAKE_BINARY_DIR}/test-settings/tool_trigger_external.reg")
endif()

# varnelcam serve on 127.0.0.1, played by a stock GStreamer RTSP client.
add_test(NAME tool_serve_rtsp COMMAND bash ${dir}/serve_rtsp.sh $<TARGET_FILE:varnelcam>)
set_tests_properties(tool_serve_rtsp PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600)

# A camera head as a block device: a loop device (direct I/O) over the FUSE
# head's volume, given its letter by the udev helper.
if(TARGET varnel-camsim)
  add_test(NAME tool_block_device
           COMMAND bash ${dir}/block_device.sh ${PROJECT_SOURCE_DIR}/tests/fuse/run_with_camsim.sh
                   $<TARGET_FILE:varnel-camsim> $<TARGET_FILE:varnelcam>
                   ${PROJECT_SOURCE_DIR}/packaging/udev/varnel-drive-link)
  set_tests_properties(tool_block_device PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600 LABELS "fuse")
endif()
