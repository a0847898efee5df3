#!/usr/bin/env bash
# Sets up, builds a release tree in build-rel/ and runs every benchmark.
#   scripts/bench.sh [--no-build]
# OpenCV (libopencv-dev) is installed as root for bench_blobs' optional
# comparison; without root the install line is printed and the comparison
# is skipped. Every executable named bench_* under build-rel/bench/ runs, so a
# benchmark added later runs too; a failing one is reported and the others
# still run. Exit status 1 when any of them failed.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-rel"

bash "$root/scripts/setup.sh" || exit 1
if ! dpkg-query -W -f='${Status}' libopencv-dev 2>/dev/null | grep -q "install ok installed"; then
  if [ "$(id -u)" -eq 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq libopencv-dev ||
      echo "bench: libopencv-dev could not be installed; bench_blobs runs without OpenCV" >&2
  else
    echo "bench: for the OpenCV comparison run: sudo apt-get install -y libopencv-dev" >&2
  fi
fi

if [ "${1:-}" != "--no-build" ]; then
  BUILD_DIR="$build" BUILD_TYPE=Release bash "$root/scripts/build.sh" -DXSI_BUILD_TESTS=OFF || exit 1
fi

failed=()
run() {  # name, command...
  local name="$1"
  shift
  echo
  echo "==== $name"
  if ! "$@"; then
    echo "bench: $name failed" >&2
    failed+=("$name")
  fi
}

# Extra settings for benchmarks that need them; the rest run without arguments.
while IFS= read -r exe; do
  name="$(basename "$exe")"
  case "$name" in
    bench_blobs) run "$name" env TMPDIR=/dev/shm "$exe" --reps 5 ;;
    bench_python_cpp) ;;  # driven by bench_python.py below
    *) run "$name" "$exe" ;;
  esac
done < <(find "$build/bench" -type f -name 'bench_*' -perm -u+x ! -name '*.*' | sort)

run bench_region /usr/bin/python3 "$root/bench/bench_region/bench_region.py" "$build/bin/scenehost"

run bench_preview_script /usr/bin/python3 "$root/bench/bench_preview/bench_preview_script.py" "$build/bin/scenehost"

run six_findspots bash "$root/bench/bench_memory/six_findspots.sh" "$build/bin/scenehost"

# The viewer: first full frame of a tileset in headless Chromium (skips,
# status 77, where Chromium cannot start).
if [ -f "$build/bin/viewer/viewer.js" ] && command -v node >/dev/null 2>&1; then
  run bench_view node "$root/bench/bench_view/bench_view.mjs" --scenehost "$build/bin/scenehost"
fi

python_bench="$build/bench/bench_python/bench_python.py"
if [ -f "$python_bench" ] && [ -d "$build/python" ]; then
  run bench_python env PYTHONPATH="$build/python" python3 "$python_bench"
fi

# Regions through Dask (needs python3-distributed and python3-gdal, from setup.sh).
if [ -d "$build/python/scenehost" ]; then
  run bench_region_cluster env PYTHONPATH="$build/python" /usr/bin/python3 \
    "$root/bench/bench_region_cluster/bench_region_cluster.py" --scenehost "$build/bin/scenehost"
fi

if [ ${#failed[@]} -gt 0 ]; then
  echo "bench: failed: ${failed[*]}" >&2
  exit 1
fi
