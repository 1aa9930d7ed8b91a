#!/usr/bin/env bash
# A camera head as a block device: a loop device with direct I/O over the FUSE
# head's volume file stands where /dev/sdX stands for a real head. The udev
# helper gives it a drive letter; varnelcam must list it, exchange registers
# with it and stream from it.
#
# Fault caught: a block device taken for a disk with a file system (not
# listed); a block device read through the page cache (a register read
# answered from a stale copy of the control sector, so the value written
# does not come back); misaligned direct transfers (EINVAL on every read).
#
#   block_device.sh RUN_WITH_CAMSIM CAMSIM VARNELCAM DRIVE_LINK
# Exit 77 (CTest skip) when loop devices cannot be set up here (not root, no
# losetup or loop driver).
set -u
if [ "${1:-}" = "--inside" ]; then
  shift
  varnelcam="$1"
  link="$2"
  work="$(mktemp -d "${TMPDIR:-/tmp}/varnel-blockdev.XXXXXX")"
  loop=""
  cleanup() {
    [ -n "$loop" ] && losetup -d "$loop" 2>/dev/null
    rm -rf "$work"
  }
  trap cleanup EXIT
  loop="$(losetup --find --show --direct-io=on "$VARNEL_CAMSIM_MOUNT/volume")" || {
    echo "FAIL: losetup could not attach the head's volume"
    exit 1
  }
  losetup --list "$loop"
  export VARNEL_DRIVES="$work/drives" VARNEL_REGISTRY="$work/settings.reg"
  letter="$(sh "$link" add "$loop" "$VARNEL_DRIVES")" || exit 1
  drive="$(echo "$letter" | tr a-z A-Z):"
  echo "drive-link gave $loop the letter $drive"
  ls -l "$VARNEL_DRIVES"
  status=0
  "$varnelcam" list | tee "$work/list.txt"
  grep -q "  0  $drive" "$work/list.txt" || { echo "FAIL: $drive not listed"; status=1; }
  # Exposure (register 0x09 of the HXA1 head): each value written must come
  # back, which a cached control sector would not give.
  for value in 0x0123 0x0456; do
    "$varnelcam" reg write 0x09 "$value" --device "$drive" >/dev/null || status=1
    read_back="$("$varnelcam" reg read 0x09 --device "$drive")" || status=1
    echo "$read_back"
    case "$read_back" in
      *"= $(printf '0x%04X' "$value")"*) ;;
      *) echo "FAIL: wrote $value, read '$read_back'"; status=1 ;;
    esac
  done
  "$varnelcam" stream --device "$drive" --subsample 2 --frames 20 | tee "$work/stream.txt" ||
    status=1
  grep -q "stream: 20 frames delivered" "$work/stream.txt" || { echo "FAIL: stream"; status=1; }
  "$varnelcam" snap --device "$drive" --mode 24 -o "$work/frame.png" || status=1
  sh "$link" remove "$loop" "$VARNEL_DRIVES"
  if [ -e "$VARNEL_DRIVES/$letter::" ] || [ -L "$VARNEL_DRIVES/$letter::" ]; then
    echo "FAIL: drive-link remove left $letter:: behind"
    status=1
  fi
  exit "$status"
fi

runner="$1"
camsim="$2"
varnelcam="$3"
link="$4"
if [ "$(id -u)" -ne 0 ] || ! command -v losetup >/dev/null 2>&1 || [ ! -e /dev/loop-control ]; then
  echo "SKIP: loop devices need root, losetup and the loop driver (/dev/loop-control)"
  exit 77
fi
exec bash "$runner" "$camsim" bash "$0" --inside "$varnelcam" "$link"
