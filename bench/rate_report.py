#!/usr/bin/python3
"""One line of bench/rate.sh from `vorntool encode --stats` output on stdin:

  rate_report.py LABEL REQUESTED_KBPS FRAME_RATE CPU_SECONDS [SIZE_REQUESTED MOVIE_BYTES]

prints: label, requested and achieved kbit/s, the miss in per cent, the
largest one-second peak over the average, the luma PSNR of the first second,
the middle and the last second (mean of the frames' dB), the lambda of the
last second over the middle's median (1.00: no squeeze at the end) and the
frames per CPU second."""
import re
import statistics
import sys


def main():
    label, requested, rate, cpu = sys.argv[1], float(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4])
    psnr, lambdas = [], []
    average = peak = 0.0
    for line in sys.stdin:
        if line.startswith("frame "):
            m = re.search(r" Y:\d+b/([0-9.inf]+)dB", line)
            psnr.append(min(99.0, float(m.group(1))) if m else 99.0)
            m = re.search(r" lambda=([0-9.]+)", line)
            lambdas.append(float(m.group(1)) if m else 0.0)
        m = re.search(r"data rate: average ([0-9.]+) kbit/s, peak ([0-9.]+)", line)
        if m:
            average, peak = float(m.group(1)), float(m.group(2))
    second = max(1, int(round(rate)))
    frames = len(psnr)
    middle = psnr[second:frames - second] or psnr

    def mean(values):
        return sum(values) / len(values) if values else 0.0

    coded = [x for x in lambdas[second:frames - second] if x > 0]
    last = [x for x in lambdas[frames - second:] if x > 0]
    squeeze = mean(last) / statistics.median(coded) if coded and last else 0.0
    achieved = average
    if len(sys.argv) > 6:  # a size request: compare bytes, shown as kbit/s
        size, got = float(sys.argv[5]), float(sys.argv[6])
        requested = size * 8 * rate / frames / 1000
        achieved = got * 8 * rate / frames / 1000
    print("%-22s %7.0f %7.0f %+6.1f%% %5.2f %6.2f %6.2f %6.2f %5.2f %6.1f" % (
        label, requested, achieved, (achieved / requested - 1) * 100, peak / average if average else 0,
        mean(psnr[:second]), mean(middle), mean(psnr[-second:]), squeeze, frames / cpu if cpu else 0))


if __name__ == "__main__":
    main()
