#!/usr/bin/python3
"""Picture quality and rate-distortion arithmetic for bench/rd.sh.

  rd_measure.py quality REF.y4m DECODED.y4m   -> "PSNR-Y SSIM-Y FRAMES PSNR-Y-F"
  rd_measure.py bd TABLE CODEC REFERENCE [COLUMN]
                                              -> BD-rate of CODEC against
                                                 REFERENCE in per cent
  rd_measure.py frames CLIP.y4m               -> "FRAMES FRAMES-PER-SECOND"
PSNR-Y is the luma PSNR of the whole clip (its squared errors summed over
every frame); PSNR-Y-F the mean of the frames' own luma PSNRs (each at most
99 dB), which weighs a frame's error by how good the frame is.
TABLE lines: codec kbit/s psnr ssim fps psnr-f; COLUMN (default 3) is the
quality column the BD-rate reads. Only frames present in both files are
compared (a decoder that drops frames is charged nothing for them, but the
frame count is printed)."""
import sys

import numpy as np


def read_pgm_luma(data):
    """A stream of PGM pictures, each holding the luma rows of a 4:2:0 frame
    above its two chroma planes side by side (a decoder's picture pipe)."""
    frames = []
    pos = 0
    while pos < len(data):
        fields = []
        while len(fields) < 4:
            while data[pos:pos + 1].isspace():
                pos += 1
            end = pos
            while not data[end:end + 1].isspace():
                end += 1
            fields.append(data[pos:end])
            pos = end
        pos += 1
        width, height = int(fields[1]), int(fields[2])
        luma_rows = height * 2 // 3
        frames.append(np.frombuffer(data, np.uint8, width * luma_rows, pos).reshape(luma_rows, width))
        pos += width * height
    return frames


def y4m_geometry(header_line):
    """A Y4M stream header's (width, height, bytes per frame, frames per
    second)."""
    width = height = 0
    chroma, rate = b"420", 30.0
    for field in header_line.split()[1:]:
        if field[:1] == b"W":
            width = int(field[1:])
        elif field[:1] == b"H":
            height = int(field[1:])
        elif field[:1] == b"C":
            chroma = field[1:]
        elif field[:1] == b"F":
            num, den = field[1:].split(b":")
            rate = int(num) / int(den)
    cw, ch = (width + 1) // 2, (height + 1) // 2
    if chroma.startswith(b"444"):
        cw, ch = width, height
    elif chroma.startswith(b"422"):
        ch = height
    elif chroma.startswith(b"mono"):
        cw = ch = 0
    return width, height, width * height + 2 * cw * ch, rate


def read_y4m_luma(path):
    with open(path, "rb") as f:
        data = f.read()
    if data.startswith(b"P5"):
        return read_pgm_luma(data)
    end = data.index(b"\n")
    width, height, frame_bytes, _ = y4m_geometry(data[:end])
    pos = end + 1
    frames = []
    while pos < len(data):
        line_end = data.index(b"\n", pos)
        pos = line_end + 1
        if pos + frame_bytes > len(data):
            break
        y = np.frombuffer(data, np.uint8, width * height, pos).reshape(height, width)
        frames.append(y)
        pos += frame_bytes
    return frames


def box_mean(x, size):
    """Mean over size x size windows with stride size / 2 (integral image)."""
    c = np.pad(x, ((1, 0), (1, 0))).cumsum(0).cumsum(1)
    step = size // 2
    h, w = x.shape
    ys = np.arange(0, h - size + 1, step)
    xs = np.arange(0, w - size + 1, step)
    s = (c[np.ix_(ys + size, xs + size)] - c[np.ix_(ys, xs + size)] -
         c[np.ix_(ys + size, xs)] + c[np.ix_(ys, xs)])
    return s / (size * size)


