#!/usr/bin/python3
"""RaiseRegion end to end, on maps made by scripts/make_region_example.py.

    /usr/bin/python3 bench/bench_region/bench_region.py SCENEHOST [--big N] [--work DIR]

Prints, each with its target:
  - lots a second a core over a whole region run (tiles, levels of detail,
    compression, writing), on a 4096 x 4096 region of 1024-pixel tiles;
  - the peak memory of one tile job at tile 1024 on a 4096 x 4096 and on an
    N x N GeoTIFF (default 32768), which must agree within 10%;
  - bytes a building of the compressed leaves, of plain leaves, and of
    RaiseCity's plain .glb of the bundled town, and the ratio.
Work files go to --work (default: a folder under /dev/shm when it exists).
"""

import argparse
import glob
import json
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


def run(cmd, cwd=None):
    """(wall seconds, CPU seconds, peak KB) of a child process."""
    start = time.monotonic()
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    p = subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if p.returncode != 0:
        sys.exit("bench_region: %s failed:\n%s" % (" ".join(cmd), p.stderr[-2000:]))
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu, after.ru_maxrss


def peak_kb(cmd):
    """Peak resident memory of one child, through /usr/bin/time."""
    p = subprocess.run(["/usr/bin/time", "-f", "%M"] + cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if p.returncode != 0:
        sys.exit("bench_region: %s failed:\n%s" % (" ".join(cmd), p.stderr[-2000:]))
    return int(p.stderr.strip().splitlines()[-1])


def make(folder, size, tile):
    subprocess.run(["/usr/bin/python3", os.path.join(ROOT, "scripts", "make_region_example.py"), folder,
                    "--size", str(size), "--tile", str(tile)], check=True)
    recipe = os.path.join(folder, "region.json")
    r = json.load(open(recipe))
    r["out"] = "out"
    json.dump(r, open(recipe, "w"))
    return recipe


def leaves(out):
    lots = raised = size = 0
    for f in glob.glob(os.path.join(out, "tiles", "0", "*.json")):
        s = json.load(open(f))
        lots += s["lots"]
        raised += s["raised"]
        size += sum(c["bytes"] for c in s["contents"])
    return lots, raised, size


def main():
    a = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    a.add_argument("scenehost")
    a.add_argument("--big", type=int, default=32768, help="side of the large GeoTIFF (default 32768)")
    a.add_argument("--work", default=None)
    args = a.parse_args()
    host = os.path.abspath(args.scenehost)
    base = args.work or ("/dev/shm" if os.path.isdir("/dev/shm") else None)
    work = tempfile.mkdtemp(prefix="bench_region-", dir=base)
    try:
        # 1. Throughput over a whole region.
        mid = make(os.path.join(work, "mid"), 4096, 1024)
        wall, cpu, _ = run([host, "RaiseRegion", mid])
        lots, raised, size = leaves(os.path.join(work, "mid", "out"))
        print("region 4096^2, tile 1024: %d lots, %d raised, %.1f s wall, %.1f s CPU" % (lots, raised, wall, cpu))
        print("  lots a second a core: %.0f   (target >= 300)" % (lots / cpu))
        print("  compressed leaves: %.1f MB, %.0f bytes a building" % (size / 1e6, size / max(raised, 1)))

        # 2. Peak memory of one tile job on a small and a large map.
        small_peak = peak_kb([host, "RaiseRegion", mid, "tile", "1", "1", "force"])
        big = make(os.path.join(work, "big"), args.big, 1024)
        middle = args.big // 1024 // 2
        big_peak = peak_kb([host, "RaiseRegion", big, "tile", str(middle), str(middle)])
        print("one tile job at tile 1024: %.0f MB on 4096^2, %.0f MB on %d^2: %+.1f%%   (target within 10%%)" %
              (small_peak / 1024, big_peak / 1024, args.big, 100.0 * (big_peak - small_peak) / small_peak))
        shutil.rmtree(os.path.join(work, "big"))

        # 3. Bytes a building against RaiseCity's plain .glb of the bundled town.
        town = os.path.join(work, "town")
        os.makedirs(town)
        r = json.load(open(os.path.join(ROOT, "examples", "city", "town.json")))
        r["images"] = os.path.join(ROOT, "examples", "images")
        r.update({"tile": 256, "halo": 64, "out": "out"})
        json.dump(r, open(os.path.join(town, "r.json"), "w"))
        r.update({"compress": False, "out": "plain"})
        json.dump(r, open(os.path.join(town, "p.json"), "w"))
        run([host, "RaiseRegion", os.path.join(town, "r.json")])
        run([host, "RaiseRegion", os.path.join(town, "p.json")])
        start = time.monotonic()
        run([host, "RaiseCity", os.path.join(ROOT, "examples", "city", "town.json"), "--save",
             os.path.join(town, "city.glb")], cwd=town)
        city = os.path.getsize(os.path.join(town, "city.glb"))
        _, raised, packed = leaves(os.path.join(town, "out"))
        _, _, plain = leaves(os.path.join(town, "plain"))
        print("bundled town, %d buildings: RaiseCity .glb %.1f MB (%.0f B a building); plain leaves %.1f MB; "
              "compressed leaves %.1f MB (%.0f B a building)" %
              (raised, city / 1e6, city / raised, plain / 1e6, packed / 1e6, packed / raised))
        print("  RaiseCity .glb / compressed leaves: %.1fx   (target >= 6x)" % (city / packed))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
