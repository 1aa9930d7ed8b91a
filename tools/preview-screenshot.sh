#!/usr/bin/env bash
# Takes screenshots of the preview window under Wine on a virtual X display:
# a top-level window and a child window inside an application window, each
# showing live frames of the in-process virtual head; then of the library's
# dialogs in English and Japanese, on the settings a new user gets.
#
#   tools/preview-screenshot.sh [OUTPUT_DIR] [DISPLAY_NUMBER]
#
# Needs the win32 tree built with the preview_demo target
# (cmake --build --preset win32 --target preview_demo), Xvfb, xwd,
# ImageMagick and, for the Japanese dialogs, fonts-noto-cjk. Writes
# preview-top-level.png, preview-child.png and dialog-*-en.png,
# dialog-*-ja.png.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$root/docs/images}"
number="${2:-$((90 + RANDOM % 100))}"
demo="$root/build/win32/bin/preview_demo.exe"
[ -x "$demo" ] || { echo "build the preview_demo target of the win32 preset first" >&2; exit 1; }
mkdir -p "$out"

# A display of our own, unless one already answers on that number.
xvfb=""
if [ ! -e "/tmp/.X11-unix/X$number" ]; then
  Xvfb ":$number" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  sleep 1
fi
trap '[ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true' EXIT
export DISPLAY=":$number"

# A Wine prefix of its own, where Wine draws the window frames itself (there
# is no window manager on the virtual display to draw them), so that the
# screenshots show the captions.
export WINEPREFIX="$root/build/win32/wineprefix-screenshots"
. "$root/cmake/wine-prefix.sh"
varnel_wine_prefix "$demo"
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
shoot() {  # NAME DEMO_ARGUMENTS...: the screen while the demo runs
  local name="$1"
  shift
  # The settings a new user gets: no store left from an earlier run.
  wine reg delete 'HKCU\Software\Holvik\VarnelRadeSdk' /f >/dev/null 2>&1 || true
  "$root/cmake/wine-run.sh" "$demo" "$@" >/dev/null 2>&1 &
  local demo_pid=$!
  sleep 6
  xwd -root -display "$DISPLAY" -out "$out/.shot.xwd"
  convert "$out/.shot.xwd" -trim +repage "$out/$name"
  rm -f "$out/.shot.xwd"
  wait "$demo_pid"
}
shoot preview-top-level.png top-level 8
shoot preview-child.png child 8
echo "wrote $out/preview-top-level.png and $out/preview-child.png"

for language in en ja; do
  if [ "$language" = ja ]; then
    export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
  fi
  shoot "dialog-camera-$language.png" dialog camera 8
  shoot "dialog-image-$language.png" dialog image 8
  shoot "dialog-image-mono-$language.png" dialog image 8 8
  shoot "dialog-gray-$language.png" dialog gray 8 8
  shoot "dialog-analog-$language.png" dialog analog 8
done
echo "wrote the dialogs' screenshots to $out"
