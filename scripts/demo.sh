#!/usr/bin/env bash
# Installs what the build needs, builds the engine and runs it on a built-in test signal.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)" --target orvalis-demo-engine
build/tools/orvalis-demo-engine
