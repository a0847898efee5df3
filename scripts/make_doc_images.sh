#!/usr/bin/env bash
# Renders the pictures in docs/images/ with scenehost --preview (800x600,
# iso view unless an entry says otherwise). Builds first unless the host is
# already built; set SCENEHOST to use another scenehost.
#
# To add a picture, add a line to `pictures`: the file name, then the
# scenehost words (a command and its arguments, and any options).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
host="${SCENEHOST:-$root/build/bin/scenehost}"
out="$root/docs/images"

pictures=(
  "tower_brick.png|RaiseTower Tower 5 4 3 brick A 1"
  "tower_glass.png|RaiseTower Tower 5 4 3 glass A 1"
  "city.png|RaiseCity $root/examples/city/town.json"
)

if [ ! -x "$host" ]; then
  bash "$root/scripts/setup.sh"
  # Only what the pictures need; build/ keeps its cached options (tests on).
  BUILD_TARGETS="scenehost RaiseTower findSpots RaiseCity" bash "$root/scripts/build.sh"
fi
mkdir -p "$out"
# findSpots leaves blobs.bmp in the current folder; keep it out of the tree.
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
for entry in "${pictures[@]}"; do
  name="${entry%%|*}"
  read -r -a words <<< "${entry#*|}"
  "$host" --quiet "${words[@]}" --preview "$out/$name" --preview-size 800x600 >/dev/null
  echo "wrote docs/images/$name"
done
