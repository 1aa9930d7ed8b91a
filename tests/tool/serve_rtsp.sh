#!/usr/bin/env bash
# varnelcam serve on 127.0.0.1: a stock GStreamer client (rtspsrc, the
# depayloader, the decoder) must receive frames whose picture is the camera's
# snapshot, for the JPEG and the raw payload.
#
# Fault caught: a served picture with red and blue swapped, upside down,
# shifted by a wrong stride, or not decodable by a stock client; a server
# that cannot be reached or never sends a frame.
#
#   serve_rtsp.sh VARNELCAM
# Exit 77 (CTest skip) when GStreamer's tools or plugins are missing.
set -u
varnelcam="$1"
if ! command -v gst-launch-1.0 >/dev/null 2>&1; then
  echo "SKIP: gst-launch-1.0 is not installed (gstreamer1.0-tools)"
  exit 77
fi
for element in rtspsrc rtpjpegdepay rtpvrawdepay jpegdec pngdec videoconvert identity; do
  if ! gst-inspect-1.0 "$element" >/dev/null 2>&1; then
    echo "SKIP: GStreamer element $element is missing (gstreamer1.0-plugins-good/-base)"
    exit 77
  fi
done
if ! "$varnelcam" serve --help | grep -q -- '--payload'; then
  echo "SKIP: this varnelcam was built without the RTSP server"
  exit 77
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/varnelcam-serve.XXXXXX")"
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
export VARNEL_DRIVES="$work/drives" VARNEL_REGISTRY="$work/settings.reg"
mkdir -p "$VARNEL_DRIVES"

# The snapshot, as raw RGB through GStreamer's own PNG decoder.
"$varnelcam" snap --virtual HXA1 --subsample 2 --mode 24 -o "$work/snap.png" >/dev/null || exit 1
gst-launch-1.0 -q filesrc location="$work/snap.png" ! pngdec ! videoconvert ! \
  video/x-raw,format=RGB ! filesink location="$work/snap.rgb" || exit 1

status=0
for payload in jpeg raw; do
  rm -f "$work/serve.log"
  "$varnelcam" serve --virtual HXA1 --subsample 2 --mode 24 --port 0 --payload "$payload" \
    >"$work/serve.log" 2>&1 &
  server_pid=$!
  url=""
  for _ in $(seq 600); do
    url="$(grep -o 'rtsp://[^ ]*' "$work/serve.log" 2>/dev/null)"
    [ -n "$url" ] && break
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ -z "$url" ]; then
    echo "FAIL ($payload): the server did not start"; cat "$work/serve.log"; exit 1
  fi
  echo "$payload: $(cat "$work/serve.log")"
  if [ "$payload" = jpeg ]; then
    depay="rtpjpegdepay ! jpegdec"
  else
    depay="rtpvrawdepay"
  fi
  # The client takes the third frame it decodes and ends the stream there.
  client_status=0
  # shellcheck disable=SC2086
  timeout 300 gst-launch-1.0 -q rtspsrc location="$url" protocols=tcp ! $depay ! videoconvert ! \
    video/x-raw,format=RGB ! identity eos-after=3 ! multifilesink \
    location="$work/$payload-%d.rgb" >"$work/client.log" 2>&1 || client_status=$?
  # The server serves on when a client leaves, however it leaves.
  if ! kill -0 "$server_pid" 2>/dev/null; then
    echo "FAIL ($payload): the server ended when its client left"; status=1
  fi
  kill "$server_pid" 2>/dev/null
  wait "$server_pid" 2>/dev/null
  server_pid=""
  last="$(ls "$work/$payload"-*.rgb 2>/dev/null | sort -V | tail -1)"
  if [ -z "$last" ]; then
    echo "FAIL ($payload): no frame received (client status $client_status)"
    cat "$work/client.log" "$work/serve.log"
    status=1; continue
  fi
  # On its way out the stock client pauses the stream and waits for the
  # answer while the server may still be sending frames at full rate, and
  # rtspsrc reports an error when that exchange is cut short: once frames
  # were received (and are compared below), that says nothing about the
  # server (which is checked above to serve on), so it is shown, not counted.
  if [ "$client_status" -ne 0 ]; then
    echo "$payload: the client received frames, then ended with status $client_status:"
    cat "$work/client.log"
  fi
  if grep -q '^varnelcam:' "$work/serve.log"; then
    echo "FAIL ($payload): the server reported an error"; cat "$work/serve.log"; status=1
  fi
  # The frames carry their own frame number and moving mark, and JPEG
  # changes every pixel a little: the pictures must agree everywhere else.
  # (Debian's interpreter, which has python3-numpy.)
  /usr/bin/python3 - "$work/snap.rgb" "$last" "$payload" <<'EOF' || status=1
import sys
import numpy as np
snap = np.fromfile(sys.argv[1], np.uint8)
got = np.fromfile(sys.argv[2], np.uint8)
payload = sys.argv[3]
if snap.size != got.size:
    print(f"FAIL ({payload}): frame of {got.size} bytes, snapshot {snap.size}")
    sys.exit(1)
# Compared in 8 x 8 blocks: JPEG (and the 4:2:0 chroma it is made from)
# keeps the blocks' mean colours, not every sample of the fine patterns.
w, h = 512, 384  # the HXA1 sensor at quarter size
def blocks(a):
    return a.reshape(h // 8, 8, w // 8, 8, 3).mean(axis=(1, 3))
diff = np.abs(blocks(snap) - blocks(got))
mean = diff.mean()
far = (diff > 40).mean()
print(f"{payload}: mean block difference {mean:.2f}, share of blocks off by more than 40: {far:.4f}")
mean_bound, far_bound = (2.0, 0.01) if payload == "jpeg" else (0.5, 0.01)
if mean > mean_bound or far > far_bound:
    print(f"FAIL ({payload}): the served picture is not the snapshot")
    sys.exit(1)
EOF
done
exit "$status"
