#!/usr/bin/env bash
# Times Orvalis's LV2 and VST 2.4 builds beside the open-source peer limiters with plugbench, on the
# same four-channel signal in the same run, and prints one table (ns per frame). Orvalis HOA is
# timed beside IEM's OmniCompressor on its 64-channel bus: its VST 2.4 build on the 64 channels it
# announces, its LV2 plug-ins for the third (16 channels) and seventh order (64); the four signal
# channels come first, the others carry silence, as plugbench drives OmniCompressor.
# Needs: a build (cmake --build build --target Orvalis_LV2 Orvalis_VST OrvalisHOA_LV2 OrvalisHOA_VST),
# scripts/install-bench-deps.sh, and the plugbench sources (../shared/tools/plugbench, or PLUGBENCH_DIR).
# Environment: BUILD_DIR (build), OUT_DIR, PLUGBENCH_DIR, and plugbench's BENCH_CPU, BENCH_SECONDS,
# BENCH_REPEATS, BENCH_BLOCK.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
plugbench=${PLUGBENCH_DIR:-$root/../shared/tools/plugbench}
bench_build=$build/plugbench
out=${OUT_DIR:-$build/plugbench-results/$(date +%Y%m%d-%H%M%S)}
artefacts=$build/plugin/Orvalis_artefacts/Release
hoa_artefacts=$build/plugin/OrvalisHOA_artefacts/Release
lv2_uri=https://tarnwick.example/plugins/orvalis
hoa_lv2_uri=https://tarnwick.example/plugins/orvalis-hoa

[ -f "$plugbench/run.sh" ] || { echo "plugbench not found at $plugbench (set PLUGBENCH_DIR)" >&2; exit 1; }
for f in "$artefacts/LV2/Orvalis.lv2/manifest.ttl" "$artefacts/VST/Orvalis.so" \
         "$hoa_artefacts/LV2/OrvalisHOA.lv2/manifest.ttl" "$hoa_artefacts/VST/OrvalisHOA.so"; do
    [ -e "$f" ] || { echo "$f is missing: build Orvalis_LV2, Orvalis_VST, OrvalisHOA_LV2 and OrvalisHOA_VST first" >&2; exit 1; }
done
cmake -S "$plugbench" -B "$bench_build" -DCMAKE_BUILD_TYPE=Release >/dev/null &&
    cmake --build "$bench_build" -j2 >/dev/null || { echo "plugbench build failed" >&2; exit 1; }

# The floor and the peers, as plugbench measures them.
OUT_DIR="$out" BUILD_DIR="$bench_build" bash "$plugbench/run.sh" >/dev/null
peers_status=$?

# Orvalis with its defaults (look-ahead 1 ms, release 20 ms, ceiling 0 dB), same signal and loop.
cpu=${BENCH_CPU:-1}
common=(--seconds "${BENCH_SECONDS:-30}" --repeats "${BENCH_REPEATS:-11}" --block "${BENCH_BLOCK:-512}")
[ "$cpu" -ge 0 ] 2>/dev/null && common+=(--cpu "$cpu")
setting="defaults: look-ahead 1 ms, release 20 ms, ceiling 0 dB"
failed=0
measure() {
    local id=$1 plugin=$2
    shift 2
    echo "--- $id" >&2
    if "$@" "${common[@]}" --label "$setting" >"$out/$id.log" 2>&1 && grep -q '^RESULT' "$out/$id.log"; then
        printf '%s\t%s\t%s\t%s\n' "$id" "$plugin" "$setting" "$(grep '^RESULT' "$out/$id.log" | cut -f2-)" \
            >>"$out/results.tsv"
    else
        echo "FAILED: $id (see $out/$id.log)" >&2
        failed=1
    fi
}
measure orvalis-lv2 "Orvalis LV2 x1" env LV2_PATH="$artefacts/LV2" "$bench_build/lv2bench" "$lv2_uri"
measure orvalis-vst2 "Orvalis VST 2.4 x1" "$bench_build/vst2bench" --arrangement quad "$artefacts/VST/Orvalis.so"
# The same with +12 dB of input gain: what a limiter is for (Input Gain is parameter 3, 0..60 dB).
setting="+12 dB input gain, otherwise defaults"
measure orvalis-lv2-12db "Orvalis LV2 x1" env LV2_PATH="$artefacts/LV2" "$bench_build/lv2bench" \
    --set input_gain=12 "$lv2_uri"
measure orvalis-vst2-12db "Orvalis VST 2.4 x1" "$bench_build/vst2bench" --arrangement quad --param 3=0.2 \
    "$artefacts/VST/Orvalis.so"

# Orvalis HOA at its defaults, sample peak, beside OmniCompressor's 64-channel figure.
setting="defaults, sample peak: 64-ch bus as loaded (4 signal channels, 60 silent)"
measure orvalis-hoa-vst2-64ch "Orvalis HOA VST 2.4 x1" "$bench_build/vst2bench" "$hoa_artefacts/VST/OrvalisHOA.so"
setting="defaults, sample peak: 7th order, 64 channels (4 signal, 60 silent)"
measure orvalis-hoa-lv2-64ch "Orvalis HOA LV2 7th order x1" env LV2_PATH="$hoa_artefacts/LV2" \
    "$bench_build/lv2bench" "$hoa_lv2_uri/order-7"
setting="defaults, sample peak: 3rd order, 16 channels (4 signal, 12 silent)"
measure orvalis-hoa-lv2-16ch "Orvalis HOA LV2 3rd order x1" env LV2_PATH="$hoa_artefacts/LV2" \
    "$bench_build/lv2bench" "$hoa_lv2_uri/order-3"

awk -F'\t' '
NR == 1 { next }
{
    delete f
    for (i = 4; i <= NF; ++i) { split($i, kv, "="); k = kv[1]; sub(/^[^=]*=/, "", $i); f[k] = $i }
    rows[++n] = sprintf("| %s | %s | %s | %.2f | %.2f | %.0f | %s | %s | %+.4f | %s |",
        $1, $2, $3, f["ns_median"], f["ns_min"], f["rtf"], (f["latency"] < 0 ? "none" : f["latency"]),
        f["delay"], f["out_peak_db"], f["over0"])
}
END {
    print "| id | plugin | setting | ns per frame (median) | min | realtime x (48 kHz) | latency (samples) | measured delay | output peak dBFS | samples > 0 dBFS |"
    print "|---|---|---|---:|---:|---:|---:|---:|---:|---:|"
    for (i = 1; i <= n; ++i) print rows[i]
}' "$out/results.tsv" >"$out/table.md"

cat "$out/env.txt"
echo
cat "$out/table.md"
echo
echo "results: $out"
[ "$peers_status" -eq 0 ] || echo "note: some peer measurements failed (see $out)" >&2
exit $failed
