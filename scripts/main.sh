#!/bin/sh
# The main job: build, make the demo movie, show what it holds and play it.
set -eu
cd "$(dirname "$0")/.."
cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc)"
T=build/native/tools/vorntool/vorntool
$T demo -o build/demo.vxn
$T info build/demo.vxn
$T play --headless build/demo.vxn
