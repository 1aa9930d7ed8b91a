# `varnelcam info` must name the demosaic forms the library runs. The script
# takes the expected forms from the processor flags the kernel reports, not
# from the library, so it runs only where /proc/cpuinfo exists.
if(NOT WIN32)
  add_test(NAME varnelcam_info_demosaic_form
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/check_demosaic_form.sh $<TARGET_FILE:varnelcam>)
endif()
