#!/bin/sh
# Builds and runs every test suite: native, ASan+UBSan, the 32-bit Windows
# build under Wine (under Xvfb when there is no display), ThreadSanitizer on
# the suites where threads meet (reader ring, service threads, sound rings),
# and every fuzzer for 60 s on its seed corpus. The native suite runs a
# second time with -j8, each test three times over (tests that collide show
# at once), and once each with VORN_CPU=c and VORN_CPU=sse2 (vector code
# capped); ASan and TSan each end with a 100-movie soak (scripts/soak.sh).
# Usage: scripts/test.sh [native|asan|win32|tsan|fuzz]...   (default: all five)
# VORN_JOBS sets the build and test parallelism (default: the processor count).
set -eu
cd "$(dirname "$0")/.."
JOBS=${VORN_JOBS:-$(nproc)}
presets=${*:-native asan win32 tsan fuzz}
summary=""

seconds_since() { echo $(( $(date +%s) - $1 )); }

run_tests() {
  p=$1
  case $p in
    win32)
      # Under Wine a window or a timer can miss its moment when the machine
      # is busy, so a failed test runs once more; one that passes only then
      # is named at the end of the run with its first run's output.
      set -- scripts/wine-ctest.sh --preset win32 -j "$JOBS" --repeat until-pass:2 --output-on-failure
      if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null 2>&1; then
        set -- xvfb-run -a -s "-screen 0 1024x768x24" "$@"
      fi
      { "$@"; echo $? >build/win32/ctest.status; } 2>&1 | tee build/win32/ctest.log
      return "$(cat build/win32/ctest.status)" ;;
    fuzz)
      scripts/fuzz.sh 60 ;;
    tsan)
      build/tsan/tests/test_engine && build/tsan/tests/test_input && build/tsan/tests/test_sound && scripts/soak.sh 100 tsan ;;
    native)
      # With the vector code capped at plain C, then at SSE2 (seconds each);
      # then once more side by side, three times over: tests that share a
      # file or a folder show at once. The long integration labels run once.
      ctest --preset native -j "$JOBS" &&
        VORN_CPU=c ctest --preset native -j "$JOBS" -LE 'desktop|rd|gst|install|pipes' &&
        VORN_CPU=sse2 ctest --preset native -j "$JOBS" -LE 'desktop|rd|gst|install|pipes' &&
        ctest --preset native -j8 --repeat until-fail:3 -LE 'desktop|rd|gst|install|pipes' \
          --output-on-failure >build/native/repeat.log 2>&1 ||
        { tail -n 60 build/native/repeat.log; false; } ;;
    asan)
      ctest --preset asan -j "$JOBS" && scripts/soak.sh 100 asan ;;
    *)
      ctest --preset "$p" -j "$JOBS" ;;
  esac
}

# failed_tests PRESET: the tests CTest's last run of PRESET failed, each
# with the end of its output. The run's summary comes last in a long log,
# where these lines are seen first.
failed_tests() {
  dir=build/$1/Testing/Temporary
  [ -s "$dir/LastTestsFailed.log" ] || return 0
  echo "=== $1: failed tests"
  cut -d: -f2- "$dir/LastTestsFailed.log" | while IFS= read -r name; do
    echo "--- $name"
    awk -v name="$name" '
      /^[0-9]+\/[0-9]+ Testing: / { line = $0; sub(/^[0-9]+\/[0-9]+ Testing: /, "", line)
                                     if (line == name) { take = 1; next } }
      take && /^<end of output>/ { exit }
      take' "$dir/LastTest.log" 2>/dev/null | tail -n 25
  done
}

# second_runs: the Windows tests that failed once in this run but passed
# when run again.
second_runs() {
  log=build/win32/ctest.log
  [ -f "$log" ] || return 0
  sed -n 's/^.*Test *#[0-9]*: \(.*\) \.*\*\*\*\(Failed\|Timeout\|Exception\).*/\1/p' "$log" |
    sort -u >build/win32/first-failures.txt
  final=build/win32/Testing/Temporary/LastTestsFailed.log
  if [ -f "$final" ]; then
    cut -d: -f2- "$final" | sort -u | comm -23 build/win32/first-failures.txt - >build/win32/second-runs.txt
  else
    cp build/win32/first-failures.txt build/win32/second-runs.txt
  fi
  [ -s build/win32/second-runs.txt ] || return 0
  echo "=== win32: passed only when run again (first run's output in $log):"
  sed 's/^/  /' build/win32/second-runs.txt
}

# Every preset runs even when an earlier one failed, so one run shows all
# failures; the exit status is non-zero when any build or suite failed.
failed=""
failures=""
for p in $presets; do
  case $p in
    native|asan|win32|tsan|fuzz) ;;
    *) echo "test.sh: unknown preset '$p' (native, asan, win32, tsan, fuzz)" >&2; exit 2 ;;
  esac
done
# The layer check first: a second's work, and a broken layer shows before
# any build.
sh scripts/check-includes.sh || exit 1
rm -f build/win32/ctest.log
for p in $presets; do
  t0=$(date +%s)
  echo "=== $p: configure and build"
  targets=""
  [ "$p" = tsan ] && targets="--target test_engine test_input test_sound"
  # shellcheck disable=SC2086
  if ! { cmake --preset "$p" >/dev/null && cmake --build --preset "$p" -j "$JOBS" $targets; }; then
    failed="$failed $p(build)"
    summary="$summary $p: build FAILED after $(seconds_since "$t0") s;"
    continue
  fi
  t1=$(date +%s)
  echo "=== $p: tests"
  result=passed
  if ! run_tests "$p"; then
    result=FAILED
    failed="$failed $p(tests)"
    failures="$failures $p"
  fi
  summary="$summary $p: build $(( t1 - t0 )) s, tests $(seconds_since "$t1") s $result;"
done
case " $presets " in *" win32 "*) second_runs ;; esac
if [ -n "$failed" ]; then
  for p in $failures; do failed_tests "$p"; done
  echo "=== FAILED:$failed ==="
  echo "=== timings:$summary"
  exit 1
fi
echo "=== all test suites passed: $presets"
echo "=== timings:$summary"
