#!/usr/bin/env bash
# Builds the Windows products (scripts/windows-build.sh) and tests them under Wine beside the Linux
# builds of the same sources:
#   - Orvalis.dll (VST 2.4): the VST 2.4 host tests of tests/hosts/vst2 (identity, canDo, speaker
#     arrangements, chunks, latency, audio, bypass), its version resource, everything the Windows
#     host saw line by line beside what the Linux host saw on Orvalis.so (the lists must be equal),
#     the same four-channel signal through both (bit-identical at the default settings), a few
#     other settings and the processor's powf/log10f values on both platforms (reported), and the
#     window (opened in a Win32 host window, with a screenshot that must show something);
#   - Orvalis.vst3 (VST3): what a raw VST3 host (tests/windows/Vst3Host.cpp) checks on both
#     bundles (factory, ambisonic buses, latency, parameters, state), everything it saw side by
#     side (equal), the same signal through both (bit-identical at exact settings), the version
#     resource, the imports and exports;
#   - orvalis-render.exe: the single-file and batch forms beside the Linux renderer (the same
#     output files, the same reports but for times and path separators), Windows paths (drive
#     letters, backslashes, forward slashes, a non-ASCII name), the checks that no output replaces
#     an input under another spelling of its name;
#   - OrvalisHOA.dll (VST 2.4, Orvalis HOA): its exports, imports and version resource, everything
#     the Windows host saw beside what the Linux host saw on OrvalisHOA.so, and the same signal at
#     16 and 64 channels through both (bit-identical at the default settings);
#   - the download: the zip holds the three and the README.
# The report lands in build-windows/windows-report.txt, the screenshot in build-windows/editor.png.
#
#   scripts/windows-test.sh       # after scripts/test.sh, or on its own (builds what it needs)
set -euo pipefail

# Wine needs a display: without one it runs programs without any window, so that a plug-in's
# hidden message window (JUCE's, which carries its asynchronous calls to the host) cannot exist.
# Every Windows desktop has one, so the whole run happens inside an Xvfb display, which also keeps
# the test windows off a developer's own screen.
if [ -z "${ORVALIS_WINDOWS_TEST_DISPLAY:-}" ]; then
    command -v xvfb-run > /dev/null || "$(dirname "$0")/windows-build.sh" --packages-only
    export ORVALIS_WINDOWS_TEST_DISPLAY=xvfb
    exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$@"
fi

root="$(cd "$(dirname "$0")/.." && pwd)"
out="${ORVALIS_WINDOWS_BUILD_DIR:-$root/build-windows}"
linux_build="${ORVALIS_LINUX_BUILD_DIR:-$root/build}"
jobs="${ORVALIS_JOBS:-$(nproc)}"
started="$(date +%s)"

"$root/scripts/windows-build.sh"
out="$(cd "$out" && pwd)"

# The Linux builds, from the regular build (scripts/test.sh makes them; brought up to date here).
echo "==> the Linux VST 2.4 module, VST3 bundle and renderer in $linux_build"
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=true
[ -f "$linux_build/CMakeCache.txt" ] || cmake -S "$root" -B "$linux_build" -DCMAKE_BUILD_TYPE=Release > /dev/null
nice -n 10 cmake --build "$linux_build" -j"$jobs" --target Orvalis_VST Orvalis_VST3 OrvalisHOA_VST orvalis-render \
    > "$out/linux-module.log" || { tail -n 30 "$out/linux-module.log"; exit 1; }
# Orvalis.so (libOrvalis.so in older builds): the newest one is the one just built.
linux_module="$(find "$linux_build/plugin" -path "*/VST/*" -name "*Orvalis.so" -printf "%T@ %p\n" \
    | sort -rn | head -n 1 | cut -d" " -f2-)"
[ -n "$linux_module" ] || { echo "no Linux VST 2.4 module in $linux_build" >&2; exit 1; }
linux_vst3="$(find "$linux_build/plugin" -type d -path "*/VST3/Orvalis.vst3" | head -n 1)"
[ -n "$linux_vst3" ] || { echo "no Linux VST3 bundle in $linux_build" >&2; exit 1; }
linux_render="$linux_build/render/orvalis-render"
linux_hoa_module="$linux_build/plugin/OrvalisHOA_artefacts/Release/VST/OrvalisHOA.so"
[ -f "$linux_hoa_module" ] || { echo "no Linux Orvalis HOA module in $linux_build" >&2; exit 1; }

