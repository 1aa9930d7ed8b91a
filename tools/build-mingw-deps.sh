#!/usr/bin/env bash
# Cross-builds static libjpeg-turbo, libpng and libtiff for i686 mingw-w64 from
# Debian's own source packages, once, into a cache outside the build tree
# (VARNEL_MINGW_DEPS, default ~/.cache/varnel/mingw-deps). Debian ships no mingw
# builds of them; zlib comes from libz-mingw-w64-dev.
set -euo pipefail

here="$(cd "$(dirname "$0")/.." && pwd)"
prefix="${VARNEL_MINGW_DEPS:-$HOME/.cache/varnel/mingw-deps}"
stamp="$prefix/.complete-v1"
if [ -f "$stamp" ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

work="$(dirname "$prefix")/mingw-src"
mkdir -p "$work" "$prefix"
cd "$work"

have_tarballs() {
  ls libjpeg-turbo_*.orig.tar.* >/dev/null 2>&1 &&
    ls libpng1.6_*.orig.tar.* >/dev/null 2>&1 &&
    ls tiff_*.orig.tar.* >/dev/null 2>&1
}

if ! have_tarballs; then
  if [ ! -f /etc/apt/sources.list.d/debian-src.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      $SUDO tee /etc/apt/sources.list.d/debian-src.sources >/dev/null
  fi
  $SUDO apt-get update -qq
  # Some security-pool files may be missing while the upstream tarballs arrive:
  # the tarballs decide, not the exit code.
  apt-get source --download-only libjpeg-turbo libpng1.6 tiff >/dev/null 2>&1 || true
  have_tarballs || { echo "build-mingw-deps: source tarballs missing" >&2; exit 1; }
fi

toolchain="$here/cmake/mingw-i686.cmake"
build_one() {
  local tarball="$1"; shift
  local dir
  dir="$(tar tf "$tarball" | sed -n 1p | cut -d/ -f1)"
  rm -rf "$dir" "build-$dir"
  tar xf "$tarball"
  cmake -S "$dir" -B "build-$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DCMAKE_CROSSCOMPILING_EMULATOR= "$@" >/dev/null
  cmake --build "build-$dir" >/dev/null
  cmake --install "build-$dir" >/dev/null
  rm -rf "$dir" "build-$dir"
}

export VARNEL_MINGW_DEPS="$prefix"
echo "build-mingw-deps: building into $prefix"
build_one "$(ls libjpeg-turbo_*.orig.tar.* | head -1)" -DENABLE_SHARED=OFF
build_one "$(ls libpng1.6_*.orig.tar.* | head -1)" -DPNG_SHARED=OFF -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF
build_one "$(ls tiff_*.orig.tar.* | head -1)" -DBUILD_SHARED_LIBS=OFF -Dtiff-tools=OFF \
  -Dtiff-tests=OFF -Dtiff-docs=OFF -Dtiff-contrib=OFF -Djbig=OFF -Dlzma=OFF -Dzstd=OFF \
  -Dwebp=OFF -Dlerc=OFF -Dlibdeflate=OFF -Dpixarlog=OFF -Djpeg=OFF -Dzlib=OFF
touch "$stamp"
echo "build-mingw-deps: done"
