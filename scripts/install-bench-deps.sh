#!/usr/bin/env bash
# Installs the open-source limiters that scripts/bench-plugins.sh times beside Orvalis (run as
# black boxes only) and what the plugbench harness needs to build. Not needed for building or testing.
set -euo pipefail

packages=(
    cmake gcc pkg-config liblilv-dev lv2-dev fst-dev
    x42-plugins lsp-plugins-lv2 iem-plugin-suite-vst
)

if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; else sudo=""; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${packages[@]}" "$@"
