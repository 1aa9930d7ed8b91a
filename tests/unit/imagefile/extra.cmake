# Included by varnel_add_test_folder for unit_imagefile (${name}, ${dir}).
# A second opinion on the written files from programs outside the project:
# the sample writer saves every colour mode in every format (under Wine for the
# 32-bit tree, so that the DLL's own static image libraries are judged), and
# ImageMagick, pngcheck and tiffinfo read the files on the build machine.
add_executable(imagefile_samples ${dir}/samples/write_samples.cpp)
target_link_libraries(imagefile_samples PRIVATE varnel_core varnel_test_support)
target_include_directories(imagefile_samples PRIVATE ${dir})
if(CMAKE_CROSSCOMPILING_EMULATOR)
  set(samples_runner ${CMAKE_CROSSCOMPILING_EMULATOR})
else()
  set(samples_runner "")
endif()
add_test(NAME imagefile_second_opinion
  COMMAND bash ${dir}/samples/second_opinion.sh $<TARGET_FILE:imagefile_samples> ${samples_runner})
set_tests_properties(imagefile_second_opinion PROPERTIES TIMEOUT 600)
