#!/bin/sh
# Rate-distortion and speed of `vorntool encode` against the classic
# encoders: renders a clip from photographs (bench/rd_clip.py), encodes it
# with vorntool at several bit rates and with the peers at the rates vorntool
# achieved, decodes everything and prints codec, kbit/s, luma PSNR (of the
# whole clip, and the mean of the frames' own), luma SSIM and encode speed
# (frames per second of CPU time, one thread), then the BD-rate of vorntool
# against each peer on either PSNR (negative: vorntool needs fewer bits).
#
# usage: bench/rd.sh VORNTOOL [--frames N] [--size WxH] [--rates "K1 K2 ..."]
#                    [--peers "mpeg1 theora vp8"] [--speed S] [--work DIR]
#                    [--clip FILE.y4m]
# --clip measures a clip of your own (4:2:0 Y4M, any size and frame rate)
# instead of rendering one; --frames and --size then do not apply.
# The peers come from scripts/setup.sh (mjpegtools, mpeg2dec, libtheora-bin,
# vpx-tools); a peer that is not installed is left out.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3
[ -x "$python" ] || python=python3

[ $# -ge 1 ] || { sed -n '2,15p' "$0"; exit 2; }
vorntool=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
shift
frames=150
size=640x480
rates="300 600 1200 2400 4500"
peers="mpeg1 theora vp8"
speed=""
work=""
gop=150
own_clip=""
while [ $# -gt 0 ]; do
    case $1 in
        --frames) frames=$2; shift 2 ;;
        --size) size=$2; shift 2 ;;
        --rates) rates=$2; shift 2 ;;
        --peers) peers=$2; shift 2 ;;
        --speed) speed="--speed $2"; shift 2 ;;
        --work) work=$2; shift 2 ;;
        --clip) own_clip=$2; shift 2 ;;
        *) echo "rd.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
if [ -z "$work" ]; then
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work"
clip=$work/clip.y4m
if [ -n "$own_clip" ]; then
    [ -r "$own_clip" ] || { echo "rd.sh: cannot read $own_clip" >&2; exit 2; }
    ln -sf "$(cd "$(dirname "$own_clip")" && pwd)/$(basename "$own_clip")" "$clip"
    # Frames and frame rate from the clip itself.
    set -- $("$python" "$here/rd_measure.py" frames "$clip")
    frames=$1 rate=$2
else
    rate=30
    "$python" "$here/rd_clip.py" "$clip" --size "$size" --frames "$frames" --rate "$rate"
fi
seconds=$(echo "$frames $rate" | awk '{print $1 / $2}')
table=$work/table.txt
: >"$table"

# cpu_seconds FILE: user + system seconds that /usr/bin/time -f wrote.
cpu_seconds() { awk '{s = $1 + $2} END {print s}' "$1"; }
timed() { /usr/bin/time -f "%U %S" -o "$work/time" "$@"; }

# row CODEC FILE DECODED: measures and appends one table line.
row() {
    bytes=$(wc -c <"$2")
    kbps=$(echo "$bytes $seconds" | awk '{printf "%.0f", $1 * 8 / $2 / 1000}')
    cpu=$(cpu_seconds "$work/time")
    fps=$(echo "$frames $cpu" | awk '{printf "%.1f", ($2 > 0) ? $1 / $2 : 0}')
    set -- "$1" "$kbps" $("$python" "$here/rd_measure.py" quality "$clip" "$3") "$fps"
    echo "$1 $2 $3 $4 $7 $6" >>"$table"
    printf '%-8s %8s %8s %8s %8s %8s\n' "$1" "$2" "$3" "$6" "$4" "$7"
}

have() { command -v "$1" >/dev/null 2>&1; }

printf '%-8s %8s %8s %8s %8s %8s\n' codec kbit/s PSNR-Y PSNR-Y-F SSIM fps
achieved=""
for k in $rates; do
    out=$work/vorn_$k.vxn
    # shellcheck disable=SC2086
    timed "$vorntool" encode "$clip" -o "$out" --bitrate "$k" --keyint "$gop" --threads 1 \
        --quiet $speed
    "$vorntool" decode "$out" --video "$work/vorn.y4m"
    row vorn "$out" "$work/vorn.y4m"
    achieved="$achieved $(tail -n 1 "$table" | cut -d' ' -f2)"
done

for peer in $peers; do
    for k in $achieved; do
        case $peer in
            mpeg1)
                have mpeg2enc && have mpeg2dec || continue
                out=$work/peer_$k.m1v
                # A decoder buffer of a few frames at every rate.
                timed mpeg2enc -v 0 -f 0 -a 1 -b "$k" -V 512 -g 12 -G "$gop" -o "$out" \
                    <"$clip" 2>/dev/null || { echo "mpeg1 at $k kbit/s failed" >&2; continue; }
                mpeg2dec -o pgmpipe "$out" >"$work/peer.pgm" 2>/dev/null
                row mpeg1 "$out" "$work/peer.pgm" ;;
            theora)
                have theora_encoder_example && have theora_dump_video || continue
                out=$work/peer_$k.ogv
                timed theora_encoder_example -V "$k" -k "$gop" -o "$out" "$clip" 2>/dev/null ||
                    { echo "theora at $k kbit/s failed" >&2; continue; }
                theora_dump_video "$out" >"$work/peer.y4m" 2>/dev/null
                row theora "$out" "$work/peer.y4m" ;;
            vp8)
                have vpxenc && have vpxdec || continue
                out=$work/peer_$k.ivf
                timed vpxenc -q --codec=vp8 --good --cpu-used=1 --threads=1 --end-usage=vbr \
                    --target-bitrate="$k" --kf-max-dist="$gop" -o "$out" "$clip" ||
                    { echo "vp8 at $k kbit/s failed" >&2; continue; }
                vpxdec -o "$work/peer.y4m" "$out"
                row vp8 "$out" "$work/peer.y4m" ;;
        esac
    done
done

echo
for peer in mpeg1 theora vp8; do
    grep -q "^$peer " "$table" || continue
    printf 'BD-rate vorn vs %-7s %s (PSNR-Y-F: %s)\n' "$peer" \
        "$("$python" "$here/rd_measure.py" bd "$table" vorn "$peer")" \
        "$("$python" "$here/rd_measure.py" bd "$table" vorn "$peer" 6)"
done
