#!/usr/bin/env bash
# Validates the built VST 2.4 module, VST3 bundle and LV2 bundle of Orvalis and of Orvalis HOA
# (its LV2 plug-in for the third order) with pluginval (the JUCE ecosystem's plug-in validator) at
# strictness level 10, three runs per format:
#   headless  every test that opens no window (--skip-gui-tests)
#   window    every test, the editor tests included, inside an Xvfb display
#   extreme   headless, at 8 kHz to 384 kHz and blocks of 1 to 65536 frames, all tests twice in a
#             random order
# pluginval is built from its sources beside this repository (../shared/tools/pluginval, or
# PLUGINVAL_DIR) into BUILD_DIR/pluginval, once; later runs only check it is up to date.
# Every log is kept in BUILD_DIR/pluginval-logs/<format>-<run>.log; a failed run prints the tail
# of its log. Any failed run fails the script.
#
#   scripts/pluginval.sh               # all six
#   scripts/pluginval.sh vst3 hoa-lv2  # some of them (vst2, vst3, lv2, hoa-vst2, hoa-vst3, hoa-lv2)
#
# Environment: BUILD_DIR (build), PLUGINVAL_DIR, PLUGINVAL_RUNS (the runs, "headless window
# extreme"), PLUGINVAL_SEED (0x4f72; "random" lets pluginval pick one, printed in each log),
# PLUGINVAL_TIMEOUT (seconds per run, 900).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
mkdir -p "$build"
build="$(cd "$build" && pwd)"
pluginvalDir="${PLUGINVAL_DIR:-$root/../shared/tools/pluginval}"
read -r -a runs <<< "${PLUGINVAL_RUNS:-headless window extreme}"
seed="${PLUGINVAL_SEED:-0x4f72}"
runTimeout="${PLUGINVAL_TIMEOUT:-900}"
lv2Uri=https://tarnwick.example/plugins/orvalis
hoaLv2Uri=https://tarnwick.example/plugins/orvalis-hoa/order-3
artefacts="$build/plugin/Orvalis_artefacts/Release"
hoaArtefacts="$build/plugin/OrvalisHOA_artefacts/Release"
logs="$build/pluginval-logs"
started=$SECONDS

formats=("$@")
[ ${#formats[@]} -gt 0 ] || formats=(vst2 vst3 lv2 hoa-vst2 hoa-vst3 hoa-lv2)
for format in "${formats[@]}"; do
    case "$format" in
        vst2 | vst3 | lv2 | hoa-vst2 | hoa-vst3 | hoa-lv2) ;;
        *) echo "usage: scripts/pluginval.sh [vst2|vst3|lv2|hoa-vst2|hoa-vst3|hoa-lv2]...  (unknown format '$format')" >&2; exit 2 ;;
    esac
done
for run in "${runs[@]}"; do
    case "$run" in
        headless | window | extreme) ;;
        *) echo "PLUGINVAL_RUNS: unknown run '$run' (headless, window, extreme)" >&2; exit 2 ;;
    esac
done

if [ ! -x "$pluginvalDir/build.sh" ]; then
    echo "pluginval's sources are not at $pluginvalDir" >&2
    echo "(expected beside the repository as ../shared/tools/pluginval; or set PLUGINVAL_DIR)" >&2
    exit 1
fi
pluginvalDir="$(cd "$pluginvalDir" && pwd)"

# What the build and the runs need; scripts/test.sh has installed it all already in CI.
if ! command -v xvfb-run > /dev/null || ! command -v xauth > /dev/null || ! command -v cmake > /dev/null \
    || ! command -v pkg-config > /dev/null || [ ! -d /usr/share/juce/modules ]; then
    "$root/scripts/install-deps.sh"
fi

# An LV2 host finds a plug-in by its URI in every bundle folder it knows; another bundle with our
# URI (an installed copy) would be validated instead of this build.
for folder in /usr/lib/lv2 /usr/local/lib/lv2; do
    for uri in "$lv2Uri" "$hoaLv2Uri"; do
        if [ -d "$folder" ] && grep -rlsF --include=manifest.ttl "$uri" "$folder" > /dev/null; then
            echo "$folder holds a bundle with the URI $uri: remove it, or pluginval validates that one" >&2
            exit 1
        fi
    done
done

# The plug-ins, brought up to date (after scripts/test.sh this is a quick check).
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=true
targets=()
for format in "${formats[@]}"; do
    case "$format" in
        vst2) targets+=(Orvalis_VST) ;;
        vst3) targets+=(Orvalis_VST3) ;;
        lv2) targets+=(Orvalis_LV2) ;;
        hoa-vst2) targets+=(OrvalisHOA_VST) ;;
        hoa-vst3) targets+=(OrvalisHOA_VST3) ;;
        hoa-lv2) targets+=(OrvalisHOA_LV2) ;;
    esac
done
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$build" -j"${ORVALIS_JOBS:-$(nproc)}" --target "${targets[@]}" > "$build/pluginval-plugins.log" 2>&1 \
    || { tail -n 30 "$build/pluginval-plugins.log"; exit 1; }
[ -f "$build/vst2-headers/pluginterfaces/vst2.x/aeffect.h" ] \
    || { echo "$build/vst2-headers is missing: the configure step writes it" >&2; exit 1; }

# pluginval replaces operator new and delete to catch allocations on the audio thread, but a
# plug-in only calls the replacements if the executable exports them: without this list, the
# allocations of our code and of JUCE's format wrappers inside the plug-in go unseen.
mkdir -p "$build/pluginval"
exports="$build/pluginval/exported-allocator.list"
printf '{ _Znwm; _Znam; _ZdlPv; _ZdaPv; _ZdlPvm; _ZdaPvm; };\n' > "$exports"
if [ -f "$build/pluginval/CMakeCache.txt" ] && ! grep -qF -- "--dynamic-list=$exports" "$build/pluginval/CMakeCache.txt"; then
    rm "$build/pluginval/CMakeCache.txt"