echo "==> building the native test hosts"
cmake -S "$root/tests/windows" -B "$out/native-host" -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$out/native-host" -j"$jobs" > /dev/null
host_linux="$out/native-host/orvalis-vst2-host"
vst3_host_linux="$out/native-host/orvalis-vst3-host"

export WINEPREFIX="$out/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Wine turns the arguments into Windows' wide command line through the locale's character set.
export LC_ALL=C.UTF-8
wine=/usr/lib/wine/wine64
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "==> creating a Wine prefix in $WINEPREFIX"
    "$wine" wineboot --init > /dev/null 2>&1
fi
# Wine is handed paths relative to the build folder.
cd "$out"
host_windows() { timeout 600 "$wine" ./orvalis-vst2-host.exe "$@"; }
vst3_host_windows() { timeout 600 "$wine" ./orvalis-vst3-host.exe "$@"; }

passed=0
failed=0
report="$out/windows-report.txt"
: > "$report"
say() { echo "$*" | tee -a "$report"; }
judge() # name, then the command; shows its output, counts and reports
{
    local name="$1" status=0
    shift
    "$@" > judge.log 2>&1 || status=$?
    tee -a "$report" < judge.log
    if [ "$status" -eq 0 ]; then
        passed=$((passed + 1)); say "PASS  $name"
    else
        failed=$((failed + 1)); say "FAIL  $name"
    fi
}

say "== Orvalis.dll: exports and imported DLLs"
links_statically() # file, then the names it must export
{
    local dump imports name
    dump="$(x86_64-w64-mingw32-objdump -p "$1")"
    shift
    imports="$(awk '/DLL Name:/ { print $3 }' <<< "$dump" | sort -f | tr '\n' ' ')"
    echo "imports: $imports"
    for name in "$@"; do
        grep -q "\] $name$" <<< "$dump" || { echo "$name is not exported"; return 1; }
    done
    [ "$#" -eq 0 ] || echo "exports: $*"
    # MinGW's runtime DLLs (libstdc++-6.dll, libgcc_s_seh-1.dll, libwinpthread-1.dll) and the
    # image and audio libraries must be linked in; Windows' own DLLs never start with "lib".
    ! grep -qi "\blib" <<< "$imports" || { echo "imports a DLL that Windows does not have"; return 1; }
}
judge "Orvalis.dll exports VSTPluginMain and imports only Windows system DLLs" \
    links_statically Orvalis.dll VSTPluginMain
say ""
say "== Orvalis.dll under Wine: the VST 2.4 host tests (tests/hosts/vst2, built for Windows)"
judge "VST 2.4 host tests on Orvalis.dll" timeout 600 "$wine" ./orvalis_vst2_host_tests.exe
say ""
say "== the version resource, as Windows reads it"
judge "version resource of Orvalis.dll" host_windows version Orvalis.dll

say ""
say "== what the hosts saw: Linux ($(basename "$linux_module")) | Windows (Orvalis.dll)"
"$host_linux" info "$linux_module" > info-linux.txt
host_windows info Orvalis.dll > info-windows.txt
paste -d '|' info-linux.txt <(cut -d= -f2- info-windows.txt) | sed 's/=/ = /; s/|/ | /' | tee -a "$report"
judge "Linux and Windows modules answer alike" diff info-linux.txt info-windows.txt

say ""
say "== audio: the same four-channel signal through both modules"
for rate in 48000 44100; do
    "$host_linux" render "$linux_module" "render-linux-$rate.f32" --rate "$rate" >> "$report"
    host_windows render Orvalis.dll "render-windows-$rate.f32" --rate "$rate" >> "$report"
    judge "default settings at $rate Hz: bit-identical" \
        "$host_linux" compare "render-linux-$rate.f32" "render-windows-$rate.f32"
