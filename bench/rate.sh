#!/bin/sh
# Rate control of `vorntool encode` over varied content (bench/rate_clips.py:
# camera noise, fast pans, a static shot, fades, many cuts, a mostly black
# clip, hand-held shake, a turning picture, flashes, film grain, fast action,
# rolling credits and a ticker, a small moving object; 320x240 to 1280x720
# including 720x576 at 25 and 854x480 at 24000/1001 frames a second; 6-45 s,
# each with sound): for every clip and
# requested rate, requested vs achieved kbit/s, the largest one-second peak
# over the average, luma PSNR of the first second / middle / last second,
# the last second's lambda over the middle's (the squeeze at the end) and
# frames per CPU second; then --size requests worth the lowest and the
# highest rate. With --check the exit status is 1 when any request missed
# by more than 5 % or any second went above twice the average.
#
# usage: bench/rate.sh VORNTOOL [--kinds K1,K2] [--rates "K1 K2"] [--scale F]
#                      [--seconds S] [--work DIR] [--speed S] [--passes N]
#                      [--check]
set -eu

here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3
[ -x "$python" ] || python=python3
[ $# -ge 1 ] || { sed -n '2,16p' "$0"; exit 2; }
vorntool=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
shift
kinds=noise,fastpan,static,fades,cuts,dark,hd,small
kinds=$kinds,shake,rotate,flash,grain,action,scroll,object,pal,wide,long,short
rates="300 1200 6000"
scale=1
seconds=0
work=""
extra=""
check=0
while [ $# -gt 0 ]; do
    case $1 in
        --kinds) kinds=$2; shift 2 ;;
        --rates) rates=$2; shift 2 ;;
        --scale) scale=$2; shift 2 ;;
        --seconds) seconds=$2; shift 2 ;;
        --work) work=$2; shift 2 ;;
        --speed) extra="$extra --speed $2"; shift 2 ;;
        --passes) extra="$extra --passes $2"; shift 2 ;;
        --check) check=1; shift ;;
        *) echo "rate.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
if [ -z "$work" ]; then
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work"
"$python" "$here/rate_clips.py" "$work" --kinds "$kinds" --scale "$scale" --seconds "$seconds" \
    >"$work/clips.txt"

cpu_seconds() { awk '{s = $1 + $2} END {print s}' "$1"; }
# encode LABEL CLIP WAV FPS REQUEST [SIZE]: one table line.
encode() {
    label=$1 clip=$2 wav=$3 fps=$4
    shift 4
    /usr/bin/time -f "%U %S" -o "$work/time" \
        "$vorntool" encode "$clip" --audio "$wav" -o "$work/out.vxn" --stats --quiet --threads 1 \
        $extra "$@" >"$work/stats.txt"
    case $1 in
        --bitrate) "$python" "$here/rate_report.py" "$label" "$2" "$fps" "$(cpu_seconds "$work/time")" \
                       <"$work/stats.txt" ;;
        --size) "$python" "$here/rate_report.py" "$label" 0 "$fps" "$(cpu_seconds "$work/time")" \
                    "$2" "$(wc -c <"$work/out.vxn")" <"$work/stats.txt" ;;
    esac
}

printf '%-22s %7s %7s %7s %5s %6s %6s %6s %5s %6s\n' clip kbit/s got miss peak \
    psnr-1st mid last l-end fps
: >"$work/rows.txt"
fps_of() { echo "$1" | awk -F: '{print $1 / $2}'; }
while read -r kind clip wav secs frame_rate; do
    for rate in $rates; do
        encode "$kind $rate" "$clip" "$wav" "$(fps_of "$frame_rate")" --bitrate "$rate" | tee -a "$work/rows.txt"
    done
done <"$work/clips.txt"
# Sizes: the lowest and the highest rate over the clip's length.
low=$(echo $rates | awk '{print $1}')
high=$(echo $rates | awk '{print $NF}')
while read -r kind clip wav secs frame_rate; do
    for rate in $low $high; do
        size=$(echo "$secs $rate" | awk '{printf "%d", $1 * $2 * 125}')
        encode "$kind size $size" "$clip" "$wav" "$(fps_of "$frame_rate")" --size "$size" | tee -a "$work/rows.txt"
    done
done <"$work/clips.txt"
if [ $check = 1 ]; then
    # Columns from the end: fps l-end last mid first peak miss.
    awk '{miss = $(NF - 6); sub("%", "", miss); peak = $(NF - 5)
          if (miss + 0 > 5 || miss + 0 < -5 || peak + 0 > 2) { print "rate.sh: missed: " $0; bad = 1 } }
         END { exit bad }' "$work/rows.txt"
fi
