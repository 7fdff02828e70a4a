#!/bin/sh
# Runs the Windows build's tests under Wine: warms up the private prefix,
# runs CTest with the given arguments, and stops the wineserver if this run
# started it. scripts/test.sh runs it under Xvfb when there is no display.
set -u
cd "$(dirname "$0")/.."
. scripts/wine-env.sh
status=0
ctest "$@" || status=$?
[ "$VORN_WINE_STARTED" = 1 ] && wineserver -k 2>/dev/null
exit $status
