#!/usr/bin/env python3
"""Writes samples/before.bmp and samples/after.bmp: a 320 x 240 picture and
a copy changed in a handful of places, some by small amounts, so that the
tolerance visibly matters. Run it again to remake them; the output is fixed."""

import math
import pathlib
import struct

WIDTH, HEIGHT = 320, 240


def picture(x, y):
    # Sky fading to a sunset, a sun, green hills and a small house.
    r = int(70 + 150 * y / HEIGHT)
    g = int(110 + 60 * y / HEIGHT)
    b = int(210 - 90 * y / HEIGHT)
    if (x - 240) ** 2 + (y - 70) ** 2 < 28 ** 2:
        r, g, b = 250, 210, 90
    hill = 170 + 18 * math.sin(x / 37.0) + 9 * math.sin(x / 11.0)
    if y > hill:
        shade = int(40 * (y - hill) / (HEIGHT - hill + 1))
        r, g, b = 60 - shade // 2, 150 - shade, 70 - shade // 2
    if 60 <= x < 110 and 150 <= y < 190:
        r, g, b = 200, 190, 170
    if 60 <= x < 110 and 130 <= y < 150 and abs(x - 85) < (y - 128) * 1.3:
        r, g, b = 150, 50, 40
    if 78 <= x < 90 and 170 <= y < 190:
        r, g, b = 90, 60, 40
    return r, g, b


# (x, y, channel index r=0 g=1 b=2, change): strong marks and faint ones.
CHANGES = [
    (12, 8, 0, 120),     # a bright speck in the sky's corner
    (240, 70, 2, 100),   # the sun's centre
    (241, 70, 2, 100),
    (85, 175, 1, 30),    # the door
    (160, 120, 0, 12),   # faint: only tolerance 12 or less sees these
    (161, 120, 0, 12),
    (300, 200, 1, -6),   # fainter: tolerance 6 or less
    (5, 230, 2, 3),      # barely there: tolerance 3 or less
    (319, 0, 0, 1),      # top-right corner, off by one
    (0, 239, 1, -1),     # bottom-left corner, off by one
]


def write_bmp(path, pixel):
    stride = (WIDTH * 3 + 3) // 4 * 4
    rows = bytearray()
    for y in range(HEIGHT - 1, -1, -1):
        row = bytearray()
        for x in range(WIDTH):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r))
        row += bytes(stride - len(row))
        rows += row
    header = struct.pack("<2sIHHI", b"BM", 54 + len(rows), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
    path.write_bytes(header + info + rows)


def main():
    out = pathlib.Path(__file__).resolve().parent.parent / "samples"
    out.mkdir(exist_ok=True)
    write_bmp(out / "before.bmp", picture)
    changed = {(x, y): (c, d) for x, y, c, d in CHANGES}

    def after(x, y):
        rgb = list(picture(x, y))
        if (x, y) in changed:
            c, d = changed[(x, y)]
            rgb[c] = max(0, min(255, rgb[c] + d))
        return tuple(rgb)

    write_bmp(out / "after.bmp", after)


if __name__ == "__main__":
    main()
