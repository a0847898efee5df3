#!/usr/bin/env bash
# Installs the Debian packages the project builds with. As root it runs
# apt-get; otherwise it prints the exact command and stops. Then installs the
# viewer page's npm packages (viewer/package-lock.json) with `npm ci`.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

packages=(
  g++ cmake make pkg-config ccache
  libgtest-dev libbenchmark-dev
  libtinyobjloader-dev libstb-dev libpng-dev libjpeg62-turbo-dev libtinygltf-dev nlohmann-json3-dev libcli11-dev
  clang libclang-rt-14-dev
  pybind11-dev python3-dev python3-numpy python3-pytest python3-pil
  libegl-dev libgles-dev libegl-mesa0 libgl1-mesa-dri
  libcpp-httplib-dev chromium
)
# Node.js and npm for the viewer page, unless a node with npm is already
# installed (for example from another source, whose nodejs package would
# conflict with Debian's npm).
if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
  packages+=(nodejs npm)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -ne 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]}" >&2
    echo "run: sudo apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq || true
  apt-get install -y -qq "${missing[@]}"
fi

# The viewer's packages, exactly as locked; skipped when they are in place.
stamp="$root/viewer/node_modules/.installed-lock.json"
if ! cmp -s "$root/viewer/package-lock.json" "$stamp" 2>/dev/null; then
  echo "installing the viewer's npm packages (npm ci in viewer/)"
  (cd "$root/viewer" && npm ci --no-audit --no-fund)
  cp "$root/viewer/package-lock.json" "$stamp"
fi
