#!/usr/bin/env bash
# Installs what the build needs, builds everything and runs every test.
#   scripts/test.sh                     # every test
#   scripts/test.sh -LE 'soak|ardour'   # CTest's own arguments choose the tests (here: the quick
#   scripts/test.sh -L 'soak|ardour'    # ones, then the slow ones; the second run builds nothing)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# Share compiled objects between checkouts in different folders (ccache is optional).
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure --no-tests=error "$@"
