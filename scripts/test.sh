#!/bin/sh
# Builds and runs every test suite: native, ASan+UBSan, and the 32-bit
# Windows build under Wine. Usage: scripts/test.sh [native|asan|win32|tsan|fuzz]...
set -eu
cd "$(dirname "$0")/.."
JOBS=$(nproc)
presets=${*:-native asan win32}

run_preset() {
  p=$1
  echo "=== $p: configure and build"
  cmake --preset "$p" >/dev/null
  cmake --build --preset "$p" -j "$JOBS"
  case $p in
    win32)
      . scripts/wine-env.sh
      echo "=== win32: tests under Wine"
      status=0
      ctest --preset win32 -j "$JOBS" || status=$?
      wineserver -k 2>/dev/null || true
      [ $status -eq 0 ] || exit $status ;;
    fuzz)
      scripts/fuzz.sh 60 ;;
    *)
      echo "=== $p: tests"
      ctest --preset "$p" -j "$JOBS" ;;
  esac
}

for p in $presets; do
  run_preset "$p"
done
echo "=== all test suites passed: $presets"
