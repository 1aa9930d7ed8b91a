#!/usr/bin/env bash
# Runs the fuzz targets for as long as asked, one after the other:
#   tools/run-fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
# (default 3600 seconds each; targets: store api). Builds the fuzz tree first.
# New inputs collect in build/fuzz/fuzz-corpus/<target> and carry over to the
# next run; an input that crashes, leaks or hangs is written to
# build/fuzz/artifacts/<target>/ and ends that target's run. To keep such an
# input as a regression, fix its cause and copy it into fuzz/corpus/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-3600}"
shift || true
targets=("$@")
if [ "${#targets[@]}" -eq 0 ]; then targets=(store api); fi

cmake --preset fuzz >build/configure-fuzz.log 2>&1 || { cat build/configure-fuzz.log; exit 1; }
cmake --build --preset fuzz

status=0
for target in "${targets[@]}"; do
  echo "=== varnel_${target}_fuzz for ${seconds} s"
  if ! fuzz/run-target.sh "build/fuzz/bin/varnel_${target}_fuzz" \
      "build/fuzz/fuzz-corpus/${target}" "fuzz/corpus/${target}" \
      -max_total_time="${seconds}"; then
    status=1
  fi
done
exit "$status"
