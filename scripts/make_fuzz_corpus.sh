#!/bin/sh
# Regenerates the fuzzers' seed corpora in fuzz/corpus/ from movies made by
# vorntool (demo, then re-encoded in every version, grey and with alpha).
# Usage: scripts/make_fuzz_corpus.sh [path/to/vorntool]
set -eu
cd "$(dirname "$0")/.."
T=${1:-build/native/tools/vorntool/vorntool}
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT

$T demo -o "$W/demo.vxn" --size 64x48 --seconds 1
$T decode "$W/demo.vxn" --video "$W/demo.y4m" --frames 8 --alpha "$W/alpha.y4m" 2>/dev/null ||
  $T decode "$W/demo.vxn" --video "$W/demo.y4m" --frames 8
$T decode "$W/demo.vxn" --audio "$W/demo.wav"
cp "$W/demo.y4m" "$W/alpha.y4m"
$T encode "$W/demo.y4m" --audio "$W/demo.wav" -o "$W/i.vxn" --keyint 4 --quality 40
$T encode "$W/demo.y4m" -o "$W/g_grey.vxn" --version g --grey --keyint 3
$T encode "$W/demo.y4m" --audio "$W/demo.wav" --audio-variant rdft -o "$W/h_alpha.vxn" \
  --version h --alpha "$W/alpha.y4m" --keyint 5
$T encode "$W/demo.y4m" -o "$W/f.vxn" --version f --quality 90 --frames 3

python3 - "$W" <<'PY'
import os, struct, sys
work = sys.argv[1]
def word(b, o): return struct.unpack_from("<I", b, o)[0]
rates = [11025, 22050, 44100, 8000, 48000, 32000, 1, 65535]
for d in ("fuzz_movie", "fuzz_libvorn", "fuzz_video_frame", "fuzz_audio_packet", "fuzz_command_line"):
    os.makedirs(os.path.join("fuzz/corpus", d), exist_ok=True)
for name in sorted(os.listdir(work)):
    if not name.endswith(".vxn"): continue
    movie = open(os.path.join(work, name), "rb").read()
    open(os.path.join("fuzz/corpus/fuzz_movie", name), "wb").write(movie)
    open(os.path.join("fuzz/corpus/fuzz_libvorn", name), "wb").write(movie)
    version = chr(movie[3]); frames = word(movie, 8); w = word(movie, 20); h = word(movie, 24)
    vflags = word(movie, 36); n = word(movie, 40)
    formats = [word(movie, 44 + 4 * n + 4 * t) for t in range(n)]
    index = 44 + 12 * n
    for f in range(min(frames, 4)):
        start = word(movie, index + 4 * f) & ~1; end = word(movie, index + 4 * f + 4) & ~1
        pos = start
        for t in range(n):
            size = word(movie, pos); payload = movie[pos + 4: pos + 4 + size]; pos += 4 + size
            if size > 4:
                fmt = formats[t]
                kind = rates.index(fmt & 0xFFFF) if (fmt & 0xFFFF) in rates else 1
                kind |= 8 if fmt & 0x20000000 else 0
                kind |= 16 if (fmt & 0x10000000) and not (fmt & 0x80000000) else 0
                open(f"fuzz/corpus/fuzz_audio_packet/{name}-{f}-{t}", "wb").write(bytes([kind]) + payload[4:])
        if (w, h) == (64, 48):
            mode = 3 | (0x08 if vflags & 0x100000 else 0) | (0x10 if vflags & 0x20000 else 0)
            mode |= 0x20 if version in "fgh" else 0
            open(f"fuzz/corpus/fuzz_video_frame/{name}-{f}", "wb").write(bytes([mode]) + movie[pos:end])
texts = ["film", "/L /P film.vxn", ":141824 /l /c /a4", "/F12.5 /W /H a.vxn,b", "/F2.5;1.5 \"my movie\"",
         "/-L /L2 x", "/T0 /M0 /E-1 m", "film.vxn|1024", "/D640x480x16 /B3 /Q /S z", "/!",
         "~~~~\n/X", "/Z /K /N /C movie, \"two words\", three",
         "-L2\t/tmp\t--fps=12.5\t--\t-x", ":141824 /l /c\n--loop=3\t/etc/hosts\t/etc/hosts|12\t-h"]
for i, t in enumerate(texts):
    open(f"fuzz/corpus/fuzz_command_line/seed{i}", "wb").write(t.encode())
PY

# The readers of outside data: pictures, sound, the encoder on both, the
# info report, and playback with refused allocations (8 mask bytes first).
$T demo -o "$W/small.vxn" --size 16x16 --seconds 0.1 --scene shapes --version f
$T decode "$W/small.vxn" --video "$W/small.y4m"
python3 - "$W" <<'PY'
import os, struct, sys
work = sys.argv[1]
for d in ("fuzz_y4m", "fuzz_wav", "fuzz_encode", "fuzz_info_json", "fuzz_movie_faults"):
    os.makedirs(os.path.join("fuzz/corpus", d), exist_ok=True)
def wav(channels, rate, bits, data):
    b = bits // 8
    return (b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt " +
            struct.pack("<IHHIIHH", 16, 1, channels, rate, rate * channels * b, channels * b, bits) +
            b"data" + struct.pack("<I", len(data)) + data)
demo_wav = open(os.path.join(work, "demo.wav"), "rb").read()
data = demo_wav[demo_wav.index(b"data") + 8:]
channels, rate = struct.unpack_from("<HI", demo_wav, 22)
pcm = data[20000:20000 + 400 * 2 * channels]
samples = struct.unpack("<%dh" % (len(pcm) // 2), pcm)
stereo16 = wav(channels, rate, 16, pcm)
mono8 = wav(1, 11025, 8, bytes(((s >> 8) + 128) & 255 for s in samples[::channels]))
small = open(os.path.join(work, "small.y4m"), "rb").read()
header = small.split(b"\n", 1)[0]
mono = header.replace(b"C420jpeg", b"Cmono") + b"\n" + (b"FRAME\n" + bytes(256)) * 2
full = header.replace(b"C420jpeg", b"C444") + b"\n" + (b"FRAME\n" + bytes(range(256)) * 3) * 2
seeds = {
    "fuzz_y4m/shapes_420.y4m": small, "fuzz_y4m/shapes_mono.y4m": mono,
    "fuzz_y4m/shapes_444.y4m": full,
    "fuzz_wav/stereo16.wav": stereo16, "fuzz_wav/mono8.wav": mono8,
    "fuzz_encode/f_shapes_mono8": b"\x00\x4a" + small + mono8,
    "fuzz_encode/i_alpha_stereo16": b"\x0b\x20" + mono + stereo16,
    "fuzz_encode/g_grey_rdft": b"\x16\x63" + small + stereo16,
    "fuzz_encode/g_444_silent": b"\x01\x01" + full,
}
for name in sorted(os.listdir(work)):
    if name.endswith(".vxn"):
        movie = open(os.path.join(work, name), "rb").read()
        seeds["fuzz_info_json/" + name] = movie
        seeds["fuzz_movie_faults/none_" + name] = bytes(8) + movie
        seeds["fuzz_movie_faults/every_other_" + name] = b"\x55\x55" + bytes(6) + movie
for path, content in seeds.items():
    open(os.path.join("fuzz/corpus", path), "wb").write(content)
PY
du -sh fuzz/corpus/*
