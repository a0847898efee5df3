#!/usr/bin/env bash
# Sets up, builds and runs every test.
#   scripts/test.sh              normal build in build/
#   scripts/test.sh --sanitize   AddressSanitizer + UBSan build in build-asan/
# In CI (CI=true) warnings are errors.
# The tests are switched on explicitly, whatever an earlier configure of the
# same folder cached, and a run in which no test ran fails.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh"

flags=(-DXSI_BUILD_TESTS=ON -DXSI_BUILD_BENCH=OFF)
if [ "${CI:-}" = "true" ]; then flags+=(-DXSI_WERROR=ON); fi

if [ "${1:-}" = "--sanitize" ]; then
  export BUILD_DIR="$root/build-asan" BUILD_TYPE=Debug
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  flags+=(-DXSI_SANITIZE=ON)
else
  export BUILD_DIR="${BUILD_DIR:-$root/build}"
fi

bash "$root/scripts/build.sh" "${flags[@]}"
cd "$BUILD_DIR"
ctest --output-on-failure --no-tests=error -j2
