#!/usr/bin/env python3
"""Draws Tobrel's program icon, resources/tobrel.ico: one 48 x 48 image with
32-bit colour (alpha included). Two small pictures side by side, the same
landscape, with the one pixel block that differs framed in red on the right:
two images compared. Run it again to remake the file; the output is fixed."""

import math
import pathlib
import struct

SIZE = 48
SUPER = 4  # samples per pixel side, for smooth edges


def inside_rounded(x, y, left, top, right, bottom, radius):
    if not (left <= x < right and top <= y < bottom):
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def landscape(u, v):
    """The little picture, u and v from 0 to 1 across a card's inside."""
    if (u - 0.70) ** 2 + (v - 0.28) ** 2 < 0.16 ** 2:
        return (250, 205, 70)
    if v > 0.60 + 0.07 * math.cos(u * 6.0):
        return (58, 150, 72)
    return (110, 170, 230)


def sample(x, y):
    """Colour and coverage (r, g, b, a) at a point of the 48 x 48 square."""
    cards = [(2, 9, 25, 37), (23, 11, 46, 39)]  # left, top, right, bottom
    colour = None
    for index, (left, top, right, bottom) in enumerate(cards):
        if inside_rounded(x, y, left, top, right, bottom, 3.0):
            if inside_rounded(x, y, left + 2, top + 2, right - 2, bottom - 2, 1.5):
                u = (x - left - 2) / (right - left - 4)
                v = (y - top - 2) / (bottom - top - 4)
                colour = landscape(u, v)
                # The difference: a block recoloured on the right picture,
                # framed by the red marker.
                if index == 1 and 0.18 <= u < 0.42 and 0.58 <= v < 0.82:
                    colour = (235, 235, 235)
                if index == 1 and (0.10 <= u < 0.50 and 0.50 <= v < 0.90) and not (
                        0.18 <= u < 0.42 and 0.58 <= v < 0.82):
                    colour = (220, 30, 30)
            else:
                colour = (70, 80, 95)  # the card's frame
    if colour is None:
        return (0, 0, 0, 0)
    return colour + (255,)


def render():
    pixels = []
    for py in range(SIZE):
        row = []
        for px in range(SIZE):
            total = [0, 0, 0, 0]
            for sy in range(SUPER):
                for sx in range(SUPER):
                    r, g, b, a = sample(px + (sx + 0.5) / SUPER, py + (sy + 0.5) / SUPER)
                    total[0] += r * a
                    total[1] += g * a
                    total[2] += b * a
                    total[3] += a
            n = SUPER * SUPER
            alpha = total[3] / n
            if alpha == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(round(total[c] / total[3]) for c in range(3)) + (round(alpha),))
        pixels.append(row)
    return pixels


def ico(pixels):
    # BITMAPINFOHEADER with the height doubled (colour rows, then the AND mask),
    # rows bottom-up, BGRA.
    colour = bytearray()
    for row in reversed(pixels):
        for r, g, b, a in row:
            colour += bytes((b, g, r, a))
    mask_stride = ((SIZE + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(pixels):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(colour) + len(mask), 0, 0, 0, 0)
    image = header + colour + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def main():
    out = pathlib.Path(__file__).resolve().parent.parent / "resources" / "tobrel.ico"
    out.write_bytes(ico(render()))


if __name__ == "__main__":
    main()
