#!/usr/bin/python3
"""Renders a camera-like test clip as Y4M (4:2:0) from photographs: each
photograph gets a slow pan and zoom (high-quality resampling from the full
picture), and the photographs are cut together.

usage: rd_clip.py OUT.y4m [--size WxH] [--frames N] [--rate R] [--shots N]
                  [PHOTO...]
Without photographs it takes those of the desktop background package."""
import argparse
import glob
import sys

import numpy as np
from PIL import Image

DEFAULT_PHOTOS = [
    "/usr/share/backgrounds/mate/nature/LadyBird.jpg",
    "/usr/share/backgrounds/mate/nature/Storm.jpg",
    "/usr/share/backgrounds/mate/nature/YellowFlower.jpg",
    "/usr/share/backgrounds/mate/nature/Garden.jpg",
    "/usr/share/backgrounds/mate/nature/Dune.jpg",
]


def rgb_to_yuv420(rgb):
    """Studio-range 4:2:0 planes from an RGB array (height, width, 3)."""
    f = rgb.astype(np.float32)
    r, g, b = f[..., 0], f[..., 1], f[..., 2]
    y = 16 + 0.257 * r + 0.504 * g + 0.098 * b
    u = 128 - 0.148 * r - 0.291 * g + 0.439 * b
    v = 128 + 0.439 * r - 0.368 * g - 0.071 * b
    h, w = y.shape
    hc, wc = (h + 1) // 2, (w + 1) // 2

    def half(p):
        p = np.pad(p, ((0, 2 * hc - h), (0, 2 * wc - w)), mode="edge")
        return (p[0::2, 0::2] + p[1::2, 0::2] + p[0::2, 1::2] + p[1::2, 1::2]) / 4

    planes = [y, half(u), half(v)]
    return [np.clip(np.rint(p), 0, 255).astype(np.uint8) for p in planes]


def render(photo, width, height, t):
    """One frame at time t (0..1) of a shot: the crop drifts across the
    photograph and narrows by a fifth (zooming in)."""
    pw, ph = photo.size
    aspect = width / height
    crop_h0 = min(ph * 0.9, pw * 0.9 / aspect)
    crop_h = crop_h0 * (1.0 - 0.2 * t)
    crop_w = crop_h * aspect
    # Pan from left-above to right-below of the free room.
    cx = (pw - crop_w) * (0.25 + 0.5 * t) + crop_w / 2
    cy = (ph - crop_h) * (0.4 + 0.2 * t) + crop_h / 2
    box = (cx - crop_w / 2, cy - crop_h / 2, cx + crop_w / 2, cy + crop_h / 2)
    return photo.resize((width, height), Image.LANCZOS, box=box)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out")
    ap.add_argument("photos", nargs="*")
    ap.add_argument("--size", default="640x480")
    ap.add_argument("--frames", type=int, default=150)
    ap.add_argument("--rate", type=int, default=30)
    ap.add_argument("--shots", type=int, default=3)
    a = ap.parse_args()
    width, height = (int(v) for v in a.size.split("x"))
    photos = a.photos or [p for p in DEFAULT_PHOTOS if glob.glob(p)]
    if not photos:
        sys.exit("rd_clip: no photographs found (install mate-backgrounds)")
    shots = max(1, min(a.shots, a.frames))
    with open(a.out, "wb") as out:
        out.write(b"YUV4MPEG2 W%d H%d F%d:1 Ip A1:1 C420jpeg\n" % (width, height, a.rate))
        for s in range(shots):
            first = a.frames * s // shots
            last = a.frames * (s + 1) // shots
            photo = Image.open(photos[s % len(photos)]).convert("RGB")
            # Work from a copy no larger than needed for the sharpest crop.
            scale = min(1.0, 2.5 * width / photo.size[0])
            if scale < 1.0:
                photo = photo.resize((round(photo.size[0] * scale), round(photo.size[1] * scale)),
                                     Image.LANCZOS)
            count = last - first
            for k in range(count):
                t = k / max(1, count - 1)
                frame = np.asarray(render(photo, width, height, t))
                out.write(b"FRAME\n")
                for plane in rgb_to_yuv420(frame):
                    out.write(plane.tobytes())


if __name__ == "__main__":
    main()
