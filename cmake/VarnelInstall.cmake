# Install rules and packages of the SDK.
#
# Linux: `cmake --install build/native --prefix P` lays out
#   P/include/varnel.h, varnel_posix.h     the C interface
#   P/lib/libVarnelSdk_Rade.so*            the library (lib/<multiarch> under /usr)
#   P/lib/pkgconfig/varnel-sdk.pc          for pkg-config --cflags --libs varnel-sdk
#   P/lib/cmake/VarnelSdk/                 for find_package(VarnelSdk): VarnelSdk::VarnelSdk
#   P/lib/gstreamer-1.0/libgstvarnel.so    the varnelsrc element (when GStreamer was found)
#   P/bin/varnelcam, varnel-camsim
#   P/share/doc/varnel-sdk/                README, guides, the udev rule and its helper
# and CPack makes the Debian package of the same tree (cpack -G DEB).
#
# Windows: the target `windows_sdk` of the win32 tree makes the SDK zip: the
# DLL, varnel.h, varnel.def, a mingw and an MSVC-style import library (both made
# from the .def file), varnelcam.exe and a short README.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VARNEL_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/varnel-sdk)

if(WIN32)
  find_program(VARNEL_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 llvm-dlltool-15)
  find_program(VARNEL_MINGW_DLLTOOL NAMES i686-w64-mingw32-dlltool)
  if(NOT VARNEL_LLVM_DLLTOOL OR NOT VARNEL_MINGW_DLLTOOL OR VARNEL_BUILD_FUZZ)
    message(STATUS "llvm-dlltool or i686-w64-mingw32-dlltool missing: no windows_sdk target")
    return()
  endif()
  set(sdk_name VarnelSdk_Rade-${PROJECT_VERSION}-win32)
  set(sdk_dir ${CMAKE_BINARY_DIR}/sdk/${sdk_name})
  set(sdk_zip ${CMAKE_BINARY_DIR}/sdk/${sdk_name}.zip)
  set(sdk_def ${PROJECT_SOURCE_DIR}/src/api/varnel.def)
  # Both import libraries come from the .def file alone, so they name exactly
  # the 118 exports of the DLL. The mingw one (libVarnelSdk_Rade.dll.a) is what
  # GNU ld expects; the MSVC-style one (VarnelSdk_Rade.lib, short import
  # format) is what link.exe and lld-link take. On i386 the cdecl names carry
  # a leading underscore in the object symbols and none in the DLL's table.
  set(sdk_files
      ${sdk_dir}/bin/VarnelSdk_Rade.dll ${sdk_dir}/bin/varnelcam.exe
      ${sdk_dir}/include/varnel.h ${sdk_dir}/lib/varnel.def
      ${sdk_dir}/lib/libVarnelSdk_Rade.dll.a ${sdk_dir}/lib/VarnelSdk_Rade.lib
      ${sdk_dir}/README.txt)
  add_custom_command(
    OUTPUT ${sdk_zip} ${sdk_files}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${sdk_dir} ${sdk_zip}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${sdk_dir}/bin ${sdk_dir}/include ${sdk_dir}/lib
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:VarnelSdk_Rade> $<TARGET_FILE:varnelcam>
            ${sdk_dir}/bin/
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/include/varnel.h ${sdk_dir}/include/
    COMMAND ${CMAKE_COMMAND} -E copy ${sdk_def} ${sdk_dir}/lib/
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/windows/README.txt
            ${sdk_dir}/
    COMMAND ${VARNEL_MINGW_DLLTOOL} --input-def ${sdk_def} --dllname VarnelSdk_Rade.dll
            --output-lib ${sdk_dir}/lib/libVarnelSdk_Rade.dll.a
    COMMAND ${VARNEL_LLVM_DLLTOOL} -m i386 -d ${sdk_def} -D VarnelSdk_Rade.dll
            -l ${sdk_dir}/lib/VarnelSdk_Rade.lib
    COMMAND ${CMAKE_COMMAND} -E chdir ${CMAKE_BINARY_DIR}/sdk ${CMAKE_COMMAND} -E tar cf
            ${sdk_zip} --format=zip ${sdk_name}
    DEPENDS VarnelSdk_Rade varnelcam ${sdk_def} ${PROJECT_SOURCE_DIR}/include/varnel.h
            ${PROJECT_SOURCE_DIR}/packaging/windows/README.txt
    COMMENT "Windows SDK zip ${sdk_name}.zip"
    VERBATIM)
  add_custom_target(windows_sdk ALL DEPENDS ${sdk_zip})
  set(VARNEL_WINDOWS_SDK_ZIP ${sdk_zip} CACHE INTERNAL "the Windows SDK zip")
  return()
