#!/usr/bin/env bash
# Builds every tree and runs every test: the native suite, the same suite under
# AddressSanitizer/UndefinedBehaviorSanitizer, the threaded tests under
# ThreadSanitizer, the cross-built 32-bit suite under Wine (with a display
# for the window and dialog tests, and a fresh Wine prefix so the registry
# starts clean), and the fuzz targets for a fixed number of inputs each.
# Installs what it needs first. The long soak is not run here (see README).
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup-deps.sh

status=0
summary=()
run_suite() {
  local preset="$1"
  echo "=== ctest --preset $preset"
  if ctest --preset "$preset" 2>&1 | tee "build/ctest-$preset.log"; then
    summary+=("$preset: $(grep -E 'tests passed' "build/ctest-$preset.log" | tail -1)")
  else
    summary+=("$preset: FAILED $(grep -E 'tests passed' "build/ctest-$preset.log" | tail -1)")
    status=1
  fi
}

mkdir -p build
for preset in native native-asan native-tsan win32 fuzz; do
  echo "=== build $preset"
  cmake --preset "$preset" >"build/configure-$preset.log" 2>&1 || {
    cat "build/configure-$preset.log"
    exit 1
  }
  cmake --build --preset "$preset"
done

# Windows, dialogs and the preview need an X display under Wine.
xvfb_pid=""
cleanup() {
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  wineserver -k 2>/dev/null || true
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  display=":$((90 + RANDOM % 100))"
  Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY="$display"
  sleep 1
fi

rm -rf build/win32/wineprefix build/win32/wineprefix.lock
run_suite native
run_suite native-asan
run_suite native-tsan
run_suite win32
run_suite fuzz

echo
echo "=== summary"
printf '%s\n' "${summary[@]}"
exit "$status"
