#!/usr/bin/env bash
# varnelcam view under a virtual X display: the window must show exactly the
# picture the tool saves when it closes.
#
# Fault caught: a viewer that shows red and blue swapped, an upside-down or
# stale picture, or one scaled when it fits the screen.
#
#   view_screenshot.sh VARNELCAM
# Exit 77 (CTest skip) when Xvfb, xwd or ImageMagick is missing.
set -u
varnelcam="$1"
for tool in Xvfb xwd convert; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed"
    exit 77
  fi
done

work="$(mktemp -d "${TMPDIR:-/tmp}/varnelcam-view.XXXXXX")"
xvfb_pid=""
view_pid=""
cleanup() {
  [ -n "$view_pid" ] && kill "$view_pid" 2>/dev/null && wait "$view_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# A display of its own: Xvfb picks a free number and writes it to fd 3.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 300); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
if [ ! -s "$work/display" ]; then
  echo "FAIL: Xvfb did not start"; cat "$work/xvfb.log"; exit 1
fi
export DISPLAY=":$(head -n1 "$work/display")"
export VARNEL_DRIVES="$work/drives" VARNEL_REGISTRY="$work/settings.reg"
mkdir -p "$VARNEL_DRIVES"

# A desktop session has a session bus, which SDL connects to. Without one,
# libdbus tries to start a bus through X11 and, when that fails, leaks its
# read buffer (seen under LeakSanitizer): give the viewer a bus of its own.
session=()
if command -v dbus-run-session >/dev/null 2>&1; then session=(dbus-run-session --); fi

# A 320 x 240 window at the screen's corner (no window manager: no frame).
"${session[@]}" "$varnelcam" view --virtual HXA1 --window 320x240+512+0 --at 0,0 --frames 10 \
  --save "$work/saved.png" --hold >"$work/view.log" 2>&1 &
view_pid=$!
for _ in $(seq 600); do
  grep -q "frames shown" "$work/view.log" 2>/dev/null && break
  kill -0 "$view_pid" 2>/dev/null || break
  sleep 0.1
done
if ! grep -q "frames shown" "$work/view.log"; then
  echo "FAIL: the viewer did not show its frames"; cat "$work/view.log"; exit 1
fi
sleep 0.5  # the X server draws what the last present sent
xwd -root -display "$DISPLAY" -out "$work/screen.xwd" || exit 1
# End the viewer as Ctrl-C at its terminal would (under dbus-run-session it is
# that process's child): it stops the camera and exits with 130.
viewer="$view_pid"
if [ "${#session[@]}" -gt 0 ]; then viewer="$(pgrep -P "$view_pid" -x varnelcam)"; fi
[ -n "$viewer" ] || fail_viewer=1
if [ -n "${fail_viewer:-}" ]; then echo "FAIL: the viewer process is gone"; exit 1; fi
kill -INT "$viewer"
wait "$view_pid"
status=$?
view_pid=""
if [ "$status" -ne 130 ]; then
  echo "FAIL: view exited $status after Ctrl-C, not 130"; cat "$work/view.log"; exit 1
fi

convert "$work/screen.xwd" -crop 320x240+0+0 +repage -depth 8 "rgb:$work/screen.rgb" || exit 1
convert "$work/saved.png" -depth 8 "rgb:$work/saved.rgb" || exit 1
if ! cmp -s "$work/screen.rgb" "$work/saved.rgb"; then
  echo "FAIL: the window does not show the saved picture"
  cmp -l "$work/screen.rgb" "$work/saved.rgb" | head -5
  exit 1
fi
# A blank window would match a blank picture: the scene has colour bars.
colours=$(convert "$work/saved.png" -format %k info:)
if [ "$colours" -lt 3 ]; then
  echo "FAIL: the saved picture has $colours colours"; exit 1
fi
echo "PASS: window and saved picture agree ($colours colours)"
