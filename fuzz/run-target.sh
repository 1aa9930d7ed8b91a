#!/usr/bin/env bash
# Runs one fuzz target: run-target.sh PROGRAM WORK_CORPUS SEED_CORPUS [libFuzzer options].
# New inputs go to WORK_CORPUS; SEED_CORPUS (the repository's) is only read.
# Crash, leak and time-out inputs are written beside WORK_CORPUS, and the run
# fails; its last lines give the executions and the corpus size.
set -euo pipefail
program="$1" work="$2" seeds="$3"
shift 3
mkdir -p "$work"
artifacts="$(dirname "$work")/artifacts/$(basename "$work")/"
mkdir -p "$artifacts"
exec "$program" "$work" "$seeds" -artifact_prefix="$artifacts" -print_final_stats=1 \
  -timeout=60 -rss_limit_mb=4096 "$@"
