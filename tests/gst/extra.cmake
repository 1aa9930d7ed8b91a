# Included by varnel_add_test_folder for gst_tests (${name}, ${dir}): the
# element's objects over the library objects, and GStreamer's test harness
# (found in gst/CMakeLists.txt).
target_link_libraries(${name} PRIVATE varnel_gst_element PkgConfig::GST_CHECK)
# GLib's one deliberate leak at load time (see the file for why). GLib is
# built without frame pointers: only the slow unwinder sees the loader in the
# allocation's stack.
set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT
             "LSAN_OPTIONS=suppressions=${dir}/lsan_suppressions.txt:fast_unwind_on_malloc=0")
