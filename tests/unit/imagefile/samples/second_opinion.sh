#!/usr/bin/env bash
# A second opinion on the image files the library writes, from programs that
# share no code with it: ImageMagick decodes every file and compares it with
# the reference picture of what it must show (exactly for BMP, PNG and TIFF,
# within a PSNR bound for JPEG) and tells whether a JPEG is progressive;
# pngcheck and tiffinfo check the files' structure.
#
#   second_opinion.sh <imagefile_samples> [runner...]
#
# With a runner (the Wine script of the 32-bit tree) the samples are written
# by the Windows build and judged here.
set -euo pipefail

samples=$1
shift
for tool in compare identify pngcheck tiffinfo; do
  if ! command -v "$tool" >/dev/null; then
    echo "second_opinion: $tool is missing (tools/setup-deps.sh installs it)" >&2
    exit 1
  fi
done

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
target=$dir
# Wine shows the machine's root as drive Z:.
if [ $# -gt 0 ]; then target="Z:$dir"; fi
"$@" "$samples" "$target"

failures=0
checks=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

cd "$dir"
while read -r kind file a b; do
  checks=$((checks + 1))
  case "$kind" in
    exact)
      # Number of pixels that differ in any channel; compare prints it on
      # standard error and exits 1 when the pictures differ.
      diff=$(compare -metric AE "$file" "$a" null: 2>&1) || true
      [ "$diff" = "0" ] || fail "$file differs from $a in $diff pixels"
      ;;
    psnr)
      psnr=$(compare -metric PSNR "$file" "$a" null: 2>&1) || true
      if ! awk -v p="$psnr" -v m="$b" 'BEGIN { exit !(p == "inf" || p + 0 >= m) }'; then
        fail "$file: PSNR $psnr dB below $b dB"
      fi
      ;;
    progressive)
      identify -verbose "$file" | grep -q 'Interlace: JPEG' || fail "$file is not progressive"
      ;;
    smaller)
      s1=$(stat -c %s "$file") s2=$(stat -c %s "$a") s3=$(stat -c %s "$b")
      [ "$s1" -gt "$s2" ] && [ "$s2" -gt "$s3" ] || fail "JPEG sizes not falling: $s1 $s2 $s3 ($file)"
      ;;
    png)
      pngcheck -q "$file" >/dev/null || fail "pngcheck: $(pngcheck "$file" 2>&1 | tail -1)"
      ;;
    tiff)
      out=$(tiffinfo "$file" 2>&1) || fail "tiffinfo refuses $file: $out"
      if grep -qi -e 'warning' -e 'error' <<<"$out"; then fail "tiffinfo on $file: $out"; fi
      ;;
    *)
      fail "unknown check $kind"
      ;;
  esac
done <manifest.txt

echo "second_opinion: $checks checks, $failures failed"
[ "$checks" -gt 0 ] && [ "$failures" -eq 0 ]
