#!/bin/sh
# The soak run: COUNT generated movies (random sizes, versions, alpha, grey,
# tracks; about a third damaged) played one after another through the
# player's whole loop with both service threads and the silent sound driver,
# under ASan+UBSan (asan preset, the default) or ThreadSanitizer (tsan).
# Prints "soak: N movies: P played, R refused with a text, C crashed" and
# fails unless C is 0.
# Usage: scripts/soak.sh [COUNT] [asan|tsan] [SEED]   (default 1000 asan 19)
set -eu
cd "$(dirname "$0")/.."
COUNT=${1:-1000}
PRESET=${2:-asan}
SEED=${3:-19}
case $COUNT in ''|*[!0-9]*) echo "usage: scripts/soak.sh [COUNT] [asan|tsan] [SEED]" >&2; exit 2 ;; esac
case $PRESET in asan|tsan) ;; *) echo "soak: preset must be asan or tsan" >&2; exit 2 ;; esac
JOBS=${VORN_JOBS:-$(nproc)}

cmake --preset "$PRESET" >/dev/null
cmake --build --preset "$PRESET" -j "$JOBS" --target vorn_soak
log=build/$PRESET/soak.log
status=0
build/$PRESET/tests/vorn_soak "$COUNT" "$SEED" >"$log" 2>"$log.err" || status=$?
if [ "$status" -ne 0 ]; then
  last=$(grep '^soak: movie ' "$log" | tail -n 1)
  echo "soak: $COUNT movies: crashed 1 (exit $status) at: $last" >&2
  tail -n 30 "$log.err" >&2
  exit 1
fi
tail -n 1 "$log"
