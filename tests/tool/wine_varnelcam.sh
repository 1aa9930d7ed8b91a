#!/usr/bin/env bash
# varnelcam.exe under Wine against the FUSE camera head mapped to drive V:
# (each command gets a freshly mounted head through run_with_camsim.sh).
#
# Fault caught: a Windows build of the tool that cannot find the camera
# drive, writes no file or one other programs cannot read, or streams with
# counters that do not add up.
#
#   wine_varnelcam.sh RUNNER CAMSIM VARNELCAM_EXE
# Exit 77 (CTest skip) when FUSE or the native daemon is missing.
set -u
runner="$1" camsim="$2" exe="$3"
work="$(mktemp -d "${TMPDIR:-/tmp}/varnelcam-wine.XXXXXX")"
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}
run() {
  "$runner" --wine "$camsim" "$exe" "$@" >"$work/out.txt" 2>"$work/err.txt"
  local status=$?
  cat "$work/out.txt"
  grep -v -E '^[0-9a-f]{4}:(fixme|err|warn)' "$work/err.txt" >&2
  [ "$status" -eq 77 ] && exit 77
  return "$status"
}

# Windows paths on Wine's Z: drive, which is the Linux root.
run snap --device V: --mode 24 --subsample 2 -o "Z:$work/snap.png" || fail "snap exited $?"
[ "$(identify -format '%w %h' "$work/snap.png")" = "512 384" ] || fail "snap.png is not 512 x 384"
run snap --device V: --mode 8 --format bmp -o "Z:$work/snap.bmp" --dng "Z:$work/mosaic.dng" ||
  fail "snap --dng exited $?"
[ "$(identify -format '%w %h' "$work/snap.bmp")" = "2048 1536" ] || fail "snap.bmp is not 2048 x 1536"
tiffdump "$work/mosaic.dng" | grep -q '^Photometric (262) SHORT (3) 1<32803>' ||
  fail "mosaic.dng is no colour filter array image"

run stream --device V: --mode 8 --frames 10 || fail "stream exited $?"
line=$(grep -E 'fps +link' "$work/out.txt" | tail -n 1)
read -r read delivered dropped < <(echo "$line" |
  sed -E 's/.*read ([0-9]+) +delivered ([0-9]+) +dropped ([0-9]+).*/\1 \2 \3/')
[ "$delivered" = 10 ] || fail "delivered $delivered frames, not 10: $line"
[ "$read" -eq $((delivered + dropped)) ] || fail "counters do not add up: $line"

run snap --device Q: -o "Z:$work/none.png"
status=$?
[ "$status" -eq 3 ] || fail "a missing drive exited $status, not 3"
grep -q "no camera found at 'Q:'" "$work/err.txt" || fail "no message for the missing drive"
echo "PASS"
