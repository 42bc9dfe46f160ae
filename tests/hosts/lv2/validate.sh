#!/usr/bin/env bash
# Validates every .ttl of the LV2 bundle with lv2_validate; fails on any error or warning.
# usage: validate.sh LV2_VALIDATE BUNDLE_DIR
set -uo pipefail
validate=$1 bundle=$2
shopt -s nullglob
files=("$bundle"/*.ttl)
[ ${#files[@]} -ge 3 ] || { echo "expected manifest.ttl and the plug-in's and window's .ttl in $bundle"; exit 1; }
command -v sord_validate >/dev/null || { echo "sord_validate is missing (Debian package sordi)"; exit 1; }
output=$("$validate" "${files[@]}" 2>&1)
status=$?
echo "$output" | grep -v '^Skipping file'
[ "$status" -eq 0 ] || { echo "lv2_validate exited with $status"; exit 1; }
echo "$output" | grep -q '^Found 0 errors' || { echo "lv2_validate found errors"; exit 1; }
if echo "$output" | grep -q '^warning'; then echo "lv2_validate warned"; exit 1; fi
