#!/usr/bin/env bash
# The Ardour crash hunt. Builds the plug-in (and the Ardour host test) with sanitizers, loads the
# sanitizer runtime into Ardour 7 through LD_PRELOAD, and runs the Ardour host test's cycles many
# times per format, every run closing its session in full after the export (which the CTest run
# leaves out), plus as many cycles without any plug-in. Then it lists every crash (the step, what
# it did last, Ardour's own last words), every sanitizer report with its first frames, and every
# JUCE assertion, and says which point into Orvalis's modules (our code, or JUCE's on our behalf).
#
#   scripts/ardour-crash-hunt.sh [asan|tsan] [CYCLES]
#     asan  AddressSanitizer + UndefinedBehaviorSanitizer (build-hunt), the default
#     tsan  ThreadSanitizer (build-hunt-tsan); Ardour itself is not instrumented, so reports with
#           no frame in Orvalis's modules are Ardour's business (or false alarms about its atomics)
#     CYCLES  cycles per format, 24 by default (about 3 minutes each under ASan on 2 cores)
#
# Both builds have JUCE's assertions on; they are listed for a look. The exit status is 1 when a
# sanitizer report has a frame in Orvalis's modules. Not part of CI: it takes an hour or more.
set -euo pipefail
cd "$(dirname "$0")/.."
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
kind="${1:-asan}"
cycles="${2:-24}"
case "$kind" in
    asan) build=build-hunt sanitize=address,undefined runtimes=(libasan.so libubsan.so) ;;
    tsan) build=build-hunt-tsan sanitize=thread runtimes=(libtsan.so) ;;
    *) echo "usage: $0 [asan|tsan] [CYCLES]" >&2; exit 2 ;;
esac

# Ardour is built with GCC: the plug-in uses GCC's sanitizer runtimes, which Ardour then loads.
CC=gcc CXX=g++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DORVALIS_SANITIZE="$sanitize" -DORVALIS_JUCE_CHECKS=ON -DORVALIS_BUILD_BENCHMARKS=OFF
nice -n 10 cmake --build "$build" -j"${ORVALIS_JOBS:-2}" --target orvalis_ardour_host_tests
gcc -O2 -shared -fPIC -o "$build/nogettext.so" scripts/nogettext.c

preload=""
for runtime in "${runtimes[@]}"; do preload+="$(gcc -print-file-name="$runtime") "; done
preload+="$PWD/$build/nogettext.so"

hunt="$PWD/$build/ardour-hunt"
work="$hunt/run" # the test's scratch folder, kept
rm -rf "$hunt"
mkdir -p "$hunt/reports"
echo "== $cycles cycles per format with $kind, Ardour preloaded with: $preload ($(date +%T))"
status=0
ORVALIS_ARDOUR_WORK="$work" ORVALIS_ARDOUR_CYCLES="$cycles" ORVALIS_ARDOUR_TEARDOWN=1 \
ORVALIS_ARDOUR_STACKS_ON_HANG=1 \
ORVALIS_ARDOUR_PRELOAD="$preload" ASAN_SYMBOLIZER_PATH="$(command -v llvm-symbolizer || true)" \
ASAN_OPTIONS="detect_leaks=0:halt_on_error=1:abort_on_error=1:handle_abort=1:log_path=$hunt/reports/asan" \
UBSAN_OPTIONS="print_stacktrace=1:log_path=$hunt/reports/ubsan" \
TSAN_OPTIONS="halt_on_error=0:report_signal_unsafe=0:history_size=4:log_path=$hunt/reports/tsan" \
    "$build/tests/hosts/orvalis_ardour_host_tests" > "$hunt/test.txt" 2>&1 || status=$?
echo "== the Ardour host test ended with status $status ($(date +%T)); its output: $hunt/test.txt"
grep -E '^\[ardour\] Ardour crashed in|FAILED|Failure' "$hunt/test.txt" || true

ours='Orvalis(HOA)?\.(so|vst3|lv2)'
echo
echo "== crashes (step: last step reached | Ardour's last line)"
for log in "$work"/logs/*-crash*.log; do
    [ -e "$log" ] || continue
    last=$(grep '^orvalis:' "$log" | tail -1 | cut -c10-)
    echo "$(basename "$log" .log): ${last:-before loading} | $(grep -v '^$' "$log" | tail -1)"
done

echo
echo "== sanitizer reports"
mentioning=0
for report in "$hunt"/reports/*; do
    [ -e "$report" ] || continue
    headline=$(grep -m1 -E 'ERROR: |WARNING: ThreadSanitizer|runtime error' "$report" || head -1 "$report")
    if grep -qE "$ours" "$report"; then where="INTO ORVALIS"; mentioning=$((mentioning + 1)); else where="no Orvalis frame"; fi
    echo "-- $(basename "$report") [$where]: $headline"
    grep -E '^ +#[0-9]+ ' "$report" | head -8 | sed 's/^/     /'
done

echo
echo "== JUCE assertions (file:line in JUCE's sources; look them up, they are not counted below)"
grep -h -o 'JUCE Assertion failure in [^ ]*' "$work"/logs/*.log 2>/dev/null | sort | uniq -c || true

echo
echo "== $mentioning report kinds point into Orvalis's modules ($(date +%T))"
[ "$mentioning" -eq 0 ]
