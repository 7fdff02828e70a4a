#!/usr/bin/python3
"""Renders a varied set of test clips for the rate control (bench/rate.sh):
each a Y4M (4:2:0) made from the photographs of Debian's desktop background
package, with a WAV of the same length made by sox.

usage: rate_clips.py DIR [--kinds K1,K2,...] [--scale F] [--seconds S]
  kinds: noise fastpan static fades cuts dark hd small (default all)
  --scale F   multiplies every width and height (for quick runs; even sizes)
  --seconds S overrides every clip's length
Prints one line per clip: KIND PATH.y4m PATH.wav SECONDS."""
import argparse
import glob
import os
import subprocess
import sys
import zlib

import numpy as np
from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from rd_clip import rgb_to_yuv420  # noqa: E402

PHOTO_GLOB = "/usr/share/backgrounds/mate/nature/*.jpg"
RATE = 30

# kind: (width, height, seconds, sound: (rate, channels, sox synth words))
KINDS = {
    "noise": (640, 480, 10, (44100, 2, "sine 220-880 pinknoise vol 0.3")),
    "fastpan": (640, 480, 8, (22050, 1, "pluck C3 pluck E4 vol 0.5")),
    "static": (320, 240, 12, (22050, 1, "sine 440 vol 0.4")),
    "fades": (640, 480, 12, (44100, 2, "sine 300-600 sine 500-200 vol 0.4")),
    "cuts": (640, 480, 20, (44100, 2, "pinknoise brownnoise vol 0.2")),
    "dark": (640, 480, 10, (22050, 2, "square 110 sine 660 vol 0.2")),
    "hd": (1280, 720, 6, (44100, 2, "sine 200-2000 pinknoise vol 0.3")),
    "small": (320, 240, 20, (11025, 1, "sine 330-990 vol 0.5")),
}


class Photos:
    """The photographs, each loaded once at a size fit for the clip."""

    def __init__(self, width):
        paths = sorted(glob.glob(PHOTO_GLOB))
        if not paths:
            sys.exit("rate_clips: no photographs found (install mate-backgrounds)")
        self.paths = paths
        self.width = width
        self.cache = {}

    def get(self, index):
        path = self.paths[index % len(self.paths)]
        if path not in self.cache:
            photo = Image.open(path).convert("RGB")
            scale = min(1.0, 3.0 * self.width / photo.size[0])
            if scale < 1.0:
                photo = photo.resize((round(photo.size[0] * scale), round(photo.size[1] * scale)),
                                     Image.LANCZOS)
            self.cache[path] = photo
        return self.cache[path]


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

    def __init__(self, photos, width, height):
        self.photos, self.width, self.height = photos, width, height

    def frame(self, photo, motion, t):
        x, y, zoom = motion(t)
        return crop(self.photos.get(photo), self.width, self.height, x, y, zoom)


def slow(t):
    return 0.3 + 0.4 * t, 0.4 + 0.2 * t, 1.0 + 0.25 * t


def fast(t):
    return t, 0.5 + 0.3 * np.sin(6 * t), 1.6


def still(_t):
    return 0.5, 0.5, 1.2


def frames_of(kind, shots, total, rng):
    """Yields the float RGB frames of one kind."""
    if kind == "noise":
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


def write_clip(kind, path, width, height, seconds):
    total = int(seconds * RATE)
    rng = np.random.default_rng(zlib.crc32(kind.encode()))
    photos = Photos(width)
    shots = Shots(photos, width, height)
    with open(path, "wb") as out:
        out.write(b"YUV4MPEG2 W%d H%d F%d:1 Ip A1:1 C420jpeg\n" % (width, height, RATE))
        for picture in frames_of(kind, shots, total, rng):
            rgb = np.clip(np.rint(picture), 0, 255).astype(np.uint8)
            out.write(b"FRAME\n")
            for plane in rgb_to_yuv420(rgb):
                out.write(plane.tobytes())


def write_sound(path, seconds, sound):
    rate, channels, synth = sound
    subprocess.run(["sox", "-q", "-n", "-r", str(rate), "-c", str(channels), "-b", "16", path,
                    "synth", str(seconds)] + synth.split(), check=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("dir")
    ap.add_argument("--kinds", default=",".join(KINDS))
    ap.add_argument("--scale", type=float, default=1.0)
    ap.add_argument("--seconds", type=float, default=0)
    a = ap.parse_args()
    os.makedirs(a.dir, exist_ok=True)
    for kind in a.kinds.split(","):
        width, height, seconds, sound = KINDS[kind]
        width = max(16, int(width * a.scale) // 2 * 2)
        height = max(16, int(height * a.scale) // 2 * 2)
        seconds = a.seconds or seconds
        tag = "%s-%dx%d-%gs" % (kind, width, height, seconds)
        clip = os.path.join(a.dir, tag + ".y4m")
        wav = os.path.join(a.dir, tag + ".wav")
        if not os.path.exists(clip):
            write_clip(kind, clip + ".part", width, height, seconds)
            os.replace(clip + ".part", clip)
        if not os.path.exists(wav):
            write_sound(wav, seconds, sound)
        print(kind, clip, wav, seconds)


if __name__ == "__main__":
    main()
