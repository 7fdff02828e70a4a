#!/bin/bash
# vorntool in pipelines with the usual Y4M and WAV tools (mjpegtools,
# vpx-tools, sox): standard input and output, the formats those tools
# write, and what comes back out of them.
# Usage: media_pipes.sh path/to/vorntool WORK_DIR   (exit 77: a tool is missing)
set -u -o pipefail
T=$1
W=$2
for tool in vpxenc vpxdec y4mcolorbars y4mscaler png2yuv mpeg2enc sox; do
  command -v "$tool" >/dev/null || { echo "media_pipes: $tool is not installed (scripts/setup.sh)"; exit 77; }
done
rm -rf "$W" && mkdir -p "$W" && cd "$W" || exit 1

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
# expect NAME ACTUAL WANTED
expect() { if [ "$2" = "$3" ]; then pass "$1"; else fail "$1: got '$2', wanted '$3'"; fi; }
frames() { "$T" info "$1" | sed -n 's/^frames: //p'; }

"$T" demo -o demo.vxn --size 64x48 --seconds 1 || { echo "demo failed"; exit 1; }
frame_bytes=$((64 * 48 * 3 / 2))

# Pictures out to standard output, through a VP8 round trip, and back in.
"$T" decode demo.vxn --video - | vpxenc --passes=1 --quiet - -o demo.webm 2>/dev/null
expect "decode --video - | vpxenc | vpxdec" "$(vpxdec --i420 -o - demo.webm 2>/dev/null | wc -c)" $((30 * frame_bytes))
vpxdec -o - demo.webm 2>/dev/null | "$T" encode - -o from_vpx.vxn 2>/dev/null
expect "vpxdec | encode -" "$(frames from_vpx.vxn)" 30

# mjpegtools: colour bars in, scaled and 4:2:2 streams, MPEG-2 out.
y4mcolorbars -n 10 -W 64 -H 48 2>/dev/null | "$T" encode - -o bars.vxn
expect "y4mcolorbars | encode -" "$(frames bars.vxn)" 10
"$T" decode bars.vxn --video - | y4mscaler -O size=32x32 2>/dev/null | mpeg2enc -f 3 -b 500 -o bars.m2v >/dev/null 2>&1
[ -s bars.m2v ] && pass "decode --video - | y4mscaler | mpeg2enc" || fail "mpeg2enc wrote nothing"
"$T" decode demo.vxn --video - | y4mscaler -O chromass=422 2>/dev/null | "$T" encode - -o c422.vxn
expect "y4mscaler chromass=422 | encode -" "$(frames c422.vxn)" 30
mkdir png && "$T" decode demo.vxn --pixels rgb24 -o - --png png | wc -c >pixels.count
expect "decode --pixels rgb24 -o -" "$(cat pixels.count)" $((30 * 64 * 48 * 3))
png2yuv -I p -f 30 -b 1 -j png/frame_%05d.png 2>/dev/null | "$T" encode - -o from_png.vxn
expect "png2yuv | encode -" "$(frames from_png.vxn)" 30
"$T" decode demo.vxn --video - | "$T" encode - -o - >piped.vxn
expect "decode --video - | encode - -o -" "$(frames piped.vxn)" 30

# sox: sound from standard input, longer than the pictures (the last
# picture is held), and sound to standard output.
"$T" decode demo.vxn --video clip.y4m
sox -n -r 22050 -c 2 -t wav - synth 2.5 sine 440 2>/dev/null |
  "$T" encode clip.y4m --audio - -o song.vxn 2>song.err
expect "sox | encode --audio - (held picture)" "$(frames song.vxn)" 75
grep -q "the last picture is held" song.err && pass "held-picture note" || fail "no held-picture note: $(cat song.err)"
length=$("$T" decode song.vxn --audio - | sox -t wav - -n stat 2>&1 | sed -n 's/^Length (seconds): *//p')
awk -v l="$length" 'BEGIN { exit !(l >= 2.5) }' && pass "decode --audio - | sox: $length s" || fail "sound length '$length'"
sox -n -r 96000 -b 24 -c 6 -t wav - synth 1 sine 440 2>/dev/null |
  "$T" encode clip.y4m --audio - -o surround.vxn 2>surround.err
expect "96 kHz 24-bit 5.1 via sox: rate" "$("$T" info surround.vxn | sed -n 's/^track.0.rate: //p')" 48000
expect "96 kHz 24-bit 5.1 via sox: channels" "$("$T" info surround.vxn | sed -n 's/^track.0.channels: //p')" 2
expect "notes on the conversions" "$(grep -c -e 'rounded to 16 bits' -e 'mixed down to stereo' -e 'resampled from 96000 Hz to 48000 Hz' surround.err)" 3

# Unsigned 8-bit sound comes back byte for byte.
sox -n -r 8000 -b 8 -e unsigned -c 1 u8.wav synth 2 sine 300 vol 0.5 2>/dev/null
"$T" encode clip.y4m --audio u8.wav --audio-quality 100 -o u8.vxn 2>/dev/null
"$T" decode u8.vxn --audio u8_back.wav
if cmp -s <(sox u8.wav -t raw -) <(sox u8_back.wav -t raw -); then pass "u8 WAV round trip"; else fail "u8 WAV differs"; fi

# Refusals: what is wrong is named; usage errors exit 2, failed inputs 1.
sox -n -r 22050 -t aiff tone.aiff synth 0.2 sine 440 2>/dev/null
"$T" encode clip.y4m --audio tone.aiff -o x.vxn 2>aiff.err
expect "AIFF refused with 1" "$?" 1
grep -q "an AIFF file" aiff.err && pass "AIFF named" || fail "AIFF not named: $(cat aiff.err)"
"$T" encode - --audio - -o x.vxn </dev/null 2>/dev/null
expect "two inputs from standard input" "$?" 2

[ "$failures" = 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "all pipelines passed"
