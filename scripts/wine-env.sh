#!/bin/sh
# Prepares the private Wine prefix once and keeps a detached wineserver
# running, so CTest's many short Wine runs neither hang nor boot Wine anew.
# Source it: . scripts/wine-env.sh ; stop with: wineserver -k
VORN_ROOT=$(cd "$(dirname "${0:-.}")/.." 2>/dev/null && pwd)
[ -f "$VORN_ROOT/CMakePresets.json" ] || VORN_ROOT=$PWD
export WINEPREFIX="$VORN_ROOT/build/.wine" WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
mkdir -p "$VORN_ROOT/build"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i </dev/null >/dev/null 2>&1
fi
wineserver -w
wineserver -p </dev/null >/dev/null 2>&1 || true
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
