# shellcheck shell=bash
# The Wine set-up of the cross-built programs, sourced (not run) by
# cmake/wine-run.sh and tests/fuse/run_with_camsim.sh, which must agree on the
# prefix: the FUSE runner links the camera drive into the prefix's dosdevices
# before wine-run.sh starts the program in it.
#
# varnel_wine_prefix PROGRAM exports WINEARCH, WINEDEBUG and WINEPREFIX. The
# prefix defaults to one beside PROGRAM's build tree so test runs never touch
# the user's own; it is created on first use, under a lock because CTest may
# start several programs at once.
varnel_wine_prefix() {
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
      # The test display has no window manager. Wine's managed top-level
      # windows wait up to two seconds for one to confirm each hide (every
      # dialog's ending, every preview window's teardown); unmanaged windows
      # are hidden at once and draw the same.
      wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
      wineserver -w || true
    fi
  ) 9>"$WINEPREFIX.lock"
}