done
if grep -q "^parameters=4$" info-windows.txt; then
    # Other settings (parameter indices: 0 attack, 1 release, 2 max peak level, 3 input gain), and
    # the Input Gain value 0.125656128 dB (v = 0.0020942688) where glibc's powf and Windows' differ.
    for settings in "3=0.1 2=0.25" "0=1 1=0.05 3=0.5" "3=0.0020942688" "0=0 1=0 3=1 2=0"; do
        args=()
        for s in $settings; do args+=(--param "$s"); done
        "$host_linux" render "$linux_module" render-linux-x.f32 "${args[@]}" > /dev/null
        host_windows render Orvalis.dll render-windows-x.f32 "${args[@]}" > /dev/null
        say "settings $settings: $("$host_linux" compare render-linux-x.f32 render-windows-x.f32 || true)"
    done
fi

say ""
say "== single-precision powers and logarithms the processor computes (A: glibc, B: Windows)"
mkdir -p sweep-linux sweep-windows
"$host_linux" mathsweep sweep-linux
host_windows mathsweep sweep-windows
"$host_linux" mathcompare sweep-linux sweep-windows | tee -a "$report" || true

say ""
say "== Orvalis.vst3 (VST3): the bundle, its exports and imported DLLs"
vst3_binary=Orvalis.vst3/Contents/x86_64-win/Orvalis.vst3
judge "Orvalis.vst3 holds Contents/x86_64-win/Orvalis.vst3, which exports the VST3 entry points and imports only Windows system DLLs" \
    links_statically "$vst3_binary" GetPluginFactory InitDll ExitDll
judge "version resource of Orvalis.vst3" host_windows version "$vst3_binary"
say ""
say "== what a VST3 host relies on: Linux ($linux_vst3), then Windows (Orvalis.vst3)"
judge "VST3 host checks on the Linux bundle" "$vst3_host_linux" check "$linux_vst3"
judge "VST3 host checks on Orvalis.vst3 under Wine" vst3_host_windows check Orvalis.vst3
say ""
say "== what the VST3 hosts saw: Linux | Windows"
"$vst3_host_linux" info "$linux_vst3" > vst3-info-linux.txt
vst3_host_windows info Orvalis.vst3 > vst3-info-windows.txt
paste -d '|' vst3-info-linux.txt <(cut -d= -f2- vst3-info-windows.txt) | sed 's/=/ = /; s/|/ | /' | tee -a "$report"
judge "Linux and Windows VST3 bundles answer alike" diff vst3-info-linux.txt vst3-info-windows.txt
say ""
say "== audio through both VST3 bundles (parameter IDs: 48 attack, 49 release, 50 max peak level, 51 input gain)"
vst3_render_pair() # name, then the render options; both renders, then the comparison
{
    local name="$1"
    shift
    "$vst3_host_linux" render "$linux_vst3" vst3-render-linux.f32 "$@" && \
        vst3_host_windows render Orvalis.vst3 vst3-render-windows.f32 "$@" && \
        "$host_linux" compare vst3-render-linux.f32 vst3-render-windows.f32
}
judge "VST3, default settings at 48000 Hz: bit-identical" vst3_render_pair defaults --rate 48000
judge "VST3, default settings at 44100 Hz: bit-identical" vst3_render_pair defaults --rate 44100
# Input Gain 6 dB into Max Peak Level -5 dB: powers both runtimes compute alike (see NOTES.md).
judge "VST3, Input Gain 6 dB, Max Peak Level -5 dB: bit-identical" \
    vst3_render_pair gain --param 51=0.1 --param 50=0.25
for settings in "48=1 49=0.05 51=0.5" "51=0.0020942688"; do
    args=()
    for p in $settings; do args+=(--param "$p"); done
    say "VST3 settings $settings: $(vst3_render_pair x "${args[@]}" 2>&1 | tail -n 1 || true)"
done

say ""
say "== OrvalisHOA.dll (VST 2.4, Orvalis HOA) beside OrvalisHOA.so"
judge "OrvalisHOA.dll exports VSTPluginMain and imports only Windows system DLLs" \
    links_statically OrvalisHOA.dll VSTPluginMain
