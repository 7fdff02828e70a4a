#!/bin/sh
# Runs a Windows executable under Wine with the project's private prefix.
# CTest uses it as the cross-compiling emulator; scripts/wine-env.sh warms it up.
: "${WINEPREFIX:=$(cd "$(dirname "$0")/.." && pwd)/build/.wine}"
export WINEPREFIX WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
exec wine "$@"
