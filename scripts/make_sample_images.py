#!/usr/bin/env python3
"""Writes the findSpots sample pictures to examples/images/.

map.bmp            512 x 512 town map: building lots in four colours on a
                   street grid (24-bit BMP)
map.png            the same picture as PNG
map_elevation.bmp  matching terrain: grey hills, brighter is higher

Standard library only (struct, zlib), and a fixed pseudo-random sequence, so
every run writes the same bytes:  python3 scripts/make_sample_images.py
"""

import math
import os
import struct
import sys
import zlib

SIZE = 512
STREET = (70, 70, 76)
PAVEMENT = (150, 150, 150)
LOT_COLOURS = [
    (230, 30, 30),    # red: commercial
    (235, 200, 60),   # yellow: housing
    (50, 150, 60),    # green: parks
    (60, 100, 210),   # blue: public buildings
]
BLOCK = 64            # street pitch
STREET_WIDTH = 10
GAP = 2               # pavement between neighbouring lots


class Lcg:
    """A 32-bit linear congruential generator: the same numbers everywhere."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFF

    def next(self, n):
        self.state = (self.state * 1664525 + 1013904223) & 0xFFFFFFFF
        return (self.state >> 8) % n


def town_map():
    """Rows top to bottom, each a list of (r, g, b)."""
    rng = Lcg(1912)
    pixels = [[STREET] * SIZE for _ in range(SIZE)]
    for by in range(0, SIZE, BLOCK):
        for bx in range(0, SIZE, BLOCK):
            x0, y0 = bx + STREET_WIDTH // 2, by + STREET_WIDTH // 2
            x1, y1 = bx + BLOCK - STREET_WIDTH // 2, by + BLOCK - STREET_WIDTH // 2
            for y in range(y0, y1):
                for x in range(x0, x1):
                    pixels[y][x] = PAVEMENT
            # Split the block into 1 to 3 columns and 1 to 3 rows of lots.
            cols, rows = 1 + rng.next(3), 1 + rng.next(3)
            inner_w, inner_h = x1 - x0 - GAP, y1 - y0 - GAP
            for j in range(rows):
                for i in range(cols):
                    lx0 = x0 + GAP + i * inner_w // cols
                    lx1 = x0 + (i + 1) * inner_w // cols
                    ly0 = y0 + GAP + j * inner_h // rows
                    ly1 = y0 + (j + 1) * inner_h // rows
                    colour = LOT_COLOURS[rng.next(len(LOT_COLOURS))]
                    # Some lots are L-shaped: a corner stays pavement.
                    notch = rng.next(4) == 0
                    for y in range(ly0, ly1):
                        for x in range(lx0, lx1):
                            if notch and x >= (lx0 + lx1) // 2 and y < (ly0 + ly1) // 2:
                                continue
                            pixels[y][x] = colour
    return pixels


def terrain():
    """Grey hills, rows top to bottom."""
    hills = [(120, 140, 90, 110), (380, 120, 70, 90), (300, 390, 110, 80), (90, 420, 60, 60)]
    rows = []
    for y in range(SIZE):
        row = []
        for x in range(SIZE):
            h = 40 + 0.12 * y  # a gentle rise towards the bottom of the map
            for cx, cy, radius, height in hills:
                d2 = ((x - cx) ** 2 + (y - cy) ** 2) / (radius * radius)
                h += height * math.exp(-d2)
            v = max(0, min(255, int(h)))
            row.append((v, v, v))
        rows.append(row)
    return rows


def bmp_bytes(rows):
    """24-bit BMP; rows given top first are stored bottom first."""
    height, width = len(rows), len(rows[0])
    stride = (width * 3 + 3) // 4 * 4
    data = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += b"\0" * (stride - len(line))
        data += line
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    return header + info + bytes(data)


def png_bytes(rows):
    height, width = len(rows), len(rows[0])
    raw = bytearray()
    for row in rows:
        raw.append(0)  # no filter
        for pixel in row:
            raw += bytes(pixel)

    def chunk(kind, payload):
        body = kind + payload
        return struct.pack(">I", len(payload)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    ihdr = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + chunk(b"IEND", b""))


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "examples", "images")
    os.makedirs(out, exist_ok=True)
    town = town_map()
    hills = terrain()
    for name, data in (("map.bmp", bmp_bytes(town)), ("map.png", png_bytes(town)),
                       ("map_elevation.bmp", bmp_bytes(hills))):
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
        print("wrote", os.path.join(out, name))


if __name__ == "__main__":
    main()
