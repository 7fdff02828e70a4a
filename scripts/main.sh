#!/bin/sh
# The main job: build, make the demo movie, show what it holds and play it:
# in the Linux player's window with its sound when a display is available,
# else headless (no window, no sound), with the playback summary either way.
set -eu
cd "$(dirname "$0")/.."
cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc)"
T=build/native/tools/vorntool/vorntool
P=build/native/src/player/vornplay
$T demo -o build/demo.vxn
$T info build/demo.vxn
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$P" ] && "$P" --summary build/demo.vxn; then
    echo "main: played build/demo.vxn in the Linux player's window (display ${DISPLAY:-${WAYLAND_DISPLAY:-}});" \
         "its sound: the 'Sound:' line of the summary above"
else
    $T play --headless build/demo.vxn
    echo "main: no usable display: played build/demo.vxn headless (no window, no sound), summary above"
fi
