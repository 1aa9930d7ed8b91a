#!/usr/bin/env bash
# The main job: configure and build the native tree (Linux library, tools,
# tests and benchmarks) and run `varnelcam info`, which prints the library
# version, the processor features the pixel routines will use, and the camera
# drives found. With no camera attached it also shows an in-process virtual
# camera head, listed exactly as an attached camera would be.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset native
cmake --build --preset native --target varnelcam

echo "=== varnelcam info"
build/native/bin/varnelcam info
echo
echo "=== varnelcam info --virtual HXA1:V (an in-process virtual camera head on drive V:)"
build/native/bin/varnelcam info --virtual HXA1:V
