# Cross-compilation to 32-bit Windows with mingw-w64 (posix thread model, so
# std::thread and friends work). The static builds of libjpeg-turbo, libpng and
# libtiff come from tools/build-mingw-deps.sh, cached outside the build tree.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

if(DEFINED ENV{VARNEL_MINGW_DEPS})
  set(VARNEL_MINGW_DEPS "$ENV{VARNEL_MINGW_DEPS}")
else()
  set(VARNEL_MINGW_DEPS "$ENV{HOME}/.cache/varnel/mingw-deps")
endif()
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32 ${VARNEL_MINGW_DEPS})
set(CMAKE_PREFIX_PATH ${VARNEL_MINGW_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Static libraries only: nothing the DLL imports may be a non-system DLL.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)

# CTest runs the cross-built test programs under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
