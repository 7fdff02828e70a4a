#!/usr/bin/env python3
"""Writes the player's icon (vornplay.ico) and its fully transparent cursor
(blank.cur), the binaries that vornplay.rc names. Run it from any folder;
the files land beside this script. Output is deterministic."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def bitmap_header(width, height, bits, image_size, colours=0):
    # Icon and cursor images store the colour rows and the mask, hence 2 x height.
    return struct.pack('<IiiHHIIiiII', 40, width, 2 * height, 1, bits, 0, image_size, 0, 0, colours, 0)


def mask_rows(width, height, bit):
    row = ((width + 31) // 32) * 4
    return bytes([0xFF if bit else 0x00]) * (row * height)


def icon_pixel(x, y, size):
    """A white V on a blue square with rounded corners; BGRA."""
    inset = size // 16
    r = size // 5
    cx = min(max(x, inset + r), size - 1 - inset - r)
    cy = min(max(y, inset + r), size - 1 - inset - r)
    if (x - cx) ** 2 + (y - cy) ** 2 > r * r or x < inset or y < inset \
            or x >= size - inset or y >= size - inset:
        return (0, 0, 0, 0)
    # The V: two strokes from the top corners to the bottom middle.
    u = (x + 0.5) / size
    v = (y + 0.5) / size
    top, bottom = 0.22, 0.80
    if top <= v <= bottom:
        t = (v - top) / (bottom - top)
        left = 0.22 + t * 0.28
        right = 0.78 - t * 0.28
        if abs(u - left) < 0.08 or abs(u - right) < 0.08:
            return (255, 255, 255, 255)
    return (160, 70, 20, 255)


def icon_image(size):
    rows = []
    for y in range(size - 1, -1, -1):  # bottom-up
        rows.append(b''.join(bytes(icon_pixel(x, y, size)) for x in range(size)))
    pixels = b''.join(rows)
    mask = mask_rows(size, size, 0)  # the alpha channel decides
    return bitmap_header(size, size, 32, len(pixels) + len(mask)) + pixels + mask


def write_icon(path):
    images = [icon_image(16), icon_image(32)]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip((16, 32), images):
        out += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    out += b''.join(images)
    with open(path, 'wb') as f:
        f.write(out)


def write_blank_cursor(path):
    size = 32
    palette = struct.pack('<II', 0x000000, 0xFFFFFF)
    xor = mask_rows(size, size, 0)
    and_mask = mask_rows(size, size, 1)  # every pixel keeps the screen: invisible
    image = bitmap_header(size, size, 1, len(xor) + len(and_mask), 2) + palette + xor + and_mask
    out = struct.pack('<HHH', 0, 2, 1)
    out += struct.pack('<BBBBHHII', size, size, 2, 0, 0, 0, len(image), 6 + 16)  # hot spot 0,0
    out += image
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    write_icon(os.path.join(HERE, 'vornplay.ico'))
    write_blank_cursor(os.path.join(HERE, 'blank.cur'))
