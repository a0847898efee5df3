#!/usr/bin/env python3
"""Writes a sparse map for bench_blobs: a 24-bit bottom-up BMP.

A dark street grid of 64-pixel blocks; in every block one to three small
rectangular lots (4 to 28 pixels a side) of three colours (red, green, blue),
and one round lot in about every 200th block. On 4096 x 4096 that is about
2,700 red lots, most of them kept by bench_blobs' size filter, on a map that
is mostly background: the opposite of the dense town map.

    make_sparse_map.py --size N [--seed S] OUT.bmp

Same size and seed, same bytes (Python's own Mersenne Twister, seeded).
"""
import argparse
import random
import struct
import sys

BLOCK = 64
STREET = 6
BACKGROUND = (18, 22, 20)  # B, G, R: the ground inside a block
STREET_BGR = (46, 46, 46)
COLOURS = ((30, 30, 230), (60, 150, 50), (210, 100, 60))  # red, green, blue lots (BGR)
RED = COLOURS[0]


def build(size, seed):
    rng = random.Random(seed)
    row_bytes = size * 3
    ground_row = bytes(BACKGROUND) * size
    street_row = bytes(STREET_BGR) * size
    # Streets: every BLOCK rows a band of STREET rows, and in the other rows a
    # band of STREET columns every BLOCK columns.
    mixed = bytearray(ground_row)
    for bx in range(0, size, BLOCK):
        n = min(STREET, size - bx)
        mixed[bx * 3:(bx + n) * 3] = bytes(STREET_BGR) * n
    mixed = bytes(mixed)
    pixels = bytearray(row_bytes * size)
    for y in range(size):
        pixels[y * row_bytes:(y + 1) * row_bytes] = street_row if y % BLOCK < STREET else mixed

    def fill(x0, y0, w, h, bgr):
        run = bytes(bgr) * w
        for y in range(y0, y0 + h):
            start = y * row_bytes + x0 * 3
            pixels[start:start + w * 3] = run

    inner = BLOCK - STREET - 2  # room for lots inside a block, with a margin
    for by in range(0, size - BLOCK + 1, BLOCK):
        for bx in range(0, size - BLOCK + 1, BLOCK):
            ox, oy = bx + STREET + 1, by + STREET + 1
            if rng.randrange(200) == 0:  # a round lot filling the block
                r = rng.randrange(10, inner // 2)
                cx, cy = ox + inner // 2, oy + inner // 2
                for dy in range(-r, r + 1):
                    half = int((r * r - dy * dy) ** 0.5)
                    fill(cx - half, cy + dy, 2 * half + 1, 1, RED)
                continue
            # Up to three lots, each in its own third of the block so that
            # lots never touch.
            lots = 1 + rng.randrange(3)
            band = inner // 3
            for i in range(lots):
                w = rng.randint(4, min(28, inner))
                h = rng.randint(4, band - 1)
                x0 = ox + rng.randrange(inner - w + 1)
                y0 = oy + i * band + rng.randrange(band - h)
                fill(x0, y0, w, h, COLOURS[rng.randrange(3)])
    return pixels


def write_bmp(path, size, pixels):
    row_bytes = size * 3
    pad = (-row_bytes) % 4
    image_bytes = (row_bytes + pad) * size
    header = struct.pack("<2sIHHI", b"BM", 54 + image_bytes, 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 24, 0, image_bytes, 2835, 2835, 0, 0)
    with open(path, "wb") as out:
        out.write(header)
        out.write(info)
        if pad == 0:
            out.write(pixels)
        else:
            for y in range(size):
                out.write(pixels[y * row_bytes:(y + 1) * row_bytes])
                out.write(b"\0" * pad)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size", type=int, default=4096)
    parser.add_argument("--seed", type=int, default=2525)
    parser.add_argument("out")
    a = parser.parse_args()
    if a.size < BLOCK or a.size > 65536:
        sys.exit("make_sparse_map.py: --size must be 64..65536, got %d" % a.size)
    write_bmp(a.out, a.size, build(a.size, a.seed))


if __name__ == "__main__":
    main()
