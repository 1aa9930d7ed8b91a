#!/usr/bin/env bash
# Runs one fuzz target: run-target.sh PROGRAM WORK_CORPUS SEED_CORPUS [libFuzzer options].
# New inputs go to WORK_CORPUS (<build>/fuzz-corpus/<target>); SEED_CORPUS
# (the repository's) is only read. Crash, leak and time-out inputs are written
# to <build>/artifacts/<target>/, and the run fails; its last lines give the
# executions and the corpus size.
#
# The time-out only catches a program that never ends: how long a call may
# keep the application waiting is checked by the target itself, on the clock
# the library sleeps on. Real time per program depends on the machine's load
# (a program that takes 3 s alone took 47 s on a machine shared by many
# processes), so the ceiling is far above that.
set -euo pipefail
program="$1" work="$2" seeds="$3"
shift 3
mkdir -p "$work"
artifacts="$(dirname "$(dirname "$work")")/artifacts/$(basename "$work")/"
mkdir -p "$artifacts"
#
# The memory limit is libFuzzer's own default: the interface target bounds what
# a program keeps for its instances, so hours of programs stay well below it,
# and a program that needs more is a finding.
exec "$program" "$work" "$seeds" -artifact_prefix="$artifacts" -print_final_stats=1 \
  -timeout=600 -rss_limit_mb=2048 "$@"
