#!/usr/bin/env bash
# Four cameras at once through the shipped library, natively (the shared
# object) and as the 32-bit DLL under Wine, in turns, against the same four
# varnel-camsim heads (HXA1, HXB2, HZF6, HZG7 at their pixel clock's rate),
# served by one daemon: each camera in 24-bit colour at its full size, on
# the settings a new user gets (a fresh store each run). Prints every run's
# lines of varnel_four_cameras (per camera: the head's rate, the rate
# delivered, their ratio, frames read, delivered and dropped; the process's
# memory) with the one-minute load average before each run.
#
# Usage: bench/run-four-heads.sh [ROUNDS] [SECONDS]
# Needs build/native/bin/{varnel-camsim,varnel_four_cameras} and
# build/win32/bin/{varnel_four_cameras.exe,VarnelSdk_Rade.dll}.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds="${1:-2}"
seconds="${2:-20}"

camsim=build/native/bin/varnel-camsim
native=build/native/bin/varnel_four_cameras
windows=build/win32/bin/varnel_four_cameras.exe
for p in "$camsim" "$native" "$windows"; do
  [ -e "$p" ] || { echo "missing $p: build it first" >&2; exit 1; }
done

# shellcheck source=cmake/wine-prefix.sh
. cmake/wine-prefix.sh
varnel_wine_prefix "$windows"

work="$(mktemp -d "${TMPDIR:-/tmp}/varnel-four-heads.XXXXXX")"
pid=""
cleanup() {
  if [ -n "$pid" ]; then
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  for m in "$work"/m?; do
    if mountpoint -q "$m"; then fusermount3 -uz "$m" 2>/dev/null || true; fi
  done
  rm -rf "$work"
}
trap cleanup EXIT

# One daemon, four mounts; each linked into the Wine prefix by the daemon and
# into a drives directory of this run's own for the native library.
models=(HXA1 HXB2 HZF6 HZG7)
types=(1 2 7 8)
letters=(k l m n)
mkdir -p "$work/drives"
args=()
cameras=()
for i in 0 1 2 3; do
  mkdir -p "$work/m$i"
  args+=(--model "${models[$i]}" --link "$WINEPREFIX/dosdevices:${letters[$i]}" "$work/m$i")
  cameras+=("${letters[$i]^^}:${types[$i]}")
done
"$camsim" "${args[@]}" 2>"$work/camsim.err" &
pid=$!
for _ in $(seq 100); do
  [ -e "$WINEPREFIX/dosdevices/n::" ] && mountpoint -q "$work/m3" && break
  sleep 0.1
done
for i in 0 1 2 3; do
  ln -s "$work/m$i" "$work/drives/${letters[$i]}:"
  ln -s "$work/m$i/volume" "$work/drives/${letters[$i]}::"
done

for ((r = 1; r <= rounds; ++r)); do
  echo "round $r native, load $(cut -d' ' -f1 /proc/loadavg)"
  rm -f "$work/settings.reg"
  VARNEL_DRIVES="$work/drives" VARNEL_REGISTRY="$work/settings.reg" \
    "$native" --seconds "$seconds" "${cameras[@]}" | sed 's/^/  native /'
  echo "round $r wine, load $(cut -d' ' -f1 /proc/loadavg)"
  wine reg delete 'HKCU\Software\Holvik\VarnelRadeSdk' /f >/dev/null 2>&1 || true
  wine "$windows" --seconds "$seconds" "${cameras[@]}" | tr -d '\r' | sed 's/^/  wine   /'
done
