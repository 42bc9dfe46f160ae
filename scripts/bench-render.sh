#!/usr/bin/env bash
# Times orvalis-render itself, as a user runs it, on eight one-minute 48 kHz four-channel 32-bit
# float WAV files: the batch on one core (-j 1, pinned with taskset), then on two (-j 2), and one
# file alone on one core, in sample-peak and in true-peak mode. Each run is repeated
# (ORVALIS_BENCH_RUNS, default 3) and the fastest kept, so that other work on the machine disturbs
# it least. Prints the speed as a multiple of real time (audio seconds over wall seconds, process
# start to exit) and the CPU seconds used. Last, the single-file form beside ffmpeg's loudness
# and true-peak meter alone (ffmpeg -af ebur128=peak=true -f null -) on the same file and core,
# through hyperfine (ORVALIS_BENCH_RUNS x 5 runs each, the output a new file every time), or the
# best of the runs when hyperfine is missing.
#
#   scripts/bench-render.sh [build folder, default build]
#
# The input is pink noise with tones, its level swinging by 12 dB every five seconds and
# peaking near +6 dBFS, made with ffmpeg (scripts/install-deps.sh installs it).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
runs="${ORVALIS_BENCH_RUNS:-3}"
renderer="$build/render/orvalis-render"
[ -x "$renderer" ] || cmake --build "$build" --target orvalis-render
work="$(mktemp -d /tmp/orvalis-bench-render.XXXXXX)"
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/in"
ffmpeg -loglevel error -f lavfi -i "anoisesrc=d=60:c=pink:r=48000:a=0.5:s=1" \
    -f lavfi -i "anoisesrc=d=60:c=pink:r=48000:a=0.4:s=2" \
    -f lavfi -i "sine=f=220:r=48000:d=60" -f lavfi -i "sine=f=330:r=48000:d=60" \
    -filter_complex "[0][1][2][3]amerge=inputs=4,volume=eval=frame:volume='1.4*pow(10,(6*sin(2*PI*t/5)-3)/20)'" \
    -c:a pcm_f32le "$work/in/take1.wav"
for i in 2 3 4 5 6 7 8; do cp "$work/in/take1.wav" "$work/in/take$i.wav"; done

# One run: prints "wall user+sys" of the process.
timed() {
    rm -rf "$work/out" "$work/new.wav"
    /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" > /dev/null
    awk '{ print $1, $2 + $3 }' "$work/time"
}

best() {
    local fastest="" line
    for _ in $(seq "$runs"); do
        line="$(timed "$@")"
        if [ -z "$fastest" ] || awk -v a="${line%% *}" -v b="${fastest%% *}" 'BEGIN { exit !(a < b) }'; then
            fastest="$line"
        fi
    done
    echo "$fastest"
}

report() {
    awk -v label="$1" -v audio="$2" -v t="$3" 'BEGIN {
        split (t, v, " ")
        printf "%-26s %6.2f s wall %6.2f s CPU  %6.0fx real time  (%5.0fx per CPU second)\n",
               label, v[1], v[2], audio / v[1], audio / v[2] }'
}

echo "orvalis-render on $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg); best of $runs"
for mode in sample-peak true-peak; do
    opts=()
    [ "$mode" = true-peak ] && opts=(--true-peak)
    echo "-- $mode mode"
    one="$(best taskset -c 0 "$renderer" "$work/in/take1.wav" "$work/out.wav" "${opts[@]}")"
    report "1 file, 1 core" 60 "$one"
    mkdir -p "$work/out"
    j1="$(best taskset -c 0 "$renderer" --out-dir "$work/out" "$work/in" -j 1 "${opts[@]}")"
    report "8 files, 1 core (-j 1)" 480 "$j1"
    j2="$(best taskset -c 0,1 "$renderer" --out-dir "$work/out" "$work/in" -j 2 "${opts[@]}")"
    report "8 files, 2 cores (-j 2)" 480 "$j2"
    awk -v a="${j1%% *}" -v b="${j2%% *}" 'BEGIN { printf "2 cores over 1: %.2fx faster\n", a / b }'
done

echo "-- the single-file form beside ffmpeg's meter, one core"
one_file=(taskset -c 0 "$renderer" "$work/in/take1.wav" "$work/new.wav")
meter=(taskset -c 0 ffmpeg -nostats -loglevel error -i "$work/in/take1.wav" -af ebur128=peak=true -f null -)
if command -v hyperfine > /dev/null; then
    hyperfine -N -w 3 -r $((runs * 5)) --prepare "rm -f $work/new.wav" \
        --export-json "$work/hyperfine.json" "${one_file[*]}" "${meter[*]}" > /dev/null
    awk 'BEGIN { RS = "\"mean\": "; n = 0 } NR > 1 { split ($0, v, ","); mean[n++] = v[1] }
         END { printf "orvalis-render %.1f ms, ffmpeg ebur128=peak=true %.1f ms (means): %.2fx faster\n",
               1000 * mean[0], 1000 * mean[1], mean[1] / mean[0] }' "$work/hyperfine.json"
else
    rm -f "$work/new.wav"
    ours="$(best "${one_file[@]}")"
    theirs="$(best "${meter[@]}")"
    awk -v a="${ours%% *}" -v b="${theirs%% *}" \
        'BEGIN { printf "orvalis-render %.3f s, ffmpeg ebur128=peak=true %.3f s (best): %.2fx faster\n", a, b, b / a }'
fi
