#!/usr/bin/python3
"""Regions through Dask against one scenehost process.

    PYTHONPATH=build-rel/python /usr/bin/python3 bench/bench_region_cluster/bench_region_cluster.py \
        [--scenehost build-rel/bin/scenehost] [--size 2048] [--big-size 4096] [--tile 512]

On generated regions (scripts/make_region_example.py) of 512-pixel tiles,
as the bundled region has, every build from an empty output folder:

- 2048^2 pixels, 16 tiles:
  - the tile job alone: every `scenehost RaiseRegion RECIPE tile X Y` run
    one after the other, the mean wall time of one;
  - the local cluster's start (LocalCluster and Client, 1 and 2 workers);
  - 1 worker and 2 workers through Dask (scenehost.region.build on a
    started cluster): throughput, and Dask's overhead per task against the
    tile job alone;
- 4096^2 pixels, 64 tiles: end to end, `python3 -m scenehost.region
  --workers 1` (cluster start included) against `scenehost RaiseRegion
  RECIPE` in one process.

Each figure is printed with its target. Exit status 1 when a target is missed.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

import scenehost.region as region

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
PACKAGE_ROOT = os.path.dirname(os.path.dirname(os.path.abspath(region.__file__)))


def make_region(folder, size, tile):
    subprocess.run([sys.executable, os.path.join(SOURCE, "scripts", "make_region_example.py"), folder,
                    "--size", str(size), "--tile", str(tile)], check=True)
    path = os.path.join(folder, "region.json")
    with open(path) as f:
        recipe = json.load(f)
    recipe["out"] = "out"
    with open(path, "w") as f:
        json.dump(recipe, f, indent=2)
    return path


def clean(recipe):
    shutil.rmtree(os.path.join(os.path.dirname(recipe), "out"), ignore_errors=True)


def timed(command, env=None):
    start = time.monotonic()
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env)
    if done.returncode != 0:
        raise SystemExit(f"bench: {' '.join(command)} failed:\n{done.stderr}")
    return time.monotonic() - start


def start_cluster(workers):
    from distributed import Client, LocalCluster
    start = time.monotonic()
    cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None)
    client = Client(cluster)
    client.wait_for_workers(workers)
    return cluster, client, time.monotonic() - start


def row(name, value, target, ok=None):
    mark = "" if ok is None else ("  ok" if ok else "  MISSED")
    print(f"{name:<52} {value:>14}   target: {target}{mark}", flush=True)
    return ok is not False


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--scenehost", help="the scenehost command (default: the one built with the package)")
    parser.add_argument("--size", type=int, default=2048, help="map side of the 16-tile region (default 2048)")
    parser.add_argument("--big-size", type=int, default=4096, help="map side of the 64-tile region (default 4096)")
    parser.add_argument("--tile", type=int, default=512, help="tile side in pixels (default 512, as the bundled region)")
    a = parser.parse_args()
    binary = region.find_scenehost(a.scenehost)
    env = dict(os.environ, PYTHONPATH=PACKAGE_ROOT, SCENEHOST_BIN=binary)
    os.environ["SCENEHOST_BIN"] = binary  # the local cluster's workers run this one
    good = True
    with tempfile.TemporaryDirectory(prefix="bench_region_cluster_") as folder:
        recipe = make_region(os.path.join(folder, "small"), a.size, a.tile)
        tiles = [tuple(t) for t in region.plan(recipe, binary)["tiles"]]
        print(f"region: {a.size}x{a.size} pixels, {a.tile}-pixel tiles, {len(tiles)} tiles; "
              f"{os.cpu_count()} cores; scenehost {binary}", flush=True)
        if len(tiles) < 16:
            raise SystemExit("bench: the region needs at least 16 tiles")

        # The tile job alone, one after the other.
        clean(recipe)
        start = time.monotonic()
        for x, y in tiles:
            timed([binary, "--quiet", "RaiseRegion", recipe, "tile", str(x), str(y)])
        job = (time.monotonic() - start) / len(tiles)
        row("tile job alone (a scenehost process), mean", f"{job * 1000:.0f} ms", "reported")

        # Through Dask, on a started local cluster.
        through = {}
        for workers in (1, 2):
            cluster, client, started = start_cluster(workers)
            try:
                row(f"local cluster start, {workers} worker(s)", f"{started:.2f} s", "reported")
                clean(recipe)
                through[workers] = region.build(recipe, client=client, progress=False)
            finally:
                client.close()
                cluster.close()
        for workers, s in through.items():
            rate = len(tiles) / s["timings"]["tiles"]
            row(f"through Dask, {workers} worker(s): tiles per second", f"{rate:.2f}", "reported")
        per_task = through[1]["timings"]["tiles"] / len(tiles)
        overhead = per_task - job
        good &= row("Dask's overhead per task over the tile job alone",
                    f"{overhead * 1000:.0f} ms ({100 * overhead / job:.1f}%)", "<= 10% of a tile job",
                    overhead <= 0.10 * job)
        tile_speedup = through[1]["timings"]["tiles"] / through[2]["timings"]["tiles"]
        good &= row("2 workers against 1: tile throughput", f"{tile_speedup:.2f}x", ">= 1.7x", tile_speedup >= 1.7)
        speedup = through[1]["seconds"] / through[2]["seconds"]
        row("2 workers against 1: whole build (with the tileset)", f"{speedup:.2f}x", "reported")

        # End to end on 64 tiles: the command a single-machine user runs,
        # cluster start included, against one scenehost process.
        big = make_region(os.path.join(folder, "big"), a.big_size, a.tile)
        count = len(region.plan(big, binary)["tiles"])
        print(f"region: {a.big_size}x{a.big_size} pixels, {a.tile}-pixel tiles, {count} tiles", flush=True)
        clean(big)
        one_process = timed([binary, "--quiet", "RaiseRegion", big])
        clean(big)
        dask_one = timed([sys.executable, "-m", "scenehost.region", big, "--workers", "1", "--quiet"], env=env)
        row("one process: scenehost RaiseRegion", f"{one_process:.2f} s", "reference")
        good &= row("1 worker through Dask, end to end", f"{dask_one:.2f} s ({dask_one / one_process:.2f}x)",
                    "<= 1.10x one process" + ("" if count >= 64 else " (needs 64 tiles)"),
                    dask_one <= 1.10 * one_process if count >= 64 else None)
    return 0 if good else 1


if __name__ == "__main__":
    sys.exit(main())
