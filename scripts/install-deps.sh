#!/usr/bin/env bash
# Installs the Debian packages AVRender needs to build, test and render.
# Idempotent: packages already installed are not touched, so a second run is quick.
# Works as root and, for other users, through sudo.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    ffmpeg
    libgdal-dev libnova-dev libdeflate-dev
)
packages+=("$@")

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if ((${#missing[@]} > 0)); then
    if [[ $(id -u) -eq 0 ]]; then
        as_root=()
    else
        as_root=(sudo)
    fi
    echo "Installing: ${missing[*]}"
    "${as_root[@]}" apt-get update -qq
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