fi
step=$SECONDS
# Relative to the folder holding this repository and ../shared, ccache hits across checkouts.
pluginval=$(CCACHE_BASEDIR="$(dirname "$root")" LDFLAGS="-Wl,--dynamic-list=$exports" \
    "$pluginvalDir/build.sh" "$build/pluginval" "$build/vst2-headers" | tail -n 1) \
    || { echo "pluginval did not build: $build/pluginval/build.log" >&2; exit 1; }
# (grep -q would stop reading early and fail the pipeline through nm's broken pipe)
nm -D "$pluginval" | grep ' T _Znwm$' > /dev/null \
    || { echo "$pluginval does not export operator new: its allocation test would see nothing" >&2; exit 1; }
echo "== pluginval built: $((SECONDS - step)) s"

# A scratch home folder: JUCE's LV2 host looks for bundles in ~/.lv2, and pluginval keeps its
# settings in the home folder.
home="$build/pluginval-home"
rm -rf "$home" "$logs"
mkdir -p "$home/.lv2" "$logs"
ln -s "$artefacts/LV2/Orvalis.lv2" "$home/.lv2/Orvalis.lv2"
ln -s "$hoaArtefacts/LV2/OrvalisHOA.lv2" "$home/.lv2/OrvalisHOA.lv2"

# Tests left out, each with the reason; a file per format and run, given to --disabled-tests.
#
# vst3, every run: "Allocations during process". JUCE 7.0.5's VST3 wrapper allocates on every
# process call (ClientBufferMapperData::setUpInputChannels in juce_VST3Common.h copies each input
# bus's channel mapping, a std::vector<int>: 16 bytes allocated and freed per call). pluginval
# sees it once it sees the plug-in's allocations; the VST 2.4 and LV2 builds allocate nothing.
# pluginval's own VST3 host code also allocates in its first process call, which fails the test
# when the random order puts it first.
disabledTests() {
    local format=$1 run=$2
    case "$format" in vst3 | hoa-vst3) echo "Allocations during process" ;; esac
    return 0
}

# pluginval reads every option from an environment variable of the same name too (SKIP_GUI_TESTS,
# REPEAT, ...): none may leak in from the caller's environment.
pluginvalEnv=(env -u STRICTNESS_LEVEL -u RANDOM_SEED -u TIMEOUT_MS -u VERBOSE -u SKIP_GUI_TESTS
              -u DATA_FILE -u OUTPUT_DIR -u OUTPUT_FILENAME -u REPEAT -u RANDOMISE -u SAMPLE_RATES
              -u BLOCK_SIZES -u VST3VALIDATOR HOME="$home")
extreme=(--sample-rates 8000,22050,44100,48000,96000,192000,384000
         --block-sizes 1,2,17,64,511,4096,8192,16384,65536 --repeat 2 --randomise)

failed=()
summary=()
for format in "${formats[@]}"; do
    case "$format" in
        vst2) target="$artefacts/VST/Orvalis.so" ;;
        vst3) target="$artefacts/VST3/Orvalis.vst3" ;;
        lv2) target="$lv2Uri" ;;
        hoa-vst2) target="$hoaArtefacts/VST/OrvalisHOA.so" ;;
        hoa-vst3) target="$hoaArtefacts/VST3/OrvalisHOA.vst3" ;;
        hoa-lv2) target="$hoaLv2Uri" ;;
    esac
    for run in "${runs[@]}"; do
        log="$logs/$format-$run.log"
        args=(--strictness-level 10 --timeout-ms 300000)
        [ "$seed" = random ] || args+=(--random-seed "$seed")
        [ "$run" = window ] || args+=(--skip-gui-tests)
        [ "$run" = extreme ] && args+=("${extreme[@]}")
        disabled="$logs/$format-$run.disabled"
        disabledTests "$format" "$run" > "$disabled"
        [ -s "$disabled" ] && args+=(--disabled-tests "$disabled")
        command=("$pluginval" "${args[@]}" --validate "$target")
        [ "$run" = window ] && command=(xvfb-run -a -s "-screen 0 1920x1080x24" "${command[@]}")

        step=$SECONDS
        status=0
        (cd "$logs" && "${pluginvalEnv[@]}" timeout -k 30 "$runTimeout" "${command[@]}") > "$log" 2>&1 || status=$?
        seconds=$((SECONDS - step))
        if [ $status -eq 0 ] && grep -qx SUCCESS "$log"; then
            result=passed
        else
            result="FAILED (exit code $status$([ $status -eq 124 ] && echo ", timed out after $runTimeout s"))"
            failed+=("$format-$run")
            echo "!! pluginval $format $run failed; the failed tests and the end of $log:"
            grep -F '!!!' "$log" | head -n 20 || true
            echo "   ..."
            tail -n 25 "$log"
        fi
        summary+=("$(printf '%-8s %-9s %4d s  %s' "$format" "$run" "$seconds" "$result")")
        echo "== pluginval $format $run: $seconds s, $result"
    done
done

echo "== pluginval results (logs in $logs):"
printf '   %s\n' "${summary[@]}"
echo "== pluginval: $((SECONDS - started)) s in all"
if [ ${#failed[@]} -gt 0 ]; then
    echo "!! pluginval failed: ${failed[*]}" >&2
    exit 1
fi
