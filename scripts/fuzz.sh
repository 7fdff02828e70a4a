#!/bin/sh
# Builds the fuzz preset (clang, libFuzzer, ASan+UBSan) and runs every fuzz
# target in build/fuzz/fuzz/ for SECONDS seconds each, on its seed corpus
# fuzz/corpus/<name> (and its dictionary fuzz/<name>.dict when present).
# New inputs go to build/fuzz/corpus/<name>, never into the committed seeds.
# Usage: scripts/fuzz.sh [SECONDS | --long] [TARGET...]
#   SECONDS per target (default 60); --long runs each for an hour; TARGETs
#   (names in fuzz/, e.g. fuzz_y4m) narrow the run, by default all run.
set -eu
cd "$(dirname "$0")/.."
SECONDS_EACH=60
case ${1:-} in
  --long) SECONDS_EACH=3600; shift ;;
  '') ;;
  *[!0-9]*) case $1 in fuzz_*) ;; *) echo "usage: scripts/fuzz.sh [SECONDS | --long] [TARGET...]" >&2; exit 2 ;; esac ;;
  *) SECONDS_EACH=$1; shift ;;
esac
only="$*"
JOBS=${VORN_JOBS:-$(nproc)}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$JOBS"

found=0
for target in build/fuzz/fuzz/*; do
  [ -f "$target" ] && [ -x "$target" ] || continue
  name=$(basename "$target")
  if [ -n "$only" ]; then
    case " $only " in *" $name "*) ;; *) continue ;; esac
  fi
  found=$((found + 1))
  work=build/fuzz/corpus/$name
  mkdir -p "$work" "build/fuzz/crashes/$name"
  set -- "$work"
  [ -d "fuzz/corpus/$name" ] && set -- "$@" "fuzz/corpus/$name"
  dict=""
  [ -f "fuzz/$name.dict" ] && dict="-dict=fuzz/$name.dict"
  echo "=== fuzz: $name for ${SECONDS_EACH} s"
  # shellcheck disable=SC2086
  "$target" -max_total_time="$SECONDS_EACH" -timeout=20 -print_final_stats=1 \
    -artifact_prefix="build/fuzz/crashes/$name/" $dict "$@"
done
if [ "$found" -eq 0 ]; then
  echo "fuzz: no fuzz targets in build/fuzz/fuzz/ yet; nothing to run"
else
  echo "fuzz: $found target(s) ran ${SECONDS_EACH} s each without a failure"
fi
