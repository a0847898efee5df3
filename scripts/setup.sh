#!/usr/bin/env bash
# Installs the Debian packages the project builds with. As root it runs
# apt-get; otherwise it prints the exact command and stops.
set -euo pipefail

packages=(
  g++ cmake make pkg-config ccache
  libgtest-dev libbenchmark-dev
  libtinyobjloader-dev libstb-dev libpng-dev libjpeg62-turbo-dev libtinygltf-dev nlohmann-json3-dev libcli11-dev
  clang libclang-rt-14-dev
  pybind11-dev python3-dev python3-numpy python3-pytest python3-pil
  libegl-dev libgles-dev libegl-mesa0 libgl1-mesa-dri
  locales
)

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

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  german_locale
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]}" >&2
  echo "run: sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi

echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq || true
apt-get install -y -qq "${missing[@]}"
german_locale
