#!/usr/bin/env bash
# Configures and builds into build/ (or the folder given as BUILD_DIR).
# Extra arguments go to CMake's configure step.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
type="${BUILD_TYPE:-RelWithDebInfo}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE="$type" "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
