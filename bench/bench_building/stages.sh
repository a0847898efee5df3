#!/usr/bin/env bash
# Where a whole `scenehost RaiseTower ... --save x.glb` spends its time, from
# system-call timestamps (strace): start-up (exec to the first plug-in
# opened), plug-ins (to the first kit .obj), kit (to the last kit .obj), the
# building (to the command's printed result), the save (to the rename) and
# the exit. Minimum of each stage over N runs, in ms.
#   bench/bench_building/stages.sh [path/to/scenehost] [FLOORS WIDTH LENGTH]
# Defaults: build-rel/bin/scenehost, 30 20 20; N=5 runs (N=9 to change).
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
scenehost="${1:-$root/build-rel/bin/scenehost}"
floors="${2:-30}" width="${3:-20}" length="${4:-20}"
if ! command -v strace >/dev/null; then
  echo "stages: needs strace: apt-get install -y strace" >&2
  exit 1
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
for _ in $(seq "${N:-5}"); do
  strace --seccomp-bpf -f -ttt -e trace=execve,openat,rename,exit_group,write \
    "$scenehost" RaiseTower T "$floors" "$width" "$length" brick A 1 --save "$work/x.glb" \
    2>&1 >/dev/null | grep -v ENOENT |
    awk '/execve\(/ && !t0 {t0=$1}
         /plugins\/.*\.so"/ && !tp {tp=$1}
         /objs\/.*\.obj"/ {if (!k0) k0=$1; k1=$1}
         /write\(1, "true/ {tb=$1}
         /rename\(/ {ts=$1}
         /exited with/ {te=$1}
         END {printf "%.1f %.1f %.1f %.1f %.1f %.1f %.1f\n", (tp-t0)*1e3, (k0-tp)*1e3, (k1-k0)*1e3,
                     (tb-k1)*1e3, (ts-tb)*1e3, (te-ts)*1e3, (te-t0)*1e3}'
done | awk '{for (k = 1; k <= NF; k++) if (NR == 1 || $k < m[k]) m[k] = $k}
            END {printf "start-up %s  plug-ins %s  kit %s  building %s  save %s  exit %s  total %s (ms)\n",
                        m[1], m[2], m[3], m[4], m[5], m[6], m[7]}'
