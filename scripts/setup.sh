#!/usr/bin/env bash
# Installs the Debian packages the project builds with, and the npm packages
# of tests/validate and of the viewer page (viewer/). As root it runs
# apt-get; otherwise it prints the exact command and stops.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

packages=(
  g++ cmake make pkg-config ccache
  libgtest-dev libbenchmark-dev
  libtinyobjloader-dev libstb-dev libpng-dev libjpeg62-turbo-dev libtinygltf-dev nlohmann-json3-dev libcli11-dev
  libgdal-dev libproj-dev
  libmeshoptimizer-dev
  clang libclang-rt-14-dev
  pybind11-dev python3-dev python3-numpy python3-pytest python3-pil
  python3-distributed python3-gdal
  libegl-dev libgles-dev libegl-mesa0 libgl1-mesa-dri
  libcpp-httplib-dev chromium
  locales
)

debian_packages() {
  missing=()
  for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done

  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi

  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]}" >&2
    echo "run: sudo apt-get install -y ${missing[*]}" >&2
    return 1
  fi

  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq || true
  apt-get install -y -qq "${missing[@]}"
}

# The glTF validator the tests run over written tiles (npm gltf-validator,
# pinned by tests/validate/package-lock.json). Node and npm come from
# Debian's nodejs and npm packages unless npm is already installed.
validator() {
  if ! command -v npm >/dev/null 2>&1; then
    if [ "$(id -u)" -ne 0 ]; then
      echo "npm is missing; run: sudo apt-get install -y nodejs npm" >&2
      return 1
    fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq nodejs npm
  fi
  (cd "$(dirname "$0")/../tests/validate" && npm ci --no-audit --no-fund --silent)
}

# The suite runs once under a German locale (comma decimal separator): the
# CTest suite_under_german_locale, which skips where the locale is missing.
german_locale() {
  if locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; then return 0; fi
  if [ "$(id -u)" -ne 0 ]; then
    echo "no de_DE.UTF-8 locale; run: sudo localedef -i de_DE -f UTF-8 de_DE.UTF-8" >&2
    return 0
  fi
  echo "generating the de_DE.UTF-8 locale"
  if [ -f /etc/locale.gen ] && command -v locale-gen >/dev/null 2>&1; then
    sed -i 's/^# *\(de_DE\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^de_DE\.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null
  else
    localedef -i de_DE -f UTF-8 de_DE.UTF-8
  fi
}

debian_packages
german_locale
validator

# The viewer page's packages (three.js, 3d-tiles-renderer, esbuild,
# playwright-core), exactly as viewer/package-lock.json pins them; skipped
# when that lockfile is already installed.
viewer() {
  local stamp="$root/viewer/node_modules/.installed-lock.json"
  if cmp -s "$root/viewer/package-lock.json" "$stamp" 2>/dev/null; then
    return 0
  fi
  echo "installing the viewer's npm packages (npm ci in viewer/)"
  (cd "$root/viewer" && npm ci --no-audit --no-fund --silent)
  cp "$root/viewer/package-lock.json" "$stamp"
}
viewer
