#!/usr/bin/env bash
# Installs what the build, the tests and the program need, and nothing when all is there.
# Shared by run.sh, test.sh and bench.sh; needs root or sudo only when something is missing.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev libqt6printsupport6 libqcustomplot-dev libqcustomplot2.1-qt6
    googletest libgtest-dev
    clang-14 libclang-rt-14-dev          # libFuzzer for the framer fuzz target
    fonts-dejavu-core                     # Cyrillic glyphs for the Russian interface
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
if [[ $(id -u) -ne 0 ]]; then
    command -v sudo >/dev/null || { echo "Need root or sudo to install: ${missing[*]}" >&2; exit 1; }
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
