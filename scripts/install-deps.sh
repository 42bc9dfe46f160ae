#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need.
# Safe to run again: when every package is installed already it asks apt for nothing.
set -euo pipefail

packages=(
    build-essential cmake pkg-config ccache clang libclang-rt-14-dev
    juce-modules-source fst-dev lv2-dev
    libasound2-dev libfreetype-dev libfontconfig1-dev libx11-dev libxext-dev libxinerama-dev
    libxrandr-dev libxcursor-dev libxcomposite-dev libgl-dev
    libflac-dev libvorbis-dev libpng-dev libjpeg-dev zlib1g-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    liblilv-dev lilv-utils sordi lv2file ardour
    xvfb xauth xdotool imagemagick fonts-roboto-unhinted fonts-dejavu-core
    clang-format time
    libebur128-dev ffmpeg
    slurm-wlm munge hyperfine iproute2
)

missing=()
for p in "${packages[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2> /dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -eq 0 ]; then
    echo "install-deps: all $(( ${#packages[@]} + $# )) packages are installed"
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; else sudo=""; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${packages[@]}" "$@"
