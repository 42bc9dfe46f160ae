#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need.
# Safe to run again: apt-get skips what is already there.
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

if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; else sudo=""; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${packages[@]}" "$@"
