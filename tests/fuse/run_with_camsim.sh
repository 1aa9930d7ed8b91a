#!/usr/bin/env bash
# Runs a test program against a freshly mounted varnel-camsim and unmounts it
# afterwards, whatever the test's outcome.
#
#   run_with_camsim.sh [--wine] CAMSIM PROGRAM [ARGS...]
#
# Native: the mount gets a private drives directory (VARNEL_DRIVES) with the
# letter's two entries. --wine: the entries go into the Wine prefix's
# dosdevices instead, the library's settings key in the prefix is cleared,
# and PROGRAM runs through cmake/wine-run.sh.
# The test program learns the letter from VARNEL_CAMSIM_LETTER and the mount
# from VARNEL_CAMSIM_MOUNT. Exit 77 (skip) when the daemon or FUSE is missing.
set -u

wine=0
if [ "${1:-}" = "--wine" ]; then
  wine=1
  shift
fi
camsim="${1:-}"
shift || true
if [ -z "$camsim" ] || [ ! -x "$camsim" ]; then
  echo "SKIP: varnel-camsim not found at '${camsim}' (build the native tree, or set VARNEL_CAMSIM)"
  exit 77
fi
if [ ! -e /dev/fuse ] || ! command -v fusermount3 >/dev/null 2>&1; then
  echo "SKIP: FUSE is not available on this machine"
  exit 77
fi

letter="${VARNEL_CAMSIM_LETTER:-v}"
work="$(mktemp -d "${TMPDIR:-/tmp}/varnel-camsim.XXXXXX")"
mnt="$work/mnt"
mkdir -p "$mnt"
pid=""

cleanup() {
  if [ -n "$pid" ]; then
    kill -TERM "$pid" 2>/dev/null
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  fi
  if mountpoint -q "$mnt"; then
    fusermount3 -u "$mnt" 2>/dev/null || fusermount3 -uz "$mnt" 2>/dev/null
  fi
  # Never remove anything while something is still mounted below it.
  if ! mountpoint -q "$mnt"; then
    rm -rf "$work"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ "$wine" = 1 ]; then
  # The same prefix wine-run.sh will run the program in.
  # shellcheck source=cmake/wine-prefix.sh
  . "$(dirname "$0")/../../cmake/wine-prefix.sh"
  varnel_wine_prefix "$1"
  drives="$WINEPREFIX/dosdevices"
else
  drives="$work/drives"
  mkdir -p "$drives"
  export VARNEL_DRIVES="$drives"
fi

"$camsim" ${VARNEL_CAMSIM_ARGS:-} --link "$drives:$letter" "$mnt" &
pid=$!
for _ in $(seq 100); do
  if [ -e "$drives/$letter::" ] && mountpoint -q "$mnt"; then
    break
  fi
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "varnel-camsim exited before mounting"
    pid=""
    exit 1
  fi
  sleep 0.1
done
if ! mountpoint -q "$mnt"; then
  echo "varnel-camsim did not mount $mnt"
  exit 1
fi

export VARNEL_CAMSIM_LETTER="$letter"
export VARNEL_CAMSIM_MOUNT="$mnt"
if [ "$wine" = 1 ]; then
  # The program starts on the settings a new user gets, as a native run starts
  # on a store of its own: the FUSE tests share this prefix's registry, and
  # what one program saved (the mirrors and gains a trigger test left behind)
  # would otherwise be the next one's settings. Only now that the drive's
  # links exist: Wine reads the drives when its server starts.
  wine reg delete 'HKCU\Software\Holvik\VarnelRadeSdk' /f >/dev/null 2>&1 || true
  "$(dirname "$0")/../../cmake/wine-run.sh" "$@"
else
  "$@"
fi