endif()

if(VARNEL_BUILD_FUZZ)
  return()
endif()

# --- the library and its headers --------------------------------------------
install(TARGETS VarnelSdk_Rade EXPORT VarnelSdkTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT sdk NAMELINK_COMPONENT sdk)
install(FILES ${PROJECT_SOURCE_DIR}/include/varnel.h ${PROJECT_SOURCE_DIR}/include/varnel_posix.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT sdk)

# The imported target carries the include directory; the library's own build
# options (the object library's include paths) stay out of it.
install(EXPORT VarnelSdkTargets NAMESPACE VarnelSdk::
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/VarnelSdk COMPONENT sdk)
configure_package_config_file(
  ${PROJECT_SOURCE_DIR}/packaging/VarnelSdkConfig.cmake.in
  ${CMAKE_BINARY_DIR}/packaging/VarnelSdkConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/VarnelSdk)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/packaging/VarnelSdkConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/packaging/VarnelSdkConfig.cmake
              ${CMAKE_BINARY_DIR}/packaging/VarnelSdkConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/VarnelSdk COMPONENT sdk)

# pkg-config: paths relative to the .pc file's prefix, so that a tree
# installed anywhere (or moved) still answers with its own paths.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(VARNEL_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
else()
  set(VARNEL_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(VARNEL_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
else()
  set(VARNEL_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
set(PC_PREFIX "@PC_PREFIX@")  # filled in at install time, below
configure_file(${PROJECT_SOURCE_DIR}/packaging/varnel-sdk.pc.in
               ${CMAKE_BINARY_DIR}/packaging/varnel-sdk.pc.in @ONLY)
# The prefix is only known at install time (cmake --install --prefix).
install(CODE "
  set(pc_prefix \"\${CMAKE_INSTALL_PREFIX}\")
  file(READ \"${CMAKE_BINARY_DIR}/packaging/varnel-sdk.pc.in\" pc)
  string(REPLACE \"@PC_PREFIX@\" \"\${pc_prefix}\" pc \"\${pc}\")
  file(WRITE \"${CMAKE_BINARY_DIR}/packaging/varnel-sdk.pc\" \"\${pc}\")
" COMPONENT sdk)
install(FILES ${CMAKE_BINARY_DIR}/packaging/varnel-sdk.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT sdk)

# --- programs and documents ------------------------------------------------
if(TARGET varnelcam)
  install(TARGETS varnelcam RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT sdk)
endif()
if(TARGET varnel-camsim)
  install(TARGETS varnel-camsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT sdk)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/real-camera.md
              ${PROJECT_SOURCE_DIR}/docs/gstreamer.md ${PROJECT_SOURCE_DIR}/docs/varnelcam.md
              ${PROJECT_SOURCE_DIR}/packaging/udev/70-varnel-camera.rules
              ${PROJECT_SOURCE_DIR}/packaging/copyright
        DESTINATION ${VARNEL_DOC_DIR} COMPONENT sdk)
# Debian wants the changelog compressed, without a time stamp in the gzip
# header (so that the package is reproducible).
install(CODE "
  execute_process(COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/changelog
                  OUTPUT_FILE ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
" COMPONENT sdk)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${VARNEL_DOC_DIR}
        COMPONENT sdk)
install(PROGRAMS ${PROJECT_SOURCE_DIR}/packaging/udev/varnel-drive-link
        DESTINATION ${VARNEL_DOC_DIR} COMPONENT sdk)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${VARNEL_DOC_DIR}/examples
        COMPONENT sdk)

# --- the Debian package ------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varnel-sdk)
set(CPACK_PACKAGE_VENDOR "Varnel")
set(CPACK_PACKAGE_CONTACT "Varnel SDK developers <sdk@varnel.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "camera SDK for Varnel camera heads")
set(CPACK_PACKAGE_DESCRIPTION
    "The camera library libVarnelSdk_Rade with its C header, pkg-config and\n\
CMake files, the command-line tool varnelcam, the virtual camera head\n\
varnel-camsim and the GStreamer source element varnelsrc.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The library's directory is the linker cache's: dpkg runs ldconfig through
# its trigger.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/packaging/triggers)
file(WRITE ${CMAKE_BINARY_DIR}/packaging/triggers "activate-noawait ldconfig\n")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_IGNORE_FILES "/build/;/\\\\.git/")
include(CPack)
