#!/usr/bin/env bash
# The main job: build the native tree, start a virtual camera head, list it,
# stream from it for a few seconds with the live counters, and save one frame
# in every picture format and one raw DNG into out/, printing each file.
#
# The head is the FUSE daemon varnel-camsim (seen by the library exactly as an
# attached camera drive) where FUSE works, else an in-process head that
# varnelcam starts itself (--virtual). The settings go to out/settings.reg,
# never to your own store.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
out="$root/out"
seconds="${VARNEL_DEMO_SECONDS:-4}"

step() { printf '\n=== %s\n' "$*"; }

step "building the library, varnelcam and the virtual camera head (build/native; a few minutes the first time)"
cmake --preset native >/dev/null
cmake --build --preset native --target varnelcam varnel-camsim VarnelSdk_Rade
cam="$root/build/native/bin/varnelcam"
camsim="$root/build/native/bin/varnel-camsim"

mkdir -p "$out"
export VARNEL_REGISTRY="$out/settings.reg"
export VARNEL_DRIVES="$out/drives"
rm -rf "$VARNEL_DRIVES"
mkdir -p "$VARNEL_DRIVES"

camsim_pid=""
mnt=""
cleanup() {
  if [ -n "$camsim_pid" ]; then
    kill -TERM "$camsim_pid" 2>/dev/null || true
    wait "$camsim_pid" 2>/dev/null || true
  fi
  if [ -n "$mnt" ]; then
    if mountpoint -q "$mnt" 2>/dev/null; then fusermount3 -uz "$mnt" 2>/dev/null || true; fi
    rmdir "$mnt" 2>/dev/null || true
  fi
}
trap cleanup EXIT

step "starting a virtual camera head (model HXA1, 2048 x 1536 Bayer sensor)"
virtual=()
if [ -z "${VARNEL_DEMO_IN_PROCESS:-}" ] && [ -e /dev/fuse ] && command -v fusermount3 >/dev/null 2>&1; then
  mnt="$(mktemp -d "${TMPDIR:-/tmp}/varnel-demo-head.XXXXXX")"
  "$camsim" --model HXA1 --link "$VARNEL_DRIVES:v" "$mnt" 2>"$out/camsim.log" &
  camsim_pid=$!
  for _ in $(seq 100); do
    if [ -e "$VARNEL_DRIVES/v::" ] && mountpoint -q "$mnt"; then break; fi
    kill -0 "$camsim_pid" 2>/dev/null || break
    sleep 0.1
  done
fi
if [ -n "$camsim_pid" ] && mountpoint -q "$mnt" 2>/dev/null; then
  echo "varnel-camsim serves it on drive V: (pid $camsim_pid, mounted at $mnt)"
else
  if [ -n "$camsim_pid" ]; then
    echo "FUSE is not usable here ($(tail -n 1 "$out/camsim.log" 2>/dev/null))"
  fi
  cleanup
  camsim_pid=""
  mnt=""
  virtual=(--virtual HXA1:V)
  echo "using an in-process virtual head instead: varnelcam ${virtual[*]} ..."
fi

step "varnelcam list"
"$cam" list "${virtual[@]}"

step "varnelcam info --type HXA1"
"$cam" info --type HXA1 "${virtual[@]}"

step "varnelcam stream --seconds $seconds  (read = frames the camera sent, delivered = frames that reached the tool)"
"$cam" stream --type HXA1 --seconds "$seconds" "${virtual[@]}"

step "varnelcam snap: one frame in every format, and the raw mosaic as DNG"
written=()
for format in bmp raw jpg png tif; do
  "$cam" snap --type HXA1 --mode 24 -o "$out/frame.$format" "${virtual[@]}"
  written+=("$out/frame.$format")
done
"$cam" snap --type HXA1 --dng "$out/frame.dng" "${virtual[@]}"
written+=("$out/frame.dng")

step "files written"
for file in "${written[@]}"; do
  printf '%s  (%s bytes)\n' "$file" "$(stat -c %s "$file")"
done
echo "settings used: $VARNEL_REGISTRY"
echo
echo "Next: build/native/bin/varnelcam --help; varnelcam view --virtual HXA1 for a live window."
