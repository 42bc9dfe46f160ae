#!/usr/bin/env bash
# Builds Orvalis.dll (scripts/windows-build.sh) and tests it under Wine beside the Linux module:
#   - the VST 2.4 host tests of tests/hosts/vst2 on Orvalis.dll (identity, canDo, speaker
#     arrangements, chunks, latency, audio, bypass), and its version resource;
#   - everything the Windows host saw, line by line beside what the Linux host saw on Orvalis.so:
#     the lists must be equal;
#   - the same four-channel signal through both modules at the default settings: bit-identical;
#   - a few other settings and the processor's powf/log10f values on both platforms: reported;
#   - the window: opened in a Win32 host window, with a screenshot that must show something.
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

# The Linux module, from the regular build (scripts/test.sh makes it; brought up to date here).
echo "==> the Linux VST 2.4 module in $linux_build"
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=true
[ -f "$linux_build/CMakeCache.txt" ] || cmake -S "$root" -B "$linux_build" -DCMAKE_BUILD_TYPE=Release > /dev/null
nice -n 10 cmake --build "$linux_build" -j"$jobs" --target Orvalis_VST > "$out/linux-module.log" \
    || { tail -n 30 "$out/linux-module.log"; exit 1; }
# Orvalis.so (libOrvalis.so in older builds): the newest one is the one just built.
linux_module="$(find "$linux_build/plugin" -path "*/VST/*" -name "*Orvalis.so" -printf "%T@ %p\n" \
    | sort -rn | head -n 1 | cut -d" " -f2-)"
[ -n "$linux_module" ] || { echo "no Linux VST 2.4 module in $linux_build" >&2; exit 1; }

echo "==> building the native test host"
cmake -S "$root/tests/windows" -B "$out/native-host" -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$out/native-host" -j"$jobs" > /dev/null
host_linux="$out/native-host/orvalis-vst2-host"

export WINEPREFIX="$out/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "==> creating a Wine prefix in $WINEPREFIX"
    "$wine" wineboot --init > /dev/null 2>&1
fi
# Wine is handed paths relative to the build folder.
cd "$out"
host_windows() { timeout 600 "$wine" ./orvalis-vst2-host.exe "$@"; }

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
module_links_statically()
{
    local dump imports
    dump="$(x86_64-w64-mingw32-objdump -p Orvalis.dll)"
    imports="$(awk '/DLL Name:/ { print $3 }' <<< "$dump" | sort -f | tr '\n' ' ')"
    echo "imports: $imports"
    grep -q "\] VSTPluginMain$" <<< "$dump" || { echo "VSTPluginMain is not exported"; return 1; }
    echo "exports: VSTPluginMain"
    # MinGW's runtime DLLs (libstdc++-6.dll, libgcc_s_seh-1.dll, libwinpthread-1.dll) and the
    # image libraries must be linked in; Windows' own DLLs never start with "lib".
    ! grep -qi "\blib" <<< "$imports" || { echo "imports a DLL that Windows does not have"; return 1; }
}
judge "Orvalis.dll exports VSTPluginMain and imports only Windows system DLLs" module_links_statically
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
