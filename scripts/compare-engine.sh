#!/bin/sh
# Compares this tree's limiter with another revision's, bit for bit, in sample-peak mode and, when
# both have it, in true-peak mode: tools/enginecompare/EngineCompare.cpp is built against each
# one's limiter/ (same compiler, same flags as the build) and the checksums they print, one per
# scenario, must be the same. This tree's engine runs twice: on the widest vector path this
# processor has, and on the baseline processor's path (ORVALIS_BASELINE_LANES=1); both must match.
#
#   scripts/compare-engine.sh [REVISION [OTHER]]   (default: main against this working tree)
#
# Exit status 0 when every scenario matches, 1 when any differs, 2 when a build fails.
set -eu
rev=${1:-main}
other=${2:-}
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
flags="-O3 -DNDEBUG -std=c++17 -ffp-contract=off -fno-fast-math"

mkdir -p "$work/other-tree"
git -C "$here" archive "$rev" limiter | tar -x -C "$work/other-tree"
this_root=$here
if [ -n "$other" ]; then
    mkdir -p "$work/this-tree"
    git -C "$here" archive "$other" limiter | tar -x -C "$work/this-tree"
    this_root=$work/this-tree
fi
# True-peak mode also compares the output true-peak readouts where both have them, and this
# tree's output with the readouts not measured (where it can be told so) with the other's.
both() { grep -q "$1" "$work/other-tree/limiter/LookaheadLimiter.h" && grep -q "$1" "$this_root/limiter/LookaheadLimiter.h"; }
modes="sample-peak"
if both setTruePeak; then
    modes="$modes true-peak"
    grep -q setOutputTruePeaksMeasured "$this_root/limiter/LookaheadLimiter.h" \
        && modes="$modes true-peak-unmeasured-readouts"
fi
status=0
for mode in $modes; do
    for side in other this; do
        root=$work/other-tree
        [ "$side" = this ] && root=$this_root
        define=
        case $mode in
            true-peak)
                define=-DORVALIS_COMPARE_TRUE_PEAK
                both getOutputTruePeak && define="$define -DORVALIS_COMPARE_READOUTS" ;;
            true-peak-unmeasured-readouts)
                define=-DORVALIS_COMPARE_TRUE_PEAK
                [ "$side" = this ] && define="$define -DORVALIS_COMPARE_UNMEASURED_READOUTS" ;;
        esac
        # shellcheck disable=SC2086
        c++ $flags $define -I"$root" "$here/tools/enginecompare/EngineCompare.cpp" "$root"/limiter/*.cpp \
            -o "$work/$side" || exit 2
    done

    start=$(date +%s)
    "$work/other" >"$work/other.txt" 2>/dev/null &
    "$work/this" >"$work/this.txt" 2>/dev/null
    wait
    ORVALIS_BASELINE_LANES=1 "$work/this" >"$work/baseline.txt" 2>/dev/null
    echo "$mode: $(wc -l <"$work/this.txt") scenarios in $(($(date +%s) - start)) s"
    for path in this baseline; do
        name="${other:-this tree}"
        [ "$path" = baseline ] && name="$name (baseline vector path)"
        if cmp -s "$work/other.txt" "$work/$path.txt"; then
            echo "$mode output of $name bit-identical to $rev in every scenario"
        else
            echo "$mode output of $name differs from $rev (rate, look-ahead, release, ceiling, signal, changes, plain loop, checksum):"
            diff "$work/other.txt" "$work/$path.txt" | head -40
            status=1
        fi
    done
done
exit $status
