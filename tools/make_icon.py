#!/usr/bin/env python3
"""Draws the widget's icon: a yellow lightning bolt on navy inside a white frame, as a
16-colour .ico with a 32x32 and a 16x16 image.

Usage: tools/make_icon.py res/stormtally.ico
"""
import struct
import sys

# The 16-colour palette: (blue, green, red, 0) entries; only the first four are used.
PALETTE = [(0x80, 0, 0), (0xFF, 0xFF, 0xFF), (0x00, 0xD7, 0xFF), (0x40, 0x40, 0x40)]
PALETTE += [(0, 0, 0)] * (16 - len(PALETTE))
NAVY, WHITE, YELLOW = 0, 1, 2

# The bolt as a polygon in a 0..1 square.
BOLT = [(0.58, 0.08), (0.26, 0.55), (0.47, 0.55), (0.36, 0.92), (0.74, 0.40), (0.52, 0.40), (0.66, 0.08)]


def inside(x, y, poly):
    hit = False
    j = len(poly) - 1
    for i, (xi, yi) in enumerate(poly):
        xj, yj = poly[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            hit = not hit
        j = i
    return hit


def pixels(size):
    frame = 1 if size <= 16 else 2
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            if x < frame or y < frame or x >= size - frame or y >= size - frame:
                row.append(WHITE)
            elif inside((x + 0.5) / size, (y + 0.5) / size, BOLT):
                row.append(YELLOW)
            else:
                row.append(NAVY)
        rows.append(row)
    return rows


def image(size):
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for b, g, r in PALETTE)
    xor_stride = ((size * 4 + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    xor = b''
    for row in reversed(pixels(size)):
        packed = bytes((row[i] << 4) | row[i + 1] for i in range(0, size, 2))
        xor += packed.ljust(xor_stride, b'\0')
    mask = b'\0' * (and_stride * size)  # fully opaque
    return header + palette + xor + mask


def main(path):
    sizes = [32, 16]
    images = [image(s) for s in sizes]
    out = struct.pack('<HHH', 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for size, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    with open(path, 'wb') as f:
        f.write(out + b''.join(images))


if __name__ == '__main__':
    main(sys.argv[1])
