#!/bin/sh
# Plays a generated movie with each Windows sound driver under Wine into a
# private PipeWire null sink, records what reaches the sink, and checks that
# the sound arrived whole and in real time:
#   - the recording's sounding span (first to last non-silent 10 ms block)
#     matches the movie's playing time within 5 % (frames played over the
#     rate the summary says was obtained: the player closes the movie, and
#     with it its sound, after the last frame),
#   - the player's summary reports "Sound skips: 0".
# Usage: sound-sink-check.sh VORNPLAY.EXE VORNTOOL.EXE WORKDIR [waveout|dsound]...
# Exit 77 (skipped) when there is no PipeWire, Wine or X display.
set -u
here=$(cd "$(dirname "$0")" && pwd)
player=$1 tool=$2 work=$3
shift 3
drivers=${*:-"dsound waveout"}
command -v pipewire >/dev/null && command -v parec >/dev/null && command -v wine >/dev/null ||
  { echo "no PipeWire or Wine: skipped"; exit 77; }
[ -n "${DISPLAY:-}" ] || { echo "no X display: skipped"; exit 77; }
PY=python3
[ -x /usr/bin/python3 ] && PY=/usr/bin/python3

mkdir -p "$work" && work=$(cd "$work" && pwd)
rm -f "$work"/*.raw "$work"/*.log "$work"/movie.*
: "${WINEPREFIX:=${VORN_WINEPREFIX:-$here/../build/.wine}}"
export WINEPREFIX WINEARCH=win32 WINEDEBUG=-all VORN_ANSWER=no
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
winpath() { echo "Z:$1" | tr / '\\'; }

# 6 s of the demo scene and its melody (which sounds from the first frame on).
wine "$tool" demo -o "$(winpath "$work/movie.vxn")" --seconds 6 </dev/null >"$work/tool.log" 2>&1 &&
  wine "$tool" info "$(winpath "$work/movie.vxn")" </dev/null >"$work/info.log" 2>&1 ||
  { cat "$work/tool.log" "$work/info.log"; echo "FAIL: no movie"; exit 1; }
frames=$(sed -n 's/^frames: *\([0-9]*\).*/\1/p' "$work/info.log" | tr -d '\r')
rate=$(sed -n 's/^rate: *\([0-9]*\/[0-9]*\).*/\1/p' "$work/info.log" | tr -d '\r')
[ -n "$frames" ] && [ -n "$rate" ] || { cat "$work/info.log"; echo "FAIL: no movie info"; exit 1; }

audio="$work/audio"
sh "$here/pw-null-sink.sh" stop "$audio" >/dev/null 2>&1
env_lines=$(sh "$here/pw-null-sink.sh" start "$audio") || { echo "FAIL: no sound server"; exit 1; }
eval "$env_lines"
trap 'sh "$here/pw-null-sink.sh" stop "$audio" >/dev/null 2>&1' EXIT INT TERM

# One take of DRIVER: plays the movie, records the sink, prints a line and
# returns non-zero when the take fails.
play_take() {
  driver=$1
  switch=""
  [ "$driver" = waveout ] && switch=/Z
  parec -d nullsink.monitor --format=s16le --rate=48000 --channels=2 --raw --latency-msec=100 \
    >"$work/$driver.raw" 2>"$work/$driver.parec.log" &
  rec=$!
  sleep 0.5
  wine "$player" "$(winpath "$work/movie.vxn")" /S $switch </dev/null >"$work/$driver.log" 2>&1
  code=$?
  sleep 0.7  # what the sink still holds reaches the recording
  kill $rec 2>/dev/null; wait $rec 2>/dev/null
  skips=$(sed -n 's/.*Sound skips: \([0-9]*\).*/\1/p' "$work/$driver.log" | head -n 1)
  played=$(sed -n 's/^Total frames played: *\([0-9]*\).*/\1/p' "$work/$driver.log" | head -n 1)
  obtained=$(sed -n 's/^Frame rate obtained: *\([0-9.]*\) .*/\1/p' "$work/$driver.log" | head -n 1)
  verdict=$("$PY" - "${played:-0}" "${obtained:-0}" "$frames" "$rate" "$work/$driver.raw" <<'PYEOF'
import array, sys

def span(samples, rate, channels):
    # first and last 10 ms block whose peak passes 1/100 of full scale
    block = rate * channels // 100
    loud = [i for i in range(0, len(samples) - block + 1, block)
            if max(abs(v) for v in samples[i:i + block]) > 327]
    return (loud[-1] - loud[0] + block) / (rate * channels) if loud else 0.0

played, obtained = int(sys.argv[1]), float(sys.argv[2])
num, den = (int(v) for v in sys.argv[4].split('/'))
# the whole movie must have played, at about its own rate
whole = played == int(sys.argv[3]) and abs(obtained - num / den) <= 0.1 * num / den
want = played / obtained if obtained else 0.0
got_bytes = open(sys.argv[5], 'rb').read()
got = array.array('h', got_bytes[:len(got_bytes) // 2 * 2])
have = span(got, 48000, 2)
ok = whole and want > 0 and abs(have - want) <= 0.05 * want
print("%s %.3f %.3f" % ("ok" if ok else "bad", have, want))
PYEOF
)
  echo "$driver: exit $code, sound skips ${skips:-?}, seconds sounding/playing ${verdict#* }"
  if [ "$code" != 0 ] || [ "${skips:-x}" != 0 ] || [ "${verdict%% *}" != ok ]; then
    sed -n '1,5p' "$work/$driver.log"; return 1
  fi
}

# A real-time take on a shared machine can be disturbed by a burst of load
# elsewhere (a scheduling gap shows as a sound skip), so a driver gets a
# second take; both takes failing is a failure, and the first is printed.
status=0
for driver in $drivers; do
  play_take "$driver" && continue
  echo "$driver: first take failed, taking it again"
  play_take "$driver" || { echo "FAIL: $driver"; status=1; }
done
exit $status
