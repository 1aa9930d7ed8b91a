#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the benchmarks
# need, then cross-builds libjpeg-turbo, libpng and libtiff for mingw-w64 into
# a cache outside the build tree. Safe to run again: it installs only what is
# missing and rebuilds the cache only when it is incomplete.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

packages=(
  cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev
  libjpeg62-turbo-dev libpng-dev libtiff-dev libfuse3-dev fuse3
  g++-mingw-w64-i686-posix libz-mingw-w64-dev nasm
  wine wine32:i386 xvfb x11-apps imagemagick locales fonts-noto-cjk
  libopencv-imgproc-dev clang-format git ca-certificates dpkg-dev
  clang libclang-rt-14-dev
  pngcheck libtiff-tools ccache
)
# varnelcam's live viewer, and the Python package with its tests.
packages+=(libsdl2-dev dbus-bin python3-numpy python3-pytest python3-pip python3-setuptools)
# The GStreamer element varnelsrc and its tests (the harness in the core dev
# package), varnelcam serve (RTSP server), the stock elements the tests and
# the README's pipelines use (videoconvert, jpegenc, rtspsrc, ...) and
# gst-launch-1.0 with the X window sinks; the Debian package's lint; llvm-dlltool for the Windows
# SDK's MSVC-style import library.
packages+=(libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev libgstrtspserver-1.0-dev
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-x lintian llvm)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup-deps: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The Japanese dialog captions need the locale generated.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$'; then
  $SUDO sed -i 's/^# *ja_JP.UTF-8/ja_JP.UTF-8/' /etc/locale.gen
  $SUDO locale-gen >/dev/null
fi

"$(dirname "$0")/build-mingw-deps.sh"
