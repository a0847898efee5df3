#!/usr/bin/env bash
# Peak memory of six findSpots runs on one 3000x3000 image in one script,
# against one run. Image clips live with the scene, and clips of an unchanged
# file share their pixels, so the six runs should peak within 1.3x of one.
#   bench/bench_memory/six_findspots.sh [path/to/scenehost]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
scenehost="${1:-$root/build/bin/scenehost}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
python3 - <<'PY'
import struct
w = h = 3000
row = (w * 3 + 3) & ~3
pixels = bytearray(row * h)
for y in range(0, h, 40):          # a grid of red squares
    for x in range(0, w, 40):
        for dy in range(10):
            o = (y + dy) * row + x * 3
            pixels[o:o + 30] = b"\x00\x00\xff" * 10
header = b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54) + struct.pack(
    "<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
open("big.bmp", "wb").write(header + pixels)
open("big_elevation.bmp", "wb").write(header + pixels)
PY
line='findSpots ./ big 20 true 0.9 0.1 0.1 0.05 0.05 0.05 0 0 true'
echo "$line" > one.txt
for _ in 1 2 3 4 5 6; do echo "$line"; done > six.txt
peak() { /usr/bin/time -f "%M" "$scenehost" --script "$1" 2>&1 >/dev/null | tail -1; }
one=$(peak one.txt)
six=$(peak six.txt)
echo "one run: ${one} KB peak; six runs: ${six} KB peak; ratio $(python3 -c "print(round($six/$one, 3))")"
