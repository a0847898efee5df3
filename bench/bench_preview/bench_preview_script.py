#!/usr/bin/python3
"""What an 800x600 RenderPreview adds to a scenehost script that raises the
20 x 20 x 30 brick tower, for the first render in a process and for a later
one.

    /usr/bin/python3 bench/bench_preview/bench_preview_script.py SCENEHOST [--runs N] [--later K]

Three scripts run in turn, N times each (default 7), as fresh processes:
  raise    RaiseTower T 30 20 20 brick A 1
  first    the same, then one RenderPreview
  later    the same, then 1 + K RenderPreview (default K = 5)
With medians of wall time, the first render adds first - raise, and each
later one (later - first) / K. Each is printed with its target (first at
most 0.25 s, later at most 0.1 s). The first render includes starting the
driver (EGL, llvmpipe, its shader cache on disk); both include writing the
PNG. The plug-ins are taken from SCENEHOST's build tree (../plugins).
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
TARGET_FIRST = 0.25
TARGET_LATER = 0.1


def run(cmd):
    start = time.monotonic()
    p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    wall = time.monotonic() - start
    if p.returncode != 0:
        sys.exit("bench_preview_script: %s failed:\n%s" % (" ".join(cmd), p.stderr[-2000:]))
    return wall


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("scenehost")
    ap.add_argument("--runs", type=int, default=7)
    ap.add_argument("--later", type=int, default=5)
    a = ap.parse_args()
    scenehost = os.path.abspath(a.scenehost)
    plugins = os.path.join(os.path.dirname(os.path.dirname(scenehost)), "plugins")
    runs, later = max(1, a.runs), max(1, a.later)
    work = tempfile.mkdtemp(prefix="bench_preview_script-")
    try:
        png = os.path.join(work, "t.png")
        raise_line = "RaiseTower T 30 20 20 brick A 1\n"
        render_line = "RenderPreview %s 800 600 iso\n" % png
        scripts = {
            "raise": raise_line,
            "first": raise_line + render_line,
            "later": raise_line + render_line * (1 + later),
        }
        for name, text in scripts.items():
            with open(os.path.join(work, name + ".txt"), "w") as f:
                f.write(text)
        times = {name: [] for name in scripts}
        base = [scenehost, "--plugins", plugins, "--home", os.path.join(ROOT, "home"), "-q", "--script"]
        run(base + [os.path.join(work, "first.txt")])  # warms the file cache and the driver's shader cache
        for _ in range(runs):
            for name in scripts:
                times[name].append(run(base + [os.path.join(work, name + ".txt")]))
        med = {name: statistics.median(t) for name, t in times.items()}
        first = med["first"] - med["raise"]
        each = (med["later"] - med["first"]) / later
        print("tower 20x20x30 brick, RenderPreview 800x600 iso, medians of %d runs of each script" % runs)
        print("  raise only: %.3f s" % med["raise"])
        print("  first render in a process adds: %.3f s   (target <= %.2f s) %s" %
              (first, TARGET_FIRST, "ok" if first <= TARGET_FIRST else "MISSED"))
        print("  each later render adds:         %.3f s   (target <= %.2f s) %s" %
              (each, TARGET_LATER, "ok" if each <= TARGET_LATER else "MISSED"))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
