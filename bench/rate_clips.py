#!/usr/bin/python3
"""Renders a varied set of test clips for the rate control (bench/rate.sh):
each a Y4M (4:2:0) made from the photographs of Debian's desktop background
package, with a WAV of the same length made by sox.

usage: rate_clips.py DIR [--kinds K1,K2,...] [--scale F] [--seconds S]
  kinds: noise fastpan static fades cuts dark hd small (the first set),
         shake rotate flash grain action scroll object pal wide long short
         (default all)
  --scale F   multiplies every width and height (for quick runs; even sizes)
  --seconds S overrides every clip's length
Prints one line per clip: KIND PATH.y4m PATH.wav SECONDS RATE_NUM:RATE_DEN."""
import argparse
import glob
import os
import subprocess
import sys
import zlib

import numpy as np
from PIL import Image, ImageDraw, ImageFont

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from rd_clip import rgb_to_yuv420  # noqa: E402

PHOTO_GLOB = "/usr/share/backgrounds/mate/nature/*.jpg"
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
RATE = 30  # frames per second of the kinds without their own rate

# kind: (width, height, seconds, sound: (rate, channels, sox synth words)
#        [, (frame rate numerator, denominator)])
KINDS = {
    "noise": (640, 480, 10, (44100, 2, "sine 220-880 pinknoise vol 0.3")),
    "fastpan": (640, 480, 8, (22050, 1, "pluck C3 pluck E4 vol 0.5")),
    "static": (320, 240, 12, (22050, 1, "sine 440 vol 0.4")),
    "fades": (640, 480, 12, (44100, 2, "sine 300-600 sine 500-200 vol 0.4")),
    "cuts": (640, 480, 20, (44100, 2, "pinknoise brownnoise vol 0.2")),
    "dark": (640, 480, 10, (22050, 2, "square 110 sine 660 vol 0.2")),
    "hd": (1280, 720, 6, (44100, 2, "sine 200-2000 pinknoise vol 0.3")),
    "small": (320, 240, 20, (11025, 1, "sine 330-990 vol 0.5")),
    # Hand-held: small random shifts and a slight rotation over a slow pan.
    "shake": (640, 480, 10, (44100, 2, "brownnoise sine 180 vol 0.3")),
    # A picture turning about its centre, about 20 degrees a second.
    "rotate": (640, 480, 8, (22050, 1, "sine 500-700 vol 0.4")),
    # Light rising and falling, with photographic flashes.
    "flash": (640, 480, 10, (44100, 2, "pinknoise sine 350 vol 0.3")),
    # Heavy film grain over a slow pan.
    "grain": (640, 480, 10, (44100, 2, "brownnoise vol 0.3")),
    # Fast action: 20-45 pixels a frame, turning and cut every second or so.
    "action": (640, 480, 8, (44100, 2, "whitenoise sine 100 vol 0.25")),
    # Credits rolling up, then a ticker running under a still photograph.
    "scroll": (640, 480, 10, (22050, 1, "sine 660 vol 0.3")),
    # A still shot with one small object moving about.
    "object": (640, 480, 12, (22050, 2, "sine 220 sine 330 vol 0.3")),
    # Broadcast-like sizes and rates.
    "pal": (720, 576, 10, (48000, 2, "sine 300-900 pinknoise vol 0.3"), (25, 1)),
    "wide": (854, 480, 10, (48000, 2, "pluck A2 pluck E3 vol 0.5"), (24000, 1001)),
    # A long and a short movie mixing the above.
    "long": (640, 480, 45, (44100, 2, "pinknoise sine 200-400 vol 0.25")),
    "short": (640, 480, 6, (22050, 1, "square 220 vol 0.2")),
}


class Photos:
    """The photographs, each loaded once at a size fit for the clip."""

    def __init__(self, width, factor=3.0):
        paths = sorted(glob.glob(PHOTO_GLOB))
        if not paths:
            sys.exit("rate_clips: no photographs found (install mate-backgrounds)")
        self.paths = paths
        self.width = width
        self.factor = factor
        self.cache = {}

    def get(self, index):
        path = self.paths[index % len(self.paths)]
        if path not in self.cache:
            photo = Image.open(path).convert("RGB")
            scale = min(1.0, self.factor * self.width / photo.size[0])
            if scale < 1.0:
                photo = photo.resize((round(photo.size[0] * scale), round(photo.size[1] * scale)),
                                     Image.LANCZOS)
            self.cache[path] = photo
        return self.cache[path]