judge "version resource of OrvalisHOA.dll" host_windows version OrvalisHOA.dll "Orvalis HOA"
"$host_linux" info "$linux_hoa_module" > hoa-info-linux.txt
host_windows info OrvalisHOA.dll > hoa-info-windows.txt
paste -d '|' hoa-info-linux.txt <(cut -d= -f2- hoa-info-windows.txt) | sed 's/=/ = /; s/|/ | /' | tee -a "$report"
judge "Linux and Windows Orvalis HOA modules answer alike" diff hoa-info-linux.txt hoa-info-windows.txt
for channels in 16 64; do
    "$host_linux" render "$linux_hoa_module" "hoa-render-linux-$channels.f32" --channels "$channels" >> "$report"
    host_windows render OrvalisHOA.dll "hoa-render-windows-$channels.f32" --channels "$channels" >> "$report"
    judge "Orvalis HOA, $channels channels at the default settings: bit-identical" \
        "$host_linux" compare "hoa-render-linux-$channels.f32" "hoa-render-windows-$channels.f32"
done

say ""
say "== orvalis-render.exe beside the Linux renderer"
judge "orvalis-render.exe imports only Windows system DLLs" links_statically orvalis-render.exe
# Windows sees the test folder as C:\orvalis-render-test (Wine's drive C: is drive_c in the
# prefix); the Linux renderer works in a folder of its own on the same inputs.
wtest="$WINEPREFIX/drive_c/orvalis-render-test"
ltest="$out/render-linux"
rm -rf "$wtest" "$ltest"
mkdir -p "$ltest"
render_linux() { (cd "$ltest" && "$linux_render" "$@"); }
render_windows() { (cd "$wtest" && timeout 600 "$wine" "$out/orvalis-render.exe" "$@"); }
# The inputs: the demo scene at three levels, in three formats, one with a non-ASCII name.
nonascii="Grüße 録音"
mkdir -p "$ltest/inputs/day1" "$ltest/inputs/day2/sub" "$ltest/single"
render_linux --demo inputs/day1/scene.wav > /dev/null
render_linux --demo "inputs/day1/$nonascii.wav" --gain 2 --format wav24 > /dev/null
render_linux --demo inputs/day2/sub/take.flac --gain 4 --format flac > /dev/null
cp -r "$ltest" "$wtest"
rm -rf "$wtest/single"/*

same_text() # two commands' outputs, compared without carriage returns
{
    diff <(eval "$1" 2>&1 | tr -d '\r') <(eval "$2" 2>&1 | tr -d '\r')
}
judge "--help and --version say the same on both" \
    same_text 'render_linux --help; render_linux --version' 'render_windows --help; render_windows --version'

# The reports compared without what differs by nature: the times, and the paths' spelling (the
# Windows names below with C:\orvalis-render-test\ left off and backslashes as slashes).
normalised_report() # report file
{
    case "$1" in
        *.json)
            jq --arg root 'C:\orvalis-render-test\' \
                'del(.startedAt, .summary.wallSeconds, .summary.speed, .files[].renderSeconds)
                 | walk(if type == "string" then (split($root) | join("") | gsub("\\\\"; "/")) else . end)' "$1" ;;
        *.csv)
            sed 's|C:\\orvalis-render-test\\||g; s|\\|/|g' "$1" | awk -F, 'NR == 1 { for (i = 1; i <= NF; i++) if ($i == "render_seconds") skip = i }
                { line = ""; for (i = 1; i <= NF; i++) if (i != skip) line = line (line == "" ? "" : ",") $i; print line }' ;;
    esac
}
# libFLAC's encoder picks its predictors through floating-point analysis (windows built with
# cos() and friends), so on another C runtime it may code a frame differently, as losslessly: FLAC
# files may differ in bytes while holding the same audio. Then their STREAMINFO (sample count,
# MD5 of the audio) must agree, and both must decode to the same samples (the Linux renderer
# decodes them and writes them out raw, untouched: no gain, a ceiling of +10 dB).
same_flac_audio() # FLAC file A, FLAC file B
{
    cmp -s "$1" "$2" && return 0
    [ "$(xxd -s 8 -l 34 -p "$1")" = "$(xxd -s 8 -l 34 -p "$2")" ] || { echo "$2: STREAMINFO differs"; return 1; }
    "$linux_render" "$1" "$out/flac-a.wav" --ceiling 10 --raw > /dev/null 2>&1 \
        && "$linux_render" "$2" "$out/flac-b.wav" --ceiling 10 --raw > /dev/null 2>&1 \
        && cmp "$out/flac-a.wav" "$out/flac-b.wav" || return 1
    echo "$2: other FLAC bytes, the same audio (STREAMINFO and decoded samples)"
}
same_outputs() # folder below both test folders: every audio file and report alike
{
    local f status=0
    while read -r f; do
        case "$f" in
            *.json | *.csv) diff <(normalised_report "$ltest/$1/$f") <(normalised_report "$wtest/$1/$f") || status=1 ;;
            *.flac) same_flac_audio "$ltest/$1/$f" "$wtest/$1/$f" || status=1 ;;
            # The same curves; the text is rasterised by each system's font engine.
            *.png) [ -s "$wtest/$1/$f" ] || { echo "$f: no picture on Windows"; status=1; } ;;
            *) cmp "$ltest/$1/$f" "$wtest/$1/$f" || status=1 ;;
        esac
        echo "$f: compared"
    done < <(cd "$ltest/$1" && find . -type f | LC_ALL=C sort)
    [ "$(cd "$ltest/$1" && find . -type f | wc -l)" -eq "$(cd "$wtest/$1" && find . -type f | wc -l)" ] \
        || { echo "the folders hold different numbers of files"; status=1; }
    return "$status"
}
exit_statuses_equal() # Linux's status, Windows' status
{
    echo "exit status: Linux $1, Windows $2"
    [ "$1" -eq "$2" ]
}

# The batch form: folders searched, two workers, both reports.
status_l=0 status_w=0
render_linux --out-dir out inputs --gain 6 --ceiling -1 -j 2 --report out/report.json --report out/report.csv \
    > render-batch-linux.log 2>&1 || status_l=$?
render_windows --out-dir out inputs --gain 6 --ceiling -1 -j 2 --report 'out\report.json' --report 'out\report.csv' \
    > render-batch-windows.log 2>&1 || status_w=$?
tr -d '\r' < render-batch-windows.log | tee -a "$report"
judge "batch form: the same exit status" exit_statuses_equal "$status_l" "$status_w"
judge "batch form: the same output files (WAV bit for bit, FLAC the same audio) and the same reports" same_outputs out

# The single-file form, named the ways Windows users name files: a drive letter and backslashes,
# a non-ASCII name, Wine's drive Z: (the Linux root) with forward slashes, a relative name.
single_pair() # description, Linux arguments | Windows arguments
{
    local name="$1" split l=() w=() status_l=0 status_w=0
    shift
    split=0
    for a in "$@"; do
        if [ "$a" = "|" ]; then split=1; elif [ "$split" -eq 0 ]; then l+=("$a"); else w+=("$a"); fi
    done
    render_linux "${l[@]}" > /dev/null 2>&1 || status_l=$?
    render_windows "${w[@]}" 2>&1 | tr -d '\r' || status_w=${PIPESTATUS[0]}
    exit_statuses_equal "$status_l" "$status_w"
}
judge "single file, drive letter, backslashes and a non-ASCII name, with report and picture: done" \
    single_pair x "inputs/day1/$nonascii.wav" "single/$nonascii (limited).wav" --gain 6 --ceiling -1 \
        --report "single/$nonascii.json" --plot "single/$nonascii.png" \
    "|" "C:\\orvalis-render-test\\inputs\\day1\\$nonascii.wav" "C:\\orvalis-render-test\\single\\$nonascii (limited).wav" \
        --gain 6 --ceiling -1 --report "C:\\orvalis-render-test\\single\\$nonascii.json" \
        --plot "C:\\orvalis-render-test\\single\\$nonascii.png"
judge "single file, FLAC to FLAC, Z: and forward slashes: done" \
    single_pair x inputs/day2/sub/take.flac single/take.flac --gain 6 \
    "|" "Z:$ltest/inputs/day2/sub/take.flac" C:/orvalis-render-test/single/take.flac --gain 6
judge "single file, relative names: an existing OUTPUT is replaced" \
    single_pair x inputs/day1/scene.wav single/take.flac --gain 3 --format flac \
    "|" 'inputs\day1\scene.wav' 'single\take.flac' --gain 3 --format flac
judge "single-file forms: the same output files (WAV bit for bit, FLAC the same audio) and the same reports" same_outputs single

# No output may replace an input, however the name is spelled; Windows' names ignore case.
refused() # the message the refusal must hold, then the Windows arguments
{
    local wanted="$1" status=0 log
    shift
    log="$(render_windows "$@" 2>&1 | tr -d '\r')" || status=$?
    echo "$log"
    echo "exit status $status"
    [ "$status" -ne 0 ] && grep -qF "$wanted" <<< "$log"
}
judge "OUTPUT spelled as INPUT in other case, with forward slashes: refused" \
    refused "the same file as INPUT" 'C:\orvalis-render-test\inputs\day1\scene.wav' \
        'c:/ORVALIS-RENDER-TEST/Inputs/DAY1/Scene.WAV'
judge "the refused INPUT is untouched" cmp "$ltest/inputs/day1/scene.wav" "$wtest/inputs/day1/scene.wav"
mkdir -p "$wtest/case/a" "$wtest/case/b"
cp "$wtest/inputs/day1/scene.wav" "$wtest/case/a/Take.wav"
cp "$wtest/inputs/day1/scene.wav" "$wtest/case/b/take.wav"
judge "two inputs whose outputs differ only in case: refused" \
    refused "would both be written to" --out-dir case-out 'case\a' 'case\b'

say ""
say "== the download"
download_holds() # the zip's file list must name the three products and the README
{
    local zip listing
    zip="$(ls "$out"/Orvalis-*-windows-x64.zip)"
    listing="$(cmake -E tar tf "$zip")"
    echo "$zip:"
    sed 's/^/  /' <<< "$listing"
    for wanted in README.txt VST2/Orvalis.dll VST3/Orvalis.vst3/Contents/x86_64-win/Orvalis.vst3 \
                  orvalis-render.exe licenses/libFLAC.txt; do
        grep -q "windows-x64/$wanted$" <<< "$listing" || { echo "missing: $wanted"; return 1; }
    done
    # The zip's copies are the ones tested here.
    cmp "$out/Orvalis-"*-windows-x64/VST2/Orvalis.dll Orvalis.dll \
        && cmp "$out/Orvalis-"*-windows-x64/orvalis-render.exe orvalis-render.exe \
        && cmp "$out/Orvalis-"*-windows-x64/VST3/"$vst3_binary" "$vst3_binary"
}
judge "the download holds the VST 2.4 module, the VST3 bundle, orvalis-render.exe and the README" download_holds

say ""
say "== the window under Wine and Xvfb"
rm -f editor.png editor.log
# The host keeps the window open for 6 s after effEditOpen; the screenshot is taken 3 s into that.
editor_status=0
timeout 300 "$wine" ./orvalis-vst2-host.exe editor Orvalis.dll 6 > editor.log 2>&1 &
editor_host=$!
for _ in $(seq 120); do
    grep -q "effEditOpen answered" editor.log && break
    kill -0 "$editor_host" 2> /dev/null || break
    sleep 0.5
done
if grep -q "effEditOpen answered" editor.log; then
    sleep 3
    import -window root editor.png
fi
wait "$editor_host" || editor_status=$?
tee -a "$report" < editor.log
if [ "$editor_status" -eq 3 ]; then
    failed=$((failed + 1)); say "FAIL  the plug-in offers no editor"
else
    # Something must have been drawn: a black screen has a mean brightness of 0.
    brightness="$(convert editor.png -format "%[fx:mean]" info: 2> /dev/null || echo 0)"
    say "screenshot $out/editor.png, mean brightness $brightness"
    judge "editor opened in a Win32 host window and drew itself" \
        test "$editor_status" -eq 0 -a "$(awk -v b="$brightness" 'BEGIN { print (b > 0.01) }')" -eq 1
fi

/usr/lib/wine/wineserver -k 2> /dev/null || true

say ""
say "Windows tests took $(( $(date +%s) - started )) s; report in $report"
echo "windows: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
