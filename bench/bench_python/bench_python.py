"""10,000 run("Duplicate", ...) calls from Python against the same calls
through host::Runtime::Execute in C++ (bench_python_cpp), and the ratio.

    PYTHONPATH=<build>/python python3 <build>/bench/bench_python/bench_python.py
"""
import subprocess
import sys
import time

import scenehost

CPP = "@BENCH_CPP@"
CUBE = "@BENCH_CUBE@"
CALLS, BATCH = 10000, 100


def python_seconds():
    host = scenehost.Host(plugins=[])
    host.run("ObjImport", CUBE)
    copies = ",".join(f"cube{i}" for i in range(1, BATCH + 1))
    run = host.run
    timed = 0.0
    for _ in range(CALLS // BATCH):
        start = time.perf_counter()
        for _ in range(BATCH):
            run("Duplicate", "cube")
        timed += time.perf_counter() - start
        run("DeleteObj", copies)
        # Keep the session's journal from growing across batches, as C++ does.
        host = scenehost.Host(plugins=[])
        run = host.run
        run("ObjImport", CUBE)
    return timed


def cpp_seconds():
    out = subprocess.run([CPP, CUBE], capture_output=True, text=True, check=True).stdout
    return float(out.split()[1])


def main():
    best_py = min(python_seconds() for _ in range(3))
    best_cpp = min(cpp_seconds() for _ in range(3))
    print(f"{CALLS} Duplicate calls: Python {best_py * 1e3:.1f} ms, C++ {best_cpp * 1e3:.1f} ms, "
          f"ratio {best_py / best_cpp:.2f}x (target <= 1.5x)")


if __name__ == "__main__":
    sys.exit(main())