def view(photo, width, height, cx, cy, scale, angle):
    """The width x height view centred on (cx, cy) of `photo`, `scale`
    photograph pixels to one output pixel, turned by `angle` radians."""
    cos, sin = scale * np.cos(angle), scale * np.sin(angle)
    a, b, d, e = cos, -sin, sin, cos
    c = cx - a * width / 2 - b * height / 2
    f = cy - d * width / 2 - e * height / 2
    picture = photo.transform((width, height), Image.AFFINE, (a, b, c, d, e, f), Image.BICUBIC)
    return np.asarray(picture, dtype=np.float32)


def crop(photo, width, height, x, y, zoom):
    """The view of `photo` at relative position (x, y) in 0..1 of its free
    room, `zoom` >= 1 narrowing the crop, resampled to width x height."""
    pw, ph = photo.size
    aspect = width / height
    crop_h = min(ph * 0.95, pw * 0.95 / aspect) / zoom
    crop_w = crop_h * aspect
    left = (pw - crop_w) * x
    top = (ph - crop_h) * y
    box = (left, top, left + crop_w, top + crop_h)
    return np.asarray(photo.resize((width, height), Image.LANCZOS, box=box), dtype=np.float32)


class Shots:
    """A clip as shots: (photo index, frames, motion) with motion a function
    from t in 0..1 to (x, y, zoom)."""

    def __init__(self, photos, width, height, rate=RATE):
        self.photos, self.width, self.height = photos, width, height
        self.rate = rate  # whole frames per second (rounded)

    def frame(self, photo, motion, t):
        x, y, zoom = motion(t)
        return crop(self.photos.get(photo), self.width, self.height, x, y, zoom)


def slow(t):
    return 0.3 + 0.4 * t, 0.4 + 0.2 * t, 1.0 + 0.25 * t


def fast(t):
    return t, 0.5 + 0.3 * np.sin(6 * t), 1.6


def still(_t):
    return 0.5, 0.5, 1.2


# The kinds below move the picture with `view` (any shift, turn or zoom from
# photographs kept at twice the clip's width) and run at shots.rate frames
# per second.

def affine_photos(shots):
    return Photos(shots.width, 2.0)


def fit_scale(photo, width, height, turning):
    """Photograph pixels per output pixel that leave room to move (and to
    turn: the view's diagonal inside the photograph)."""
    pw, ph = photo.size
    if turning:
        return min(1.0, 0.95 * min(pw, ph) / np.hypot(width, height))
    return min(1.0, 0.8 * pw / width, 0.8 * ph / height)


def shaky(shots, total, rng, photo_index=4, zoom_per_second=0.0):
    """Hand-held: a slow drift, a jitter of a few pixels that follows a
    smoothed random walk, and a slight rotation (about half a degree)."""
    photos = affine_photos(shots)
    photo = photos.get(photo_index)
    pw, ph = photo.size
    scale = fit_scale(photo, shots.width, shots.height, True)
    jitter = np.zeros(3)
    for k in range(total):
        t = k / max(1, total - 1)
        jitter = 0.8 * jitter + rng.normal(0, [1.6, 1.6, 0.0025])
        cx = pw / 2 + (t - 0.5) * 0.08 * pw + 4 * jitter[0]
        cy = ph / 2 + 4 * jitter[1]
        zoom = 1 + zoom_per_second * k / shots.rate
        yield view(photo, shots.width, shots.height, cx, cy, scale / zoom, jitter[2]) + rng.normal(
            0, 1.5, (shots.height, shots.width, 1))


def turning(shots, total, rng):
    photo = affine_photos(shots).get(6)
    pw, ph = photo.size
    scale = fit_scale(photo, shots.width, shots.height, True)
    for k in range(total):
        angle = 0.35 * k / shots.rate
        yield view(photo, shots.width, shots.height, pw / 2, ph / 2, scale, angle) + rng.normal(
            0, 1.0, (shots.height, shots.width, 1))


