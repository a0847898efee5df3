#!/usr/bin/env bash
# Configures and builds into build/ (or the folder given as BUILD_DIR).
# Extra arguments go to CMake's configure step. ccache is used when present.
# BUILD_TARGETS="a b" builds only those targets (and what they need), without
# changing any cached option, so a later full build still has its tests.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
type="${BUILD_TYPE:-RelWithDebInfo}"
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$(dirname "$root")}" CCACHE_NOHASHDIR=1
fi
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE="$type" "${launcher[@]}" "$@" >/dev/null
targets=()
for t in ${BUILD_TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$build" -j"$(nproc)" "${targets[@]}"
