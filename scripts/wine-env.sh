#!/bin/sh
# Prepares the project's private Wine prefix once and makes sure a detached,
# persistent wineserver serves it, so CTest's many short Wine runs neither
# hang on inherited pipes nor boot Wine anew each time.
# Source it: . scripts/wine-env.sh
# Afterwards VORN_WINE_STARTED=1 tells that this shell started the server
# (stop it with `wineserver -k`); 0 means it reuses one that was running.
# VORN_WINEPREFIX chooses another prefix (default: build/.wine).
VORN_ROOT=$(cd "$(dirname "${0:-.}")/.." 2>/dev/null && pwd)
[ -f "$VORN_ROOT/CMakePresets.json" ] || VORN_ROOT=$PWD
export WINEPREFIX="${VORN_WINEPREFIX:-$VORN_ROOT/build/.wine}" WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
mkdir -p "$(dirname "$WINEPREFIX")"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  # A fresh prefix (8-15 s); its boot-time server goes away by itself.
  wineboot -i </dev/null >/dev/null 2>&1 || true
  wineserver -w
fi
VORN_WINE_STARTED=0
if wineserver -p </dev/null >/dev/null 2>&1; then
  VORN_WINE_STARTED=1
elif ! timeout 20 wineserver -w 2>/dev/null; then
  # A server that does not go away is persistent: reuse it. (Its helpers
  # already run, so no new process inherits our pipes.)
  :
elif wineserver -p </dev/null >/dev/null 2>&1; then
  VORN_WINE_STARTED=1
fi
# Start services.exe and friends now, with detached stdio.
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
