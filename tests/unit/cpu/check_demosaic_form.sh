#!/usr/bin/env bash
# Fault caught: `varnelcam info` naming a demosaic form other than the one the
# library runs, such as "SSE2" on a processor and system whose AVX2 form the
# frame pipeline or the colour engine uses; a features line without the AVX2
# or AVX-512 the library uses there.
#
# The kernel lists avx2 among a processor's flags only when it also saves the
# AVX register state, which is the condition the library checks as well.
set -euo pipefail
tool="$1"
flags=$(grep -m1 '^flags' /proc/cpuinfo || true)
has() { grep -qw "$1" <<<"$flags"; }
case "$(uname -m)" in
  x86_64 | i?86) ;;
  *) echo "not an x86 processor: nothing to compare"; exit 0 ;;
esac

if has avx2; then pipeline=AVX2; elif has sse2; then pipeline=SSE2; else pipeline=scalar; fi
# The colour engine likewise runs its AVX2 form, the same frame bit for bit.
if has avx2; then engine=AVX2; elif has sse2; then engine=SSE2; else engine=scalar; fi
want="demosaic: $pipeline (frame pipeline), $engine (colour engine)"

info=$("$tool" info 2>/dev/null || true)
got=$(grep -o 'demosaic: [^;]*(colour engine)' <<<"$info" || true)
if [ "$got" != "$want" ]; then
  echo "expected: $want"
  echo "printed:  ${got:-(no demosaic line)}"
  exit 1
fi
echo "$got"

features=$(grep 'features the library uses:' <<<"$info" || true)
expect_feature() {
  if ! grep -q " $1\( \|$\)" <<<"$features"; then
    echo "the features line lacks $1: ${features:-(no features line)}"
    exit 1
  fi
}
if has avx2; then expect_feature AVX2; fi
if has avx512f && has avx512bw && has avx512vl && [ -z "${VARNEL_NO_AVX512:-}" ]; then
  expect_feature AVX-512
fi
echo "$features"
