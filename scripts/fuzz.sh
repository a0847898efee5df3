#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang into build-fuzz/ and runs each one
# for SECONDS (default 60) on a copy of its seed corpus. Exits non-zero on the
# first finding; the crashing input is left in build-fuzz/findings/<name>/.
#   scripts/fuzz.sh [SECONDS] [NAME...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
shift || true
bash "$root/scripts/setup.sh"

build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DXSI_FUZZ=ON -DXSI_BUILD_TESTS=OFF -DXSI_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"

names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  shopt -s nullglob
  for exe in "$build"/fuzz/fuzz_*; do names+=("$(basename "$exe")"); done
  shopt -u nullglob
fi
if [ ${#names[@]} -eq 0 ]; then
  echo "no fuzz harnesses built in $build/fuzz" >&2
  exit 1
fi

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
status=0
for name in "${names[@]}"; do
  seeds="$root/tests/fuzz/corpus/${name#fuzz_}"
  work="$build/corpus/$name"
  findings="$build/findings/$name"
  mkdir -p "$work" "$findings"
  [ -d "$seeds" ] && cp -rn "$seeds"/. "$work"/ 2>/dev/null || true
  dict="$root/tests/fuzz/${name}.dict"
  extra=()
  [ -f "$dict" ] && extra+=("-dict=$dict")
  echo "== $name: ${seconds}s"
  if ! (cd "$findings" && "$build/fuzz/$name" "$work" -max_total_time="$seconds" \
        -rss_limit_mb=2048 -malloc_limit_mb=2048 -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$findings/" "${extra[@]}" 2>"$build/$name.log"); then
    echo "FINDING in $name: see $build/$name.log and $findings/" >&2
    tail -40 "$build/$name.log" >&2
    status=1
  else
    grep -E "stat::number_of_executed_units|cov:" "$build/$name.log" | tail -2 || true
  fi
done
exit $status
