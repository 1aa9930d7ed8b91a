#!/usr/bin/env bash
# Times the frame pipeline in the native build and in the 32-bit Windows build
# under Wine, in turns (so that both see the same load), and prints per case
# the median processor milliseconds per frame of each, their ratio and the
# sata_x of each (varnel_pipeline_timing counts processor time, not wall
# time; see its header).
#
# Usage: bench/run-pipeline-timing.sh [ROUNDS] [-- program options]
# Needs build/native/bin/varnel_pipeline_timing and
# build/win32/bin/varnel_pipeline_timing.exe (cmake --build --preset native
# --target varnel_pipeline_timing, and likewise for win32). Each round runs
# each program once with its options (default: --repetitions 3 --min-time
# 0.3); the medians are over every repetition of every round.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds="${1:-3}"
shift || true
[ "${1:-}" = "--" ] && shift
options=("$@")
[ ${#options[@]} -eq 0 ] && options=(--repetitions 3 --min-time 0.3)

native=build/native/bin/varnel_pipeline_timing
windows=build/win32/bin/varnel_pipeline_timing.exe
for p in "$native" "$windows"; do
  [ -x "$p" ] || [ -f "$p" ] || { echo "missing $p: build it first" >&2; exit 1; }
done

out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
for ((r = 1; r <= rounds; ++r)); do
  echo "round $r of $rounds: native" >&2
  "$native" "${options[@]}" | sed 's/^/native /' >>"$out/all"
  echo "round $r of $rounds: wine" >&2
  cmake/wine-run.sh "$windows" "${options[@]}" | tr -d '\r' | sed 's/^/wine /' >>"$out/all"
done

# Median per build and case, then one line per case.
printf "%-50s %12s %12s %8s %10s %10s\n" case "native ms" "wine ms" ratio "native x" "wine x"
awk '
  { key = $1 " " $2; n[key]++; t[key, n[key]] = $4; s[key, n[key]] = $5; cases[$2] = 1 }
  function median(key, arr,    i, j, m, v, tmp) {
    m = n[key]
    for (i = 1; i <= m; i++) v[i] = arr[key, i]
    for (i = 2; i <= m; i++) { tmp = v[i]; for (j = i - 1; j >= 1 && v[j] > tmp; j--) v[j + 1] = v[j]; v[j + 1] = tmp }
    return m % 2 ? v[(m + 1) / 2] : (v[m / 2] + v[m / 2 + 1]) / 2
  }
  END {
    for (c in cases) {
      nk = "native " c; wk = "wine " c
      if (!(nk in n) || !(wk in n)) continue
      a = median(nk, t); b = median(wk, t)
      printf "%-50s %12.3f %12.3f %8.2f %10.2f %10.2f\n", c, a, b, b / a, median(nk, s), median(wk, s)
    }
  }' "$out/all" | sort
