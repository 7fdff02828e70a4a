#!/bin/sh
# The Linux player as a user meets it, on a private X server (xvfb-run) and a
# private PipeWire null sink: a generated still movie with a tone is played
# by absolute path; the sink's monitor must hear the tone for the movie's
# length (within 5 %), a screenshot of the window must equal the converted
# frame, --fullscreen must fill the real screen, --help exits 0, a missing
# file and a missing display exit 1 with a message, and the installed
# desktop files must declare the movie type.
#
#   linux_player_test.sh VORNPLAY VORNTOOL BUILD_DIR SOURCE_DIR WORK_DIR
# Exit 77 (skipped) when a needed tool is missing.
set -u
P=$1 T=$2 BUILD=$3 SRC=$4 W=$5
PY=/usr/bin/python3
SECONDS_LONG=4

skip() { echo "SKIPPED: $*"; exit 77; }
for tool in xvfb-run pipewire wireplumber pipewire-pulse pactl parec import; do
    command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
done
[ -x "$PY" ] && "$PY" -c 'import numpy, PIL' 2>/dev/null || skip "python3 with numpy and PIL is needed"

rm -rf "$W" && mkdir -p "$W" || exit 1
W=$(cd "$W" && pwd)
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

# ---- The movie: a still picture without black, and a 440 Hz tone ------------------
"$PY" - "$W" "$SECONDS_LONG" <<'PYEOF' || exit 1
import sys, wave, math, struct
import numpy as np
w, h, fps = 320, 240, 25
out, seconds = sys.argv[1], int(sys.argv[2])
x = np.arange(w)[None, :]; y = np.arange(h)[:, None]
Y = (70 + (x * 140) // w + (y // 60) * 5).astype(np.uint8) + np.zeros((h, w), np.uint8)
cx = np.arange(w // 2)[None, :]; cy = np.arange(h // 2)[:, None]
U = (60 + (cy * 130) // (h // 2) + np.zeros((1, w // 2), int)).astype(np.uint8)
V = (200 - (cx * 120) // (w // 2) + np.zeros((h // 2, 1), int)).astype(np.uint8)
frame = Y.tobytes() + U.tobytes() + V.tobytes()
with open(out + "/still.y4m", "wb") as f:
    f.write(b"YUV4MPEG2 W%d H%d F%d:1 Ip A1:1 C420jpeg\n" % (w, h, fps))
    for _ in range(fps * seconds):
        f.write(b"FRAME\n" + frame)
rate = 44100
with wave.open(out + "/tone.wav", "wb") as wv:
    wv.setnchannels(2); wv.setsampwidth(2); wv.setframerate(rate)
    n = rate * seconds
    t = np.arange(n) / rate
    s = (np.sin(2 * math.pi * 440 * t) * 12000).astype("<i2")
    wv.writeframes(np.repeat(s, 2).tobytes())
PYEOF
"$T" encode "$W/still.y4m" --audio "$W/tone.wav" -o "$W/still movie.vxn" >/dev/null || exit 1
mkdir -p "$W/frames" && "$T" decode "$W/still movie.vxn" --pixels bgrx32 -o "$W/frame.raw" --frames 1 --png "$W/frames" >/dev/null || exit 1
REF=$(ls "$W"/frames/*.png | head -n 1)
[ -n "$REF" ] || { echo "no converted frame"; exit 1; }

# ---- The audio server, stopped whatever happens ------------------------------------------
# A short path: the server's socket paths must stay within the system's limit.
AUDIO=$(mktemp -d /tmp/vorn-audio.XXXXXX) || exit 1
REC=""
trap '[ -n "$REC" ] && kill "$REC" 2>/dev/null; sh "$SRC/scripts/pw-null-sink.sh" stop "$AUDIO" >/dev/null 2>&1; rm -rf "$AUDIO"' EXIT INT TERM
eval "$(sh "$SRC/scripts/pw-null-sink.sh" start "$AUDIO")" || skip "the PipeWire null sink did not start"

unset SDL_VIDEODRIVER SDL_AUDIODRIVER

# ---- Play by absolute path, recording the sink and taking screenshots ------------------
cat >"$W/inside.sh" <<'INEOF'
#!/bin/sh
# inside.sh W PLAYER MOVIE SHOT_PREFIX DELAY [player switches]: plays in the
# background and takes three screenshots DELAY s apart.
W=$1 P=$2 M=$3 S=$4 D=$5
shift 5
"$P" "$@" "$M" >"$W/$S.out" 2>"$W/$S.err" & pid=$!
for i in 1 2 3; do sleep "$D"; import -window root "$W/$S$i.png" 2>/dev/null; done
wait $pid
echo $? >"$W/$S.rc"
INEOF
parec -d nullsink.monitor --format=s16le --rate=48000 --channels=2 --raw --latency-msec=100 \
    >"$W/rec.raw" & REC=$!
sleep 0.5
timeout 120 xvfb-run -a -s "-screen 0 1024x768x24" sh "$W/inside.sh" "$W" "$P" "$W/still movie.vxn" shot 1 --summary
sleep 0.7
kill "$REC"; wait "$REC" 2>/dev/null; REC=""
[ "$(cat "$W/shot.rc")" = 0 ] && pass "played by absolute path" || fail "player exit $(cat "$W/shot.rc"): $(cat "$W/shot.err")"
grep -q "^Sound: SDL" "$W/shot.err" && pass "summary names the sound" || fail "summary sound line: $(grep Sound: "$W/shot.err")"

"$PY" - "$W/rec.raw" "$SECONDS_LONG" <<'PYEOF' && pass "sound heard for the movie's length" || fail "sound"
import sys
import numpy as np
a = np.fromfile(sys.argv[1], dtype="<i2").reshape(-1, 2).astype(float)
want = float(sys.argv[2])
blk = 480  # 10 ms at 48 kHz
n = len(a) // blk
if n == 0: sys.exit("nothing recorded")
rms = np.sqrt((a[:n * blk].reshape(n, blk, 2) ** 2).mean(axis=(1, 2)))
loud = np.where(rms > 1000)[0]
if len(loud) == 0: sys.exit("the monitor stayed silent (peak rms %.0f)" % rms.max())
span = (loud[-1] + 1 - loud[0]) * blk / 48000.0
gaps = int((rms[loud[0]:loud[-1] + 1] < 1000).sum())
print("sound: %.2f s heard of %.2f s, rms %.0f, %d silent 10 ms blocks inside" % (span, want, rms[loud].mean(), gaps))
sys.exit(0 if abs(span - want) <= 0.05 * want else "length off by more than 5 %")
PYEOF

cat >"$W/compare.py" <<'PYEOF'
# compare.py REF SHOT...: the window's picture (the non-black box) equals REF
# in one of the shots; --fill SHOT...: a shot is non-black over the whole
# screen; --box WxH SHOT: the picture in the shot has that size.
import sys
import numpy as np
from PIL import Image
args = sys.argv[1:]
if args[0] == "--box":
    want = tuple(int(v) for v in args[1].split("x"))
    s = np.asarray(Image.open(args[2]).convert("RGB")).astype(int)
    ys, xs = np.where(s.max(axis=2) > 24)
    got = (xs.max() + 1 - xs.min(), ys.max() + 1 - ys.min()) if len(xs) else (0, 0)
    print("%s: picture %dx%d" % (args[2], got[0], got[1]))
    sys.exit(0 if got == want else "picture %dx%d, not %dx%d" % (got + want))
if args[0] == "--fill":
    for shot in args[1:]:
        s = np.asarray(Image.open(shot).convert("RGB")).astype(int)
        lit = (s.max(axis=2) > 24).mean()
        print("%s: %dx%d, %.1f %% lit" % (shot, s.shape[1], s.shape[0], lit * 100))
        if lit > 0.99: sys.exit(0)
    sys.exit("no shot fills the screen")
ref = np.asarray(Image.open(args[0]).convert("RGB")).astype(int)
for shot in args[1:]:
    s = np.asarray(Image.open(shot).convert("RGB")).astype(int)
    ys, xs = np.where(s.max(axis=2) > 24)
    if len(xs) == 0: continue
    box = s[ys.min():ys.max() + 1, xs.min():xs.max() + 1]
    print("%s: picture %dx%d at (%d, %d)" % (shot, box.shape[1], box.shape[0], xs.min(), ys.min()))
    if box.shape != ref.shape: continue
    d = np.abs(box - ref)
    print("  difference: mean %.3f, max %d" % (d.mean(), d.max()))
    if d.mean() < 1.0 and d.max() <= 8: sys.exit(0)
sys.exit("no screenshot shows the converted frame")
PYEOF
"$PY" "$W/compare.py" "$REF" "$W/shot1.png" "$W/shot2.png" "$W/shot3.png" \
    && pass "window shows the converted frame" || fail "screenshot"

# ---- Full screen is the real screen (not a nominal 1024x768) -------------------------
timeout 120 xvfb-run -a -s "-screen 0 800x600x24" sh "$W/inside.sh" "$W" "$P" "$W/still movie.vxn" full 1 --fullscreen
"$PY" "$W/compare.py" --fill "$W/full1.png" "$W/full2.png" "$W/full3.png" \
    && pass "--fullscreen fills an 800x600 screen" || fail "full screen"

# ---- Keys and a resized window: the picture keeps its proportions ------------------------
if command -v xdotool >/dev/null 2>&1; then
    cat >"$W/keys.sh" <<'INEOF'
#!/bin/sh
# keys.sh W PLAYER MOVIE: resize the window, f, f, q; a screenshot after each.
W=$1 P=$2 M=$3
"$P" --loop "$M" >"$W/keys.out" 2>"$W/keys.err" & pid=$!
wid=$(xdotool search --sync --onlyvisible --name "still movie.vxn" | head -n 1)
xdotool getwindowname "$wid" >"$W/keys.title"
xdotool windowsize "$wid" 480 480; sleep 0.6; import -window root "$W/key1.png"
xdotool key --window "$wid" f; sleep 0.6; import -window root "$W/key2.png"
xdotool key --window "$wid" f; sleep 0.6; import -window root "$W/key3.png"
xdotool key --window "$wid" q
wait $pid
echo $? >"$W/keys.rc"
INEOF
    timeout 120 xvfb-run -a -s "-screen 0 1024x768x24" sh "$W/keys.sh" "$W" "$P" "$W/still movie.vxn"
    grep -qx "still movie.vxn 00:00 / 00:0$SECONDS_LONG - Vorn Video Player" "$W/keys.title" \
        && pass "title shows the file name" || fail "title: $(cat "$W/keys.title")"
    "$PY" "$W/compare.py" --box 480x360 "$W/key1.png" && "$PY" "$W/compare.py" --fill "$W/key2.png" \
        && "$PY" "$W/compare.py" --box 480x360 "$W/key3.png" \
        && pass "a 480x480 window shows 480x360 with bars; f fills the screen and comes back" \
        || fail "resize and full-screen toggle"
    [ "$(cat "$W/keys.rc")" = 0 ] && pass "q quits an endless loop" || fail "q: exit $(cat "$W/keys.rc")"

    # Seeking while paused shows the new frame at once; a click on the picture resumes.
    "$T" demo -o "$W/moving.vxn" --size 160x120 --seconds 8 >/dev/null 2>&1 || fail "demo movie"
    cat >"$W/seek.sh" <<'INEOF'
#!/bin/sh
# seek.sh W PLAYER MOVIE: Space, Right, Home, a click on the picture, q; the
# title and a screenshot after each.
W=$1 P=$2 M=$3
"$P" "$M" >"$W/seek.out" 2>"$W/seek.err" & pid=$!
wid=$(xdotool search --sync --onlyvisible --name "moving.vxn" | head -n 1)
sleep 0.3
step() {
    xdotool "$@"; sleep 0.5
    xdotool getwindowname "$wid" >>"$W/seek.titles"; import -window root "$W/seek$(wc -l <"$W/seek.titles").png"
}
step key --window "$wid" space
step key --window "$wid" Right
step key --window "$wid" Home
eval "$(xdotool getwindowgeometry --shell "$wid")"
step mousemove --window "$wid" $((WIDTH / 2)) $((HEIGHT / 2)) click 1
xdotool key --window "$wid" q
wait $pid
INEOF
    xvfb-run -a -s "-screen 0 640x480x24" sh "$W/seek.sh" "$W" "$P" "$W/moving.vxn"
    sed -n 2p "$W/seek.titles" | grep -qx "moving.vxn 00:0[5-6] / 00:08 (paused) - Vorn Video Player" \
        && sed -n 3p "$W/seek.titles" | grep -qx "moving.vxn 00:00 / 00:08 (paused) - Vorn Video Player" \
        && sed -n 4p "$W/seek.titles" | grep -qx "moving.vxn 00:0[0-1] / 00:08 - Vorn Video Player" \
        && pass "Right and Home move a paused movie; a click on the picture resumes it" \
        || fail "seek keys: $(tr '\n' '|' <"$W/seek.titles")"
    "$PY" - "$W/seek1.png" "$W/seek2.png" "$W/seek3.png" <<'PYEOF' \
        && pass "the picture changes with each jump while paused" || fail "seek screenshots"
import sys
import numpy as np
from PIL import Image
a, b, c = (np.asarray(Image.open(f).convert("RGB")).astype(int) for f in sys.argv[1:4])
d1, d2 = np.abs(a - b).mean(), np.abs(b - c).mean()
print("paused -> Right: %.2f, Right -> Home: %.2f" % (d1, d2))
sys.exit(0 if d1 > 1 and d2 > 1 else 1)
PYEOF
else
    echo "note: xdotool is not installed: keys and resizing not checked"
fi

# ---- Messages and exit codes ----------------------------------------------------------------
"$P" --help >"$W/help.out" 2>&1; rc=$?
[ $rc = 0 ] && grep -q "^Usage: vornplay" "$W/help.out" && pass "--help exits 0" || fail "--help exit $rc"
"$P" "$W/no such.vxn" >"$W/missing.out" 2>&1; rc=$?
[ $rc = 1 ] && grep -q "cannot open '$W/no such.vxn': No such file or directory" "$W/missing.out" \
    && pass "missing file: exit 1 with its name" || fail "missing file exit $rc: $(cat "$W/missing.out")"
env -u DISPLAY -u WAYLAND_DISPLAY "$P" "$W/still movie.vxn" >"$W/nodisplay.out" 2>&1; rc=$?
[ $rc = 1 ] && grep -q "no display" "$W/nodisplay.out" \
    && pass "no display: exit 1 with a message" || fail "no display exit $rc: $(cat "$W/nodisplay.out")"

# ---- Installed desktop files --------------------------------------------------------------
if cmake --install "$BUILD" --prefix "$W/prefix" >/dev/null; then
    D=$W/prefix/share
    if [ -x "$W/prefix/bin/vornplay" ] && grep -q "^MimeType=video/x-vorn;" "$D/applications/vornplay.desktop" \
        && [ -f "$D/icons/hicolor/scalable/apps/vornplay.svg" ] && [ -f "$D/mime/packages/vorn.xml" ]; then
        pass "installed player, desktop entry, movie type and icon"
    else
        fail "installed files"
    fi
    if command -v update-mime-database >/dev/null 2>&1 && command -v gio >/dev/null 2>&1; then
        update-mime-database "$D/mime" >/dev/null 2>&1
        cp "$W/still movie.vxn" "$W/no_extension"
        types=$(XDG_DATA_HOME=$D XDG_DATA_DIRS=$D:/usr/share gio info -a standard::content-type \
            "$W/still movie.vxn" "$W/no_extension" 2>/dev/null | grep -c "content-type: video/x-vorn")
        [ "$types" = 2 ] && pass "movie type by name and by signature" || fail "movie type ($types of 2)"
    fi
else
    fail "cmake --install"
fi

[ $failures = 0 ] && echo "all desktop checks passed" || echo "$failures desktop checks failed"
exit $((failures != 0))
