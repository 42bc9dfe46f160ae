#!/usr/bin/env bash
# Fails when any of the project's own C++ sources (every *.cpp and *.h that git tracks; JUCE and
# the generated files are not in the repository) is not as clang-format 14 writes it with the
# repository's .clang-format. Fix with: clang-format -i FILE...
set -euo pipefail
cd "$(dirname "$0")/.."

formatter=${CLANG_FORMAT:-}
if [ -z "$formatter" ]; then
    formatter=$(command -v clang-format-14 || command -v clang-format || true)
fi
if [ -z "$formatter" ]; then
    echo "format check: clang-format 14 not found (Debian package clang-format)" >&2
    exit 2
fi
version=$("$formatter" --version)
case "$version" in
    *" version 14."*) ;;
    *)
        echo "format check: needs clang-format 14, $formatter is: $version" >&2
        exit 2
        ;;
esac

mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
if [ "${#files[@]}" -eq 0 ]; then
    echo "format check: git lists no sources (run it in the repository)" >&2
    exit 2
fi

if "$formatter" --dry-run --Werror "${files[@]}"; then
    echo "format check: ${#files[@]} files as clang-format writes them"
else
    echo "format check: the files above differ from clang-format's output;" \
         "run clang-format -i on them" >&2
    exit 1
fi
