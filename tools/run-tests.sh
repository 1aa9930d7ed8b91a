#!/usr/bin/env bash
# Builds every tree and runs every test: the native suite, the same suite under
# AddressSanitizer/UndefinedBehaviorSanitizer, the threaded tests under
# ThreadSanitizer, the cross-built 32-bit suite under Wine (with a display
# for the window and dialog tests, and a fresh Wine prefix so the registry
# starts clean), and the fuzz targets for a fixed number of inputs each.
# Installs what it needs first. The long soak is not run here (see README).
#
# The trees are built one after the other (each build uses every core), and
# each tree's suite starts as soon as its tree is built, beside the next
# build: the suites spend most of their time waiting for paced frames and for
# Wine, so they cost the builds little. Tests that change the machine itself
# (label "system": the Debian package's dpkg -i) run alone at the end.
# Each build's and suite's wall time is printed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

started=$SECONDS
logs=build/logs
step_names=()
step_seconds=()
step_results=()
record() {  # NAME SECONDS RESULT
  step_names+=("$1")
  step_seconds+=("$2")
  step_results+=("$3")
}
minutes() { printf '%d:%02d' $(($1 / 60)) $(($1 % 60)); }

s=$SECONDS
tools/setup-deps.sh
record "set-up" $((SECONDS - s)) "ok"

rm -rf "$logs"
mkdir -p "$logs"
presets=(native win32 native-asan native-tsan fuzz)

# Configuring is mostly single-threaded work (and compiler checks): all five
# at once.
s=$SECONDS
configure_pids=()
for preset in "${presets[@]}"; do
  cmake --preset "$preset" >"$logs/configure-$preset.log" 2>&1 &
  configure_pids+=($!)
done
for i in "${!presets[@]}"; do
  if ! wait "${configure_pids[$i]}"; then
    cat "$logs/configure-${presets[$i]}.log"
    exit 1
  fi
done
record "configure (5 trees)" $((SECONDS - s)) "ok"

# Windows, dialogs and the preview need an X display under Wine.
xvfb_pid=""
suite_pids=()
cleanup() {
  for pid in "${suite_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  for prefix in build/win32/wineprefix build/win32/wineprefix-fuse; do
    WINEPREFIX="$PWD/$prefix" wineserver -k 2>/dev/null || true
  done
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  # A display of its own: Xvfb picks a free number and writes it to fd 3.
  exec 3>"$logs/display"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >"$logs/xvfb.log" 2>&1 &
  xvfb_pid=$!
  exec 3>&-
  for _ in $(seq 300); do
    [ -s "$logs/display" ] && break
    sleep 0.1
  done
  [ -s "$logs/display" ] || { echo "Xvfb did not start"; cat "$logs/xvfb.log"; exit 1; }
  export DISPLAY=":$(head -n1 "$logs/display")"
fi
rm -rf build/win32/wineprefix*

# A suite in the background: its output goes to its log, its exit status and
# wall time to a result file read at the end.
start_suite() {
  local preset="$1"
  (
    s=$SECONDS
    rc=0
    ctest --preset "$preset" -j2 -LE '^system$' >"$logs/ctest-$preset.log" 2>&1 || rc=$?
    echo "$rc $((SECONDS - s))" >"$logs/ctest-$preset.result"
  ) &
  suite_pids+=($!)
}

for preset in "${presets[@]}"; do
  echo "=== build $preset"
  s=$SECONDS
  if ! cmake --build --preset "$preset"; then
    record "build $preset" $((SECONDS - s)) "FAILED"
    echo "build $preset failed"
    exit 1
  fi
  record "build $preset" $((SECONDS - s)) "ok"
  echo "=== ctest --preset $preset (in the background: $logs/ctest-$preset.log)"
  start_suite "$preset"
done

echo "=== waiting for the suites"
for pid in "${suite_pids[@]}"; do wait "$pid" || true; done
suite_pids=()

status=0
for preset in "${presets[@]}"; do
  read -r rc seconds <"$logs/ctest-$preset.result" || { rc=1; seconds=0; }
  passed="$(grep -E 'tests passed' "$logs/ctest-$preset.log" | tail -1)"
  if [ "$rc" -eq 0 ]; then
    record "ctest $preset" "$seconds" "$passed"
  else
    record "ctest $preset" "$seconds" "FAILED: $passed"
    echo
    echo "=== ctest --preset $preset FAILED; its log:"
    cat "$logs/ctest-$preset.log"
    status=1
  fi
done

# Alone, now that nothing else runs: tests that install into the machine.
s=$SECONDS
if ctest --preset native -L '^system$' >"$logs/ctest-system.log" 2>&1; then
  record "ctest native, system tests" $((SECONDS - s)) \
    "$(grep -E 'tests passed|No tests were found' "$logs/ctest-system.log" | tail -1)"
else
  record "ctest native, system tests" $((SECONDS - s)) "FAILED"
  cat "$logs/ctest-system.log"
  status=1
fi

echo
echo "=== summary (wall time; suites overlap the builds after theirs)"
for i in "${!step_names[@]}"; do
  printf '%-28s %6s  %s\n' "${step_names[$i]}" "$(minutes "${step_seconds[$i]}")" "${step_results[$i]}"
done
printf '%-28s %6s\n' "total" "$(minutes $((SECONDS - started)))"
exit "$status"
