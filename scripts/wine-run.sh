#!/bin/sh
# Runs a Windows executable under Wine with the project's private prefix.
# CTest uses it as the cross-compiling emulator; scripts/wine-env.sh warms it up.
# Message boxes answer "no" by themselves unless VORN_ANSWER says otherwise,
# so no test can block on a dialog.
: "${WINEPREFIX:=${VORN_WINEPREFIX:-$(cd "$(dirname "$0")/.." && pwd)/build/.wine}}"
: "${VORN_ANSWER:=no}"
export WINEPREFIX WINEARCH=win32 WINEDEBUG=-all VORN_ANSWER
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
exec wine "$@"
