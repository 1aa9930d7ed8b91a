#!/usr/bin/env bash
# Fails when an object compiled with vector instruction-set flags (the
# *_mmx/_sse2/_sse3/_avx2 files) defines shared inline code. The linker keeps
# one copy of such code for the whole program; if it kept the copy built with
# AVX2 flags, scalar callers on a processor without AVX2 would fault. Those
# files must keep everything they compile to themselves (inlined, or internal
# linkage).
# Usage: simd_isolation_check.sh OBJDUMP OBJECT...
set -u
objdump="$1"
shift
checked=0
status=0
for obj in "$@"; do
  case "$(basename "$obj")" in
    *_mmx.cpp.o* | *_sse2.cpp.o* | *_sse3.cpp.o* | *_avx2.cpp.o*) ;;
    *) continue ;;
  esac
  checked=$((checked + 1))
  shared=$("$objdump" -h "$obj" | grep -oE '\.text[.$]_Z[^ ]*' || true)
  if [ -n "$shared" ]; then
    echo "FAIL: $obj defines shared inline code:" >&2
    echo "$shared" | sed 's/^/  /' >&2
    status=1
  fi
done
if [ "$checked" -eq 0 ]; then
  echo "FAIL: no vector-flagged objects were given" >&2
  exit 1
fi
echo "$checked vector-flagged objects checked"
exit "$status"
