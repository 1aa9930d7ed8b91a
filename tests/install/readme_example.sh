#!/usr/bin/env bash
# The README's C example is examples/snap.c word for word, and it checks what
# a careful application must: with no camera attached it says so and exits
# 1; on a camera (the FUSE head) it saves its picture and exits 0.
#
# Fault caught: an example that goes on without a camera and exits 0 (a call
# that returns 1 while recording an error taken for a success); a README
# example that is not the shipped one, or that does not build.
#
#   readme_example.sh SOURCE_DIR LIBRARY CAMSIM C_COMPILER
set -u
source="$1" library="$2" camsim="$3" cc="$4"
work="$(mktemp -d "${TMPDIR:-/tmp}/varnel-readme.XXXXXX")"
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}
awk '/^```c$/ { inside = 1; next } /^```$/ { if (inside) exit } inside' "$source/README.md" \
  >"$work/readme.c"
diff -u "$source/examples/snap.c" "$work/readme.c" || fail "the README's C example is not examples/snap.c"
libdir="$(dirname "$library")"
"$cc" -std=c99 -Wall -Wextra -Werror -I"$source/include" "$work/readme.c" -L"$libdir" \
  -lVarnelSdk_Rade -Wl,-rpath,"$libdir" -o "$work/snap" || fail "the example does not build"

mkdir "$work/drives"
VARNEL_DRIVES="$work/drives" VARNEL_REGISTRY="$work/settings.reg" \
  "$work/snap" 1 "$work/none.png" >"$work/out.txt" 2>"$work/err.txt"
status=$?
cat "$work/out.txt" "$work/err.txt"
[ "$status" -eq 1 ] || fail "with no camera the example exited $status, not 1"
grep -q "no camera drive attached" "$work/err.txt" || fail "with no camera the example did not say so"
[ ! -e "$work/none.png" ] || fail "with no camera the example wrote a picture"

VARNEL_REGISTRY="$work/settings.reg" bash "$source/tests/fuse/run_with_camsim.sh" "$camsim" \
  "$work/snap" 1 "$work/snap.png" >"$work/run.txt" 2>&1
status=$?
cat "$work/run.txt"
[ "$status" -eq 77 ] && exit 77
[ "$status" -eq 0 ] || fail "on the camera head the example exited $status"
[ -s "$work/snap.png" ] || fail "on the camera head the example saved no picture"
echo "PASS"
