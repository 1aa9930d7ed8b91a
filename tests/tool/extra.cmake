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
