#!/usr/bin/env bash
# Installs what the build needs, builds orvalis-render and limits its built-in demo scene, a
# four-channel ambisonic recording of percussion circling the listener with peaks near +9 dBFS.
# Writes out/demo.wav (the limited scene) and out/demo.png (levels and gain reduction over time)
# and prints the summary.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# Share compiled objects between checkouts in different folders (ccache is optional).
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)" --target orvalis-render
mkdir -p out
build/render/orvalis-render --demo out/demo.wav --plot out/demo.png
