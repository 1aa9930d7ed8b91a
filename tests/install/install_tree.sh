#!/usr/bin/env bash
# The installed SDK as an application author meets it: `cmake --install` into
# a fresh prefix, the sample application built against that tree with
# pkg-config and with CMake's find_package, both run against a FUSE camera
# head, and the installed GStreamer plugin inspected.
#
# Fault caught: a missing header, library, pkg-config or CMake file; a .pc
# or CMake package that names the build tree instead of the installed one;
# an installed library or plugin that only loads with LD_LIBRARY_PATH.
#
#   install_tree.sh BUILD_DIR SOURCE_DIR
set -u
build="$1"
source="$2"
work="$(mktemp -d "${TMPDIR:-/tmp}/varnel-install.XXXXXX")"
trap 'rm -rf "$work"' EXIT
prefix="$work/sdk"
status=0
fail() { echo "FAIL: $*"; status=1; }

cmake --install "$build" --prefix "$prefix" >"$work/install.log" || {
  cat "$work/install.log"; exit 1
}
echo "installed into $prefix:"
(cd "$prefix" && find . -type f -o -type l | sort | sed 's/^/  /')
for f in include/varnel.h include/varnel_posix.h lib/libVarnelSdk_Rade.so lib/libVarnelSdk_Rade.so.0 \
  lib/pkgconfig/varnel-sdk.pc lib/cmake/VarnelSdk/VarnelSdkConfig.cmake bin/varnelcam \
  bin/varnel-camsim share/doc/varnel-sdk/README.md share/doc/varnel-sdk/70-varnel-camera.rules; do
  [ -e "$prefix/$f" ] || fail "$f not installed"
done
if grep -rq "$build" "$prefix/lib/pkgconfig" "$prefix/lib/cmake"; then
  fail "the pkg-config or CMake files name the build tree"
fi

# The pkg-config consumer (the example's Makefile) and the CMake consumer.
cp -r "$source/examples" "$work/app"
PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs varnel-sdk
PKG_CONFIG_PATH="$prefix/lib/pkgconfig" make -s -C "$work/app" snap >"$work/make.log" 2>&1 || {
  cat "$work/make.log"; fail "pkg-config build"
}
cmake -S "$work/app" -B "$work/app-cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  >"$work/cmake.log" 2>&1 && cmake --build "$work/app-cmake" >>"$work/cmake.log" 2>&1 || {
  cat "$work/cmake.log"; fail "CMake build"
}

# Both run against the installed camera head; no LD_LIBRARY_PATH.
unset LD_LIBRARY_PATH
export VARNEL_REGISTRY="$work/settings.reg"
for app in "$work/app/snap" "$work/app-cmake/snap"; do
  [ -x "$app" ] || continue
  out="$work/$(basename "$(dirname "$app")").png"
  if bash "$source/tests/fuse/run_with_camsim.sh" "$prefix/bin/varnel-camsim" "$app" 1 "$out" \
    >"$work/run.log" 2>&1; then
    sed 's/^/  /' "$work/run.log"
    [ -s "$out" ] || fail "$app saved no picture"
  else
    cat "$work/run.log"; fail "$app did not run"
  fi
done

# The installed plugin, found by GStreamer's inspector; it finds the
# installed library by itself.
plugin_dir="$(cd "$prefix" && find . -name libgstvarnel.so -printf '%h\n' | head -1)"
if [ -z "$plugin_dir" ]; then
  echo "no GStreamer plugin installed (built without GStreamer)"
elif command -v gst-inspect-1.0 >/dev/null 2>&1; then
  GST_REGISTRY="$work/registry.bin" GST_PLUGIN_PATH="$prefix/$plugin_dir" \
    gst-inspect-1.0 varnelsrc >"$work/inspect.txt" 2>&1 || true
  grep -E "Long-name|Filename|frames-dropped" "$work/inspect.txt" | sed 's/^/  /'
  grep -q "Varnel camera source" "$work/inspect.txt" || {
    cat "$work/inspect.txt"; fail "gst-inspect-1.0 does not show varnelsrc"
  }
fi
[ "$status" = 0 ] && echo "install tree: consumers built with pkg-config and CMake and ran"
exit "$status"
