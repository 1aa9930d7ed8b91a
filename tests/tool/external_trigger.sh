#!/usr/bin/env bash
# varnelcam trigger --external against the FUSE head, which fires five
# triggers at a steady 10 Hz each time a program arms it for triggers
# (varnel-camsim --trigger-rate), natively or as varnelcam.exe under Wine.
#
# Fault caught: outside triggers that give no frames, frames counted twice or
# not at all, a summary without the latency (the frames' trigger time not
# read), or a latency read on another clock than the head stamped with (two
# clocks that disagree give minutes or hours).
#
#   external_trigger.sh RUNNER CAMSIM VARNELCAM [--wine]
# Exit 77 (CTest skip) when FUSE or the daemon is missing.
set -u
runner="$1" camsim="$2" tool="$3" wine="${4:-}"
work="$(mktemp -d "${TMPDIR:-/tmp}/varnelcam-trigger.XXXXXX")"
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}

VARNEL_CAMSIM_ARGS="--trigger-rate 10:5" "$runner" $wine "$camsim" "$tool" trigger --external \
  --device V: --frames 5 --mode 8 --window 256x64 >"$work/out.txt" 2>"$work/err.txt"
status=$?
cat "$work/out.txt"
grep -v -E '^[0-9a-f]{4}:(fixme|err|warn)|^varnel-camsim: serving|not mounted$' "$work/err.txt" >&2
[ "$status" -eq 77 ] && exit 77
[ "$status" -eq 0 ] || fail "varnelcam trigger --external exited $status"
line=$(grep '^trigger: ' "$work/out.txt" | tr -d '\r')
pattern='^trigger: 5 of 5 frames received, latency median ([0-9.]+) ms, p99 ([0-9.]+) ms, max ([0-9.]+) ms$'
[[ "$line" =~ $pattern ]] || fail "no summary with five frames and their latency: '$line'"
awk -v max="${BASH_REMATCH[3]}" 'BEGIN { exit !(max < 60000) }' ||
  fail "a latency of ${BASH_REMATCH[3]} ms: the tool and the head read different clocks"
echo "PASS"
