#!/usr/bin/env bash
# The Windows SDK zip as an application author meets it: unpacked, the
# sample application compiled against each of its import libraries (the
# mingw one, and the MSVC-style one handed to the linker as it is), and each
# program run under Wine against the FUSE camera head on drive V:.
#
# Fault caught: an import library that names a decorated or missing symbol
# (the program does not link, or does not load: Wine cannot resolve the
# import), a zip without the DLL, the header or the .def file.
#
#   windows_sdk.sh ZIP RUNNER CAMSIM CC EXAMPLE_C
# Exit 77 (CTest skip) when FUSE or the native daemon is missing.
set -u
zip="$1" runner="$2" camsim="$3" cc="$4" example="$5"
work="$(mktemp -d "${TMPDIR:-/tmp}/varnel-winsdk.XXXXXX")"
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }

(cd "$work" && cmake -E tar xf "$zip") || { echo "FAIL: cannot unpack $zip"; exit 1; }
sdk="$(ls -d "$work"/VarnelSdk_Rade-*-win32)"
echo "$(basename "$zip"):"
(cd "$sdk" && find . -type f | sort | sed 's/^/  /')
for f in bin/VarnelSdk_Rade.dll bin/varnelcam.exe include/varnel.h lib/varnel.def \
  lib/libVarnelSdk_Rade.dll.a lib/VarnelSdk_Rade.lib README.txt; do
  [ -s "$sdk/$f" ] || fail "$f missing from the zip"
done

for kind in mingw msvc; do
  mkdir -p "$work/$kind"
  if [ "$kind" = mingw ]; then
    libs=(-L"$sdk/lib" -lVarnelSdk_Rade)
  else
    libs=("$sdk/lib/VarnelSdk_Rade.lib")
  fi
  "$cc" -O2 -I"$sdk/include" "$example" "${libs[@]}" -o "$work/$kind/snap.exe" || {
    fail "$kind: the example does not link"; continue
  }
  cp "$sdk/bin/VarnelSdk_Rade.dll" "$work/$kind/"
  echo "$kind: snap.exe imports $(i686-w64-mingw32-objdump -p "$work/$kind/snap.exe" |
    grep -c 'Varnel_') functions from $(i686-w64-mingw32-objdump -p "$work/$kind/snap.exe" |
    grep -o 'DLL Name: VarnelSdk_Rade.dll' | head -1 | cut -d' ' -f3)"
  (cd "$work/$kind" && "$runner" --wine "$camsim" "$work/$kind/snap.exe" 1 \
    "Z:$work/$kind/snap.png") >"$work/$kind/out.txt" 2>"$work/$kind/err.txt"
  run_status=$?
  [ "$run_status" -eq 77 ] && { cat "$work/$kind/out.txt"; exit 77; }
  sed 's/^/  /' "$work/$kind/out.txt"
  [ "$run_status" -eq 0 ] || { grep -v -E '^[0-9a-f]{4}:(fixme|warn)' "$work/$kind/err.txt"; fail "$kind: snap.exe exited $run_status"; }
  [ -s "$work/$kind/snap.png" ] || fail "$kind: no picture saved"
done
exit "$status"
