#!/usr/bin/env bash
# The Debian package of the SDK: made by CPack, checked by lintian, and (as
# root, on a machine where it is not installed yet) installed with dpkg -i,
# used, and removed again without leaving a file behind.
#
# Fault caught: a package lintian finds errors in; one that does not install
# or remove cleanly; an installed library that pkg-config, GStreamer or the
# Python package cannot find without environment variables; a Python package
# that no longer honours VARNEL_LIBRARY.
#
#   debian_package.sh BUILD_DIR SOURCE_DIR
set -u
build="$1"
source="$2"
if ! command -v dpkg-deb >/dev/null 2>&1 || ! command -v dpkg-shlibdeps >/dev/null 2>&1; then
  echo "SKIP: dpkg-deb and dpkg-shlibdeps are needed (dpkg-dev)"
  exit 77
fi
work="$(mktemp -d "${TMPDIR:-/tmp}/varnel-deb.XXXXXX")"
installed=0
cleanup() {
  if [ "$installed" = 1 ]; then dpkg --purge varnel-sdk >/dev/null 2>&1; fi
  rm -rf "$work"
}
trap cleanup EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }

(cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work" >cpack.log 2>&1) || {
  cat "$work/cpack.log"; exit 1
}
deb="$(ls "$work"/*.deb | head -1)"
echo "package: $(basename "$deb")"
dpkg-deb --field "$deb" Package Version Architecture Depends | sed 's/^/  /'

if command -v lintian >/dev/null 2>&1; then
  lintian --tag-display-limit 0 "$deb" >"$work/lintian.txt" 2>&1
  echo "lintian: $(grep -c '^E:' "$work/lintian.txt") errors, $(grep -c '^W:' "$work/lintian.txt") warnings"
  sed 's/^/  /' "$work/lintian.txt"
  grep -q '^E:' "$work/lintian.txt" && fail "lintian reports errors"
else
  echo "lintian not installed: package not linted"
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "not root: dpkg -i not tried"
  exit "$status"
fi
if dpkg-query -W -f='${Status}' varnel-sdk 2>/dev/null | grep -q "install ok installed"; then
  echo "varnel-sdk is installed on this machine already: dpkg -i not tried"
  exit "$status"
fi
dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i"; exit 1; }
installed=1
echo "dpkg -i: installed $(dpkg-query -W -f='${Package} ${Version}' varnel-sdk)"
files="$(dpkg -L varnel-sdk)"
echo "pkg-config: $(pkg-config --modversion --cflags --libs varnel-sdk 2>&1 | tr '\n' ' ')"
[ "$(pkg-config --modversion varnel-sdk 2>/dev/null)" = "$(dpkg-query -W -f='${Version}' varnel-sdk)" ] ||
  fail "pkg-config does not find varnel-sdk"
if command -v gst-inspect-1.0 >/dev/null 2>&1 && echo "$files" | grep -q libgstvarnel.so; then
  GST_REGISTRY="$work/registry.bin" gst-inspect-1.0 varnelsrc >"$work/inspect.txt" 2>&1
  grep -q "Varnel camera source" "$work/inspect.txt" || fail "GStreamer does not find varnelsrc"
  echo "gst-inspect-1.0: $(grep Filename "$work/inspect.txt" | tr -s ' ')"
fi
# The Python package, from the sources: the installed library without any
# variable, and the one VARNEL_LIBRARY names when it is set.
python=/usr/bin/python3
if [ -x "$python" ]; then
  # The file the package loaded, as the process's memory map names it.
  where() {
    PYTHONPATH="$source/python" "$python" -c '
import os, varnel._lib as l
l.library()
print(next(os.path.realpath(line.split()[-1]) for line in open("/proc/self/maps")
           if "libVarnelSdk_Rade" in line))'
  }
  found="$(unset VARNEL_LIBRARY; where 2>&1)"
  echo "python, no variable: $found"
  case "$found" in /usr/*libVarnelSdk_Rade.so*) ;; *) fail "python found '$found'" ;; esac
  explicit="$(cd "$build" && ls "$PWD"/bin/libVarnelSdk_Rade.so.0.* | head -1)"
  found="$(VARNEL_LIBRARY="$explicit" where 2>&1)"
  echo "python, VARNEL_LIBRARY=$explicit: $found"
  [ "$found" = "$(realpath "$explicit")" ] || fail "python ignored VARNEL_LIBRARY"
fi
dpkg --purge varnel-sdk >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg --purge"; }
installed=0
left=""
for f in $files; do
  [ -f "$f" ] || [ -L "$f" ] && left="$left $f"
done
[ -z "$left" ] || fail "files left after removal:$left"
echo "dpkg --purge: removed, no file left"
exit "$status"
