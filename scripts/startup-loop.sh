#!/bin/sh
# Starts the Windows player many times in a row under Wine (a nightly check,
# not part of CI) and counts the launches that did not end normally, with
# the error box texts they printed. Each launch plays a one-second movie as
# fast as possible, then the closing logo.
# Usage: scripts/startup-loop.sh [COUNT] [VORNPLAY.EXE] [VORNTOOL.EXE]
#   (defaults: 200, build/win32/src/player/vornplay.exe, build/win32/tools/vorntool/vorntool.exe)
# Run it under an X server, e.g.: xvfb-run -a -s "-screen 0 1024x768x24" scripts/startup-loop.sh
set -u
cd "$(dirname "$0")/.."
count=${1:-200}
player=${2:-build/win32/src/player/vornplay.exe}
tool=${3:-build/win32/tools/vorntool/vorntool.exe}
. scripts/wine-env.sh
export VORN_ANSWER=no
work=build/startup-loop
mkdir -p "$work"
movie="Z:$(cd "$work" && pwd)/movie.vxn"
movie=$(echo "$movie" | tr / '\\')
wine "$tool" demo -o "$movie" --seconds 1 </dev/null >"$work/tool.log" 2>&1 ||
  { cat "$work/tool.log"; exit 1; }
failed=0 i=0
: >"$work/failures.log"
while [ "$i" -lt "$count" ]; do
  i=$((i + 1))
  wine "$player" "$movie" /F </dev/null >"$work/run.log" 2>&1
  code=$?
  if [ "$code" != 0 ]; then
    failed=$((failed + 1))
    { echo "launch $i: exit $code"; grep -v '^ALSA' "$work/run.log"; } >>"$work/failures.log"
  fi
  [ $((i % 20)) = 0 ] && echo "$i launches, $failed not ending normally"
done
[ "$VORN_WINE_STARTED" = 1 ] && wineserver -k 2>/dev/null
echo "$count launches, $failed not ending normally"
[ "$failed" = 0 ] || { sort "$work/failures.log" | uniq -c | sort -rn | head -20; exit 1; }