def flashing(shots, total, rng):
    """A slow pan under light that rises and falls over four seconds, with
    a flash (two bright frames fading over five) every two to three."""
    next_flash = int(rng.integers(shots.rate, 2 * shots.rate))
    flash = 0.0
    for k in range(total):
        t = k / max(1, total - 1)
        picture = shots.frame(9, slow, t)
        light = 0.8 + 0.3 * np.sin(2 * np.pi * k / (4 * shots.rate))
        if k == next_flash:
            flash = 1.0
            next_flash += int(rng.integers(2 * shots.rate, 3 * shots.rate))
        picture = picture * (light + 0.9 * flash) + 70 * flash
        flash = flash * 0.55 if flash > 0.05 else 0.0
        yield picture + rng.normal(0, 1.5, (shots.height, shots.width, 1))


def grainy(shots, total, rng):
    """Film grain: strong luma grain in clumps of about two pixels plus
    finer colour grain."""
    h, w = shots.height, shots.width
    for k in range(total):
        t = k / max(1, total - 1)
        clumps = rng.normal(0, 7.0, ((h + 1) // 2, (w + 1) // 2, 1))
        clumps = np.repeat(np.repeat(clumps, 2, axis=0), 2, axis=1)[:h, :w]
        yield shots.frame(10, slow, t) + clumps + rng.normal(0, 4.0, (h, w, 3))


def bounce(position, span):
    """A position moving back and forth over 0..span."""
    period = 2 * span
    p = position % period
    return p if p < span else period - p


def fast_action(shots, total, rng):
    """The camera whips across photographs at 20-45 pixels a frame, turning
    and cutting to another photograph every second or so."""
    photos = Photos(shots.width, 3.0)
    k = 0
    shot = 0
    while k < total:
        photo = photos.get(shot + 1)
        pw, ph = photo.size
        scale = fit_scale(photo, shots.width, shots.height, False) * 0.9
        room_x = pw - shots.width * scale
        room_y = ph - shots.height * scale
        speed = rng.uniform(20, 45, 2) * rng.choice([-1, 1], 2) * [1.0, 0.5]
        start = rng.uniform(0, 1, 2) * [room_x, room_y]
        length = int(rng.integers(shots.rate * 3 // 4, 3 * shots.rate // 2 + 1))
        for pos in range(min(length, total - k)):
            x = bounce(start[0] + speed[0] * pos * scale, room_x)
            y = bounce(start[1] + speed[1] * pos * scale, room_y)
            cx = x + shots.width * scale / 2
            cy = y + shots.height * scale / 2
            yield view(photo, shots.width, shots.height, cx, cy, scale, 0.0) + rng.normal(
                0, 2.0, (shots.height, shots.width, 1))
        k += length
        shot += 1


def font(size):
    try:
        return ImageFont.truetype(FONT, size)
    except OSError:
        return ImageFont.load_default()


def scrolling(shots, total, rng):
    """Credits rolling up over coloured panels for the first half, then a
    ticker running along the bottom of a still photograph."""
    w, h = shots.width, shots.height
    half = total // 2
    step = 3
    words = ["camera", "sound", "light", "edit", "music", "story", "colour", "grip", "focus"]
    canvas = Image.new("RGB", (w, h + half * step + h), (12, 14, 30))
    draw = ImageDraw.Draw(canvas)
    big, small = font(max(10, h // 16)), font(max(8, h // 26))
    y = h
    while y < canvas.size[1] - h // 8:
        if rng.random() < 0.2:
            colour = tuple(int(c) for c in rng.integers(40, 220, 3))
            draw.rectangle([w // 8, y, w * 7 // 8, y + h // 10], fill=colour)
            y += h // 8
            continue
        role = " ".join(rng.choice(words, 2)).upper()
        name = "%s %s" % (rng.choice(words).title(), rng.choice(words).title())
        draw.text((w // 10, y), role, font=small, fill=(200, 200, 120))
        draw.text((w // 2, y), name, font=big, fill=(255, 255, 255))
        y += h // 12
    rolled = np.asarray(canvas, dtype=np.float32)
    for k in range(half):
        yield rolled[k * step:k * step + h]
    still_picture = shots.frame(11, still, 0)
    band = h // 9
    text = "   ".join("%s %d.%02d" % (word.upper(), int(rng.integers(1, 99)), int(rng.integers(0, 99)))
                      for word in rng.choice(words, 24))
    ticker = Image.new("RGB", (w + 8 * (total - half) + w, band), (170, 20, 20))
    ImageDraw.Draw(ticker).text((w, band // 6), text, font=font(band * 2 // 3), fill=(255, 255, 255))
    tape = np.asarray(ticker, dtype=np.float32)
    for k in range(total - half):
        picture = still_picture.copy()
        picture[h - band:] = tape[:, 8 * k:8 * k + w]
        yield picture


def moving_object(shots, total, rng):
    """A still photograph with light noise and a small object (a patch of
    another photograph) going round it at a few pixels a frame."""
    w, h = shots.width, shots.height
    background = shots.frame(0, still, 0)
    size = max(8, w // 14)
    patch = Shots(shots.photos, size, size).frame(3, still, 0)
    for k in range(total):
        t = k / shots.rate
        x = int((w - size) * (0.5 + 0.4 * np.sin(0.9 * t)))
        y = int((h - size) * (0.5 + 0.4 * np.sin(1.3 * t + 1)))
        picture = background.copy()
        picture[y:y + size, x:x + size] = patch
        yield picture + rng.normal(0, 1.5, (h, w, 1))


def cut_pans(shots, total, rng):
    """Slow pans cut together every three seconds, with light grain."""
    per = 3 * shots.rate
    for k in range(total):
        shot, pos = divmod(k, per)
        yield shots.frame(shot + 5, slow, pos / per) + rng.normal(0, 2.0, (shots.height, shots.width, 1))


def mixture(shots, total, rng):
    """Parts of the other kinds one after another (a long movie)."""
    parts = [(cut_pans, 8), (moving_object, 6), (fast_action, 5), (flashing, 6), (shaky, 8),
             (grainy, 6), (scrolling, 6)]
    seconds = sum(s for _, s in parts)
    done = 0
    for index, (part, s) in enumerate(parts):
        frames = total - done if index == len(parts) - 1 else total * s // seconds
        yield from part(shots, frames, rng)
        done += frames


def short_mix(shots, total, rng):
    half = total // 2
    yield from fast_action(shots, half, rng)
    yield from shaky(shots, total - half, rng, 2)


MOVING = {
    "shake": shaky,
    "rotate": turning,
    "flash": flashing,
    "grain": grainy,
    "action": fast_action,
    "scroll": scrolling,
    "object": moving_object,
    "pal": lambda shots, total, rng: shaky(shots, total, rng, 7, 0.03),
    "wide": cut_pans,
    "long": mixture,
    "short": short_mix,
}


def frames_of(kind, shots, total, rng):
    """Yields the float RGB frames of one kind."""
    if kind in MOVING:
        yield from MOVING[kind](shots, total, rng)
    elif kind == "noise":
        for k in range(total):
            shot = k * 2 // total
            t = (k - shot * total // 2) / (total // 2)
            yield shots.frame(shot, slow, t) + rng.normal(0, 3.0, (shots.height, shots.width, 1))
    elif kind == "fastpan":
        per = 2 * RATE  # the whole photograph crossed in two seconds
        for k in range(total):
            yield shots.frame(k // per + 2, fast, (k % per) / per)
    elif kind == "static":
        still_picture = shots.frame(5, still, 0)
        for _ in range(total):
            yield still_picture + rng.normal(0, 2.0, (shots.height, shots.width, 1))
    elif kind == "fades":
        # Fade in from black, hold, cross-fade, fade out to black, repeat.
        per = 4 * RATE
        for k in range(total):
            shot, pos = divmod(k, per)
            t = pos / per
            picture = shots.frame(shot + 3, slow, t)
            if shot % 2 == 0:
                gain = min(1.0, pos / RATE) * min(1.0, (per - pos) / RATE)
                picture = picture * gain
            elif pos < RATE:
                mix = pos / RATE
                picture = mix * picture + (1 - mix) * shots.frame(shot + 2, slow, 1.0)
            yield picture
    elif kind == "cuts":
        k = 0
        shot = 0
        while k < total:
            length = int(rng.integers(RATE, 2 * RATE + 1))
            for pos in range(min(length, total - k)):
                yield shots.frame(shot, slow, pos / length) + rng.normal(
                    0, 2.0, (shots.height, shots.width, 1))
            k += length
            shot += 1
    elif kind == "dark":
        # A small lit window of a photograph drifting over black, faint noise.
        w, h = shots.width, shots.height
        pw, ph = w // 5, h // 5
        small = Shots(shots.photos, pw, ph)
        for k in range(total):
            t = k / total
            picture = np.zeros((h, w, 3), np.float32)
            x = int((w - pw) * (0.5 + 0.45 * np.sin(2 * np.pi * t)))
            y = int((h - ph) * (0.5 + 0.45 * np.cos(3 * np.pi * t)))
            picture[y:y + ph, x:x + pw] = small.frame(7, slow, t)
            yield picture + rng.normal(0, 1.0, (h, w, 1))
    elif kind == "hd":
        for k in range(total):
            yield shots.frame(8, slow, k / total) + rng.normal(0, 2.0, (shots.height, shots.width, 1))
    elif kind == "small":
        # Everything at once: pans, cuts every second or two, a fade, noise.
        k = 0
        shot = 0
        while k < total:
            length = int(rng.integers(RATE, 2 * RATE + 1))
            motion = fast if shot % 3 == 1 else slow
            for pos in range(min(length, total - k)):
                picture = shots.frame(shot + 1, motion, pos / length)
                if shot % 4 == 3:
                    picture = picture * min(1.0, pos / (RATE / 2))
                yield picture + rng.normal(0, 2.5, (shots.height, shots.width, 1))
            k += length
            shot += 1


def write_clip(kind, path, width, height, seconds, rate):
    total = int(seconds * rate[0] / rate[1])
    rng = np.random.default_rng(zlib.crc32(kind.encode()))
    photos = Photos(width)
    shots = Shots(photos, width, height, round(rate[0] / rate[1]))
    with open(path, "wb") as out:
        out.write(b"YUV4MPEG2 W%d H%d F%d:%d Ip A1:1 C420jpeg\n" % (width, height, rate[0], rate[1]))
        for picture in frames_of(kind, shots, total, rng):
            rgb = np.clip(np.rint(picture), 0, 255).astype(np.uint8)
            out.write(b"FRAME\n")
            for plane in rgb_to_yuv420(rgb):
                out.write(plane.tobytes())


def write_sound(path, seconds, sound, rate):
    """Sound exactly as long as the pictures (never a sample longer)."""
    sample_rate, channels, synth = sound
    frames = int(seconds * rate[0] / rate[1])
    samples = frames * rate[1] * sample_rate // rate[0]
    subprocess.run(["sox", "-q", "-n", "-r", str(sample_rate), "-c", str(channels), "-b", "16", path,
                    "synth", "%ds" % samples] + synth.split(), check=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("dir")
    ap.add_argument("--kinds", default=",".join(KINDS))
    ap.add_argument("--scale", type=float, default=1.0)
    ap.add_argument("--seconds", type=float, default=0)
    a = ap.parse_args()
    os.makedirs(a.dir, exist_ok=True)
    for kind in a.kinds.split(","):
        width, height, seconds, sound = KINDS[kind][:4]
        rate = KINDS[kind][4] if len(KINDS[kind]) > 4 else (RATE, 1)
        width = max(16, int(width * a.scale) // 2 * 2)
        height = max(16, int(height * a.scale) // 2 * 2)
        seconds = a.seconds or seconds
        tag = "%s-%dx%d-%gs" % (kind, width, height, seconds)
        clip = os.path.join(a.dir, tag + ".y4m")
        wav = os.path.join(a.dir, tag + ".wav")
        if not os.path.exists(clip):
            write_clip(kind, clip + ".part", width, height, seconds, rate)
            os.replace(clip + ".part", clip)
        if not os.path.exists(wav):
            write_sound(wav, seconds, sound, rate)
        print(kind, clip, wav, seconds, "%d:%d" % rate)


if __name__ == "__main__":
    main()
