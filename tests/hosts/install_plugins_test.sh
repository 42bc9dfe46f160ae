#!/usr/bin/env bash
# Installs the built plug-ins into a scratch home folder the way the install-plugins target does,
# checks that each landed in its folder, and loads the installed VST 2.4 module in the raw host.
# usage: install_plugins_test.sh CMAKE INSTALL_SCRIPT VST2_HOST_TEST [-DVAR=VALUE]...
set -euo pipefail
cmake_bin=$1 script=$2 vst2_host=$3
shift 3

home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
HOME="$home" "$cmake_bin" "$@" -P "$script"

fail=0
for item in .vst/Orvalis.so .vst3/Orvalis.vst3/Contents/x86_64-linux/Orvalis.so \
            .lv2/Orvalis.lv2/manifest.ttl .lv2/Orvalis.lv2/orvalis.ttl .lv2/Orvalis.lv2/Orvalis.so; do
    if [ -e "$home/$item" ]; then echo "installed ~/$item"; else echo "MISSING ~/$item"; fail=1; fi
done

# Installing again over an existing copy must work too.
HOME="$home" "$cmake_bin" "$@" -P "$script" > /dev/null

ORVALIS_VST2_MODULE="$home/.vst/Orvalis.so" "$vst2_host" --gtest_filter='RawVst2Host.CanDoAnswers' || fail=1
exit $fail
