#!/usr/bin/env python3
"""Draws the importer's application icon and writes it as a .ico file.

The icon holds two images, 16 by 16 and 32 by 32, of 16 colours each
(4 bits per pixel, the standard 16-colour palette), each with its
transparency mask. The picture: a sheet of paper with a folded corner
carrying three coloured registry blocks linked by a tree line.

Usage: draw_icon.py [OUTPUT]   (default: brixparse.ico beside this script)
"""
import os
import struct
import sys

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, GREY, WHITE = 0, 8, 15
RED, GREEN, BLUE = 9, 10, 12
TRANSPARENT = None

SIZES = (16, 32)


def draw(size):
    """Returns the picture as rows (top first) of palette indexes or TRANSPARENT."""
    s = size / 16.0  # the design is laid out on a 16-unit grid

    def unit(v):
        return int(round(v * s))

    pixels = [[TRANSPARENT] * size for _ in range(size)]
    left, right, top, bottom, fold = unit(2), unit(13), unit(0), unit(15), unit(4)
    # Paper: white inside a black outline, the top right corner folded over.
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            if x - (right - fold) > y - top:
                continue  # cut away by the fold
            edge = x in (left, right) or y in (top, bottom) or x - (right - fold) == y - top
            pixels[y][x] = BLACK if edge else WHITE
    for i in range(fold + 1):  # the folded flap, grey
        for x in range(right - fold, right - fold + i + 1):
            pixels[top + i][x] = BLACK if x in (right - fold, right - fold + i) or i == fold else GREY
    # Tree line down the left and three blocks hanging off it.
    trunk = unit(4)
    for y in range(unit(6), unit(12) + 1):
        pixels[y][trunk] = GREY
    for row, colour in ((6, RED), (9, GREEN), (12, BLUE)):
        y0 = unit(row) - unit(1)
        for x in range(trunk, unit(6)):
            pixels[unit(row)][x] = GREY
        for y in range(y0, y0 + max(unit(2), 2)):
            for x in range(unit(6), unit(11)):
                pixels[y][x] = colour
    return pixels


def bitmap(size):
    """One icon image: BITMAPINFOHEADER, palette, colour bits, then mask bits."""
    pixels = draw(size)
    xor_row = ((size * 4 + 31) // 32) * 4
    and_row = ((size + 31) // 32) * 4
    colour = bytearray()
    mask = bytearray()
    for row in reversed(pixels):  # bitmaps are stored bottom row first
        line = bytearray(xor_row)
        bits = bytearray(and_row)
        for x, p in enumerate(row):
            index = 0 if p is TRANSPARENT else p
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if p is TRANSPARENT:
                bits[x // 8] |= 0x80 >> (x % 8)
        colour += line
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                         len(colour) + len(mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + bytes(colour) + bytes(mask)


def icon_bytes():
    images = [bitmap(size) for size in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    return out + b"".join(images)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "brixparse.ico")
    with open(target, "wb") as f:
        f.write(icon_bytes())


if __name__ == "__main__":
    main()