def ssim(a, b):
    a = a.astype(np.float64)
    b = b.astype(np.float64)
    c1, c2 = (0.01 * 255) ** 2, (0.03 * 255) ** 2
    ma, mb = box_mean(a, 8), box_mean(b, 8)
    va = box_mean(a * a, 8) - ma * ma
    vb = box_mean(b * b, 8) - mb * mb
    cov = box_mean(a * b, 8) - ma * mb
    s = ((2 * ma * mb + c1) * (2 * cov + c2)) / ((ma * ma + mb * mb + c1) * (va + vb + c2))
    return float(s.mean())


def frames_and_rate(path):
    """Counts a Y4M clip's frames without reading their pictures."""
    with open(path, "rb") as f:
        _, _, frame_bytes, rate = y4m_geometry(f.readline())
        count = 0
        while f.readline().startswith(b"FRAME"):
            f.seek(frame_bytes, 1)
            count += 1
    print("%d %.6f" % (count, rate))


def quality(ref_path, dec_path):
    ref = read_y4m_luma(ref_path)
    dec = read_y4m_luma(dec_path)
    n = min(len(ref), len(dec))
    if n == 0:
        sys.exit("rd_measure: no frames to compare")
    sse = 0.0
    ssims = []
    frame_psnrs = []
    for a, b in zip(ref[:n], dec[:n]):
        # Decoders of macroblock formats may hand back whole macroblocks.
        if b.shape[0] >= a.shape[0] and b.shape[1] >= a.shape[1]:
            b = b[:a.shape[0], :a.shape[1]]
        if a.shape != b.shape:
            sys.exit("rd_measure: picture sizes differ")
        d = a.astype(np.int32) - b.astype(np.int32)
        frame_sse = float((d * d).sum())
        sse += frame_sse
        ssims.append(ssim(a, b))
        frame_psnrs.append(psnr_of(frame_sse, a.size))
    psnr = psnr_of(sse, n * ref[0].size)
    print("%.2f %.4f %d %.2f" % (psnr, float(np.mean(ssims)), n, float(np.mean(frame_psnrs))))


def psnr_of(sse, samples):
    return 99.0 if sse == 0 else min(99.0, 10 * np.log10(255.0 ** 2 * samples / sse))


def bd_rate(rates_a, psnr_a, rates_b, psnr_b):
    """Average rate difference of A against B in per cent at equal PSNR over
    the PSNR range both cover (cubic fits of log-rate against PSNR)."""
    la, lb = np.log(rates_a), np.log(rates_b)
    deg = min(3, len(la) - 1, len(lb) - 1)
    pa = np.polyfit(psnr_a, la, deg)
    pb = np.polyfit(psnr_b, lb, deg)
    lo = max(min(psnr_a), min(psnr_b))
    hi = min(max(psnr_a), max(psnr_b))
    if hi <= lo:
        return None
    ia, ib = np.polyint(pa), np.polyint(pb)
    avg_a = (np.polyval(ia, hi) - np.polyval(ia, lo)) / (hi - lo)
    avg_b = (np.polyval(ib, hi) - np.polyval(ib, lo)) / (hi - lo)
    return (np.exp(avg_a - avg_b) - 1) * 100


def bd(table_path, codec, reference, column=3):
    points = {}
    with open(table_path) as f:
        for line in f:
            parts = line.split()
            if len(parts) < column:
                continue
            points.setdefault(parts[0], []).append((float(parts[1]), float(parts[column - 1])))
    a, b = sorted(points.get(codec, [])), sorted(points.get(reference, []))
    if len(a) < 2 or len(b) < 2:
        print("n/a")
        return
    r = bd_rate([p[0] for p in a], [p[1] for p in a], [p[0] for p in b], [p[1] for p in b])
    print("n/a (no common PSNR range)" if r is None else "%+.1f %%" % r)


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "quality":
        quality(sys.argv[2], sys.argv[3])
    elif len(sys.argv) == 3 and sys.argv[1] == "frames":
        frames_and_rate(sys.argv[2])
    elif len(sys.argv) in (5, 6) and sys.argv[1] == "bd":
        bd(sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5]) if len(sys.argv) == 6 else 3)
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
