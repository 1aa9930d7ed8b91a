#!/usr/bin/env bash
# Runs a cross-built Windows program under Wine (CTest's cross-compiling
# emulator). The prefix defaults to one beside the build tree so test runs never
# touch the user's own; it is created on first use, under a lock because CTest
# may start several programs at once.
set -eu
export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX="${VARNEL_WINEPREFIX:-$(dirname "$(realpath "$1")")/../wineprefix}"
fi
mkdir -p "$(dirname "$WINEPREFIX")"
(
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
  fi
) 9>"$WINEPREFIX.lock"
prog="$1"
shift
case "$prog" in
  /*) ;;
  *) prog="./$prog" ;;
esac
exec wine "$prog" "$@"
