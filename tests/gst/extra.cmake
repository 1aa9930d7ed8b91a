# Included by varnel_add_test_folder for gst_tests (${name}, ${dir}): the
# element's objects over the library objects, and GStreamer's test harness
# (found in gst/CMakeLists.txt).
target_link_libraries(${name} PRIVATE varnel_gst_element PkgConfig::GST_CHECK)
