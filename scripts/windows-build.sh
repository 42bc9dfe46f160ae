#!/usr/bin/env bash
# Cross-builds the 64-bit Windows VST 2.4 module Orvalis.dll on Debian with mingw-w64, and the Windows
# build of the raw VST 2.4 test host that scripts/windows-test.sh runs under Wine.
#
#   scripts/windows-build.sh            # everything lands in build-windows/
#   scripts/windows-build.sh --packages-only
#   ORVALIS_WINDOWS_BUILD_DIR=/tmp/w scripts/windows-build.sh
#
# Steps (each skipped when its result is already there, so reruns only rebuild what changed):
#   1. installs the Debian packages it needs (mingw-w64, libz-mingw-w64-dev, wine64, ...);
#   2. fetches the Debian sources of libpng and libjpeg-turbo through a private apt source list in
#      the build tree (the system's apt configuration is left alone) and builds both as static
#      Windows libraries into build-windows/deps;
#   3. configures the project with cmake/toolchain-mingw64.cmake, only the VST 2.4 format, no tests,
#      benchmarks or tools, and builds Orvalis.dll and the test host.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
out="${ORVALIS_WINDOWS_BUILD_DIR:-$root/build-windows}"
mkdir -p "$out"
out="$(cd "$out" && pwd)"
deps="$out/deps"
jobs="${ORVALIS_JOBS:-$(nproc)}"
toolchain="$root/cmake/toolchain-mingw64.cmake"
triple=x86_64-w64-mingw32
# Raise when the way the image libraries are built changes, so that cached copies are rebuilt.
deps_recipe=3

# Share compiled objects between checkouts in different folders, as scripts/test.sh does.
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=true

log() { printf '==> %s\n' "$*"; }
seconds() { date +%s; }
started="$(seconds)"

# --- 1. Debian packages -------------------------------------------------------------------------
packages=(mingw-w64 libz-mingw-w64-dev wine64 dpkg-dev cmake make ccache fst-dev juce-modules-source
          googletest xvfb xauth imagemagick)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f '${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
    log "installing ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; else sudo=""; fi
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -q
    $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

[ "${1:-}" != "--packages-only" ] || exit 0

# --- 2. libpng, libjpeg-turbo and GoogleTest for Windows ----------------------------------------------------
# The stamp names the recipe, the compiler and the toolchain file: any change rebuilds the libraries.
deps_key="recipe=$deps_recipe $("$triple-g++-posix" -dumpversion) $(sha1sum "$toolchain" | cut -c1-12)"

fetch_source() # package name -> prints the unpacked source folder
{
    local pkg="$1" aptdir="$out/apt" version dir
    local opts=(-q -o "Dir::Etc::SourceList=$aptdir/sources.list" -o "Dir::Etc::SourceParts=$aptdir/parts"
                -o "Dir::State::Lists=$aptdir/lists" -o "Dir::Cache=$aptdir/cache"
                -o "Dir::State::Status=/var/lib/dpkg/status")
    [ "$(id -u)" -ne 0 ] || opts+=(-o APT::Sandbox::User=root)
    if [ ! -f "$aptdir/lists/.updated" ]; then
        mkdir -p "$aptdir/parts" "$aptdir/lists/partial" "$aptdir/cache/archives/partial"
        : > "$aptdir/sources.list"
        # Source entries for exactly the archives the system's own apt configuration uses.
        apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT) $(IDENTIFIER)' \
            | awk '$4 == "Packages" { print "deb-src " $1 " " $2 " " $3 }' | sort -u \
            > "$aptdir/parts/orvalis-sources.list"
        [ -s "$aptdir/parts/orvalis-sources.list" ] \
            || { echo "no Debian archive in the apt configuration" >&2; return 1; }
        apt-get "${opts[@]}" update >&2
        touch "$aptdir/lists/.updated"
    fi
    mkdir -p "$out/src"
    # Newest first; a mirror may lack the very newest upload's files, so fall back to older ones.
    for version in $(apt-cache "${opts[@]}" showsrc "$pkg" | awk '/^Version:/ { print $2 }' | sort -rV); do
        dir="$out/src/$pkg-${version//:/_}"  # no colon (epoch): make cannot have one in a path
        if [ ! -d "$dir" ]; then
            rm -rf "$out/src/tmp" && mkdir -p "$out/src/tmp"
            (cd "$out/src/tmp" && apt-get "${opts[@]}" source "$pkg=$version" >&2) || continue
            mv "$(find "$out/src/tmp" -mindepth 1 -maxdepth 1 -type d | head -n 1)" "$dir"
            rm -rf "$out/src/tmp"
        fi
        echo "$dir"
        return 0
    done
    # The private package lists may be older than the mirror: read them anew once, then retry.
    if [ -z "${lists_refreshed:-}" ]; then
        lists_refreshed=1
        rm -f "$aptdir/lists/.updated"
        fetch_source "$pkg"
        return
    fi
    echo "could not fetch the Debian source of $pkg" >&2
    return 1
}

cross_cmake() # source folder, build folder, library target, extra options...
{
    local src="$1" bld="$2" target="$3"
    shift 3
    cmake -S "$src" -B "$bld" -G "Unix Makefiles" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$deps" -DCMAKE_POSITION_INDEPENDENT_CODE=ON \
        "$@" > "$bld.log"
    # Only the static library: the packages' programs and tests are not needed.
    cmake --build "$bld" -j"$jobs" --target "$target" >> "$bld.log"
}

if [ "$(cat "$deps/.stamp" 2>/dev/null)" != "$deps_key" ]; then
    log "building libpng, libjpeg-turbo and GoogleTest for Windows into $deps"
    t0="$(seconds)"
    rm -rf "$deps" "$out/deps-build"
    mkdir -p "$deps" "$out/deps-build"
    png_src="$(fetch_source libpng1.6)"
    jpeg_src="$(fetch_source libjpeg-turbo)"

    png_build="$out/deps-build/libpng"
    jpeg_build="$out/deps-build/libjpeg-turbo"
    cross_cmake "$png_src" "$png_build" png_static -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF \
        -DPNG_HARDWARE_OPTIMIZATIONS=OFF \
        -DZLIB_LIBRARY="/usr/$triple/lib/libz.a" -DZLIB_INCLUDE_DIR="/usr/$triple/include"
    cross_cmake "$jpeg_src" "$jpeg_build" jpeg-static -DENABLE_SHARED=OFF -DENABLE_STATIC=ON \
        -DWITH_SIMD=0 -DWITH_TURBOJPEG=OFF -DWITH_JAVA=OFF

    mkdir -p "$deps/include" "$deps/lib"
    cp "$png_src/png.h" "$png_src/pngconf.h" "$png_build/pnglibconf.h" "$deps/include/"
    cp "$png_build/libpng16.a" "$deps/lib/"
    # JUCE's JPEG reader includes jpeglib.h with JPEG_INTERNALS, which needs the private jpegint.h.
    cp "$jpeg_src/jpeglib.h" "$jpeg_src/jmorecfg.h" "$jpeg_src/jerror.h" "$jpeg_src/jpegint.h" \
        "$jpeg_build/jconfig.h" "$deps/include/"
    cp "$jpeg_build/libjpeg.a" "$deps/lib/"

    # GoogleTest for the Windows build of the VST 2.4 host tests, from Debian's googletest sources;
    # Win32 threads rather than winpthreads.
    gtest_build="$out/deps-build/googletest"
    cross_cmake /usr/src/googletest "$gtest_build" gtest_main -DBUILD_GMOCK=OFF -Dgtest_disable_pthreads=ON
    cp -r /usr/src/googletest/googletest/include/gtest "$deps/include/"
    cp "$gtest_build/lib/libgtest.a" "$gtest_build/lib/libgtest_main.a" "$deps/lib/"
    # JUCE declares libjpeg inside its own namespace and expects `boolean` there too. libjpeg-turbo's
    # Windows jconfig.h skips its typedef once <rpcndr.h> (pulled in by <windows.h>) has defined the
    # same type globally; define it unconditionally (the same unsigned char, so the ABI is unchanged).
    sed -i 's|^#ifndef __RPCNDR_H__.*|#if 1 /* JUCE needs boolean inside its jpeglib namespace */|' \
        "$deps/include/jconfig.h"
    grep -q "JUCE needs boolean" "$deps/include/jconfig.h" \
        || { echo "jconfig.h no longer has the expected <rpcndr.h> guard" >&2; exit 1; }

    echo "$deps_key" > "$deps/.stamp"
    log "libraries built in $(( $(seconds) - t0 )) s"
else
    log "libraries for Windows: cached in $deps"
fi

# --- 3. The module and the test host ----------------------------------------------------------
# VST 2.4 headers: a folder holding only pluginterfaces/ (Debian's fst headers), so that pointing
# JUCE at it does not put the build machine's /usr/include on the Windows include path.
sdk="$out/vst2sdk"
# Debian installs vst2.x as a symbolic link (through /etc/alternatives): copy what it points at.
if [ -L "$sdk/pluginterfaces/vst2.x" ] || ! diff -rq /usr/include/pluginterfaces "$sdk/pluginterfaces" > /dev/null 2>&1; then
    rm -rf "$sdk" && mkdir -p "$sdk"
    cp -rL /usr/include/pluginterfaces "$sdk/"
fi

log "configuring the Windows build in $out/cmake"
t0="$(seconds)"
cmake -S "$root" -B "$out/cmake" -G "Unix Makefiles" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DORVALIS_VST2_ONLY=ON -DORVALIS_WINDOWS_DEPS="$deps" -DORVALIS_VST2_SDK_PATH="$sdk" \
    > "$out/cmake.log" || { cat "$out/cmake.log"; exit 1; }
log "building Orvalis.dll"
nice -n 10 cmake --build "$out/cmake" -j"$jobs" --target Orvalis_VST

# The hosts are a project of their own (they need only the VST 2.4 headers and GoogleTest).
log "building the Windows test hosts"
cmake -S "$root/tests/windows" -B "$out/host" -G "Unix Makefiles" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DORVALIS_VST2_SDK_PATH="$sdk" -DORVALIS_WINDOWS_DEPS="$deps" \
    > "$out/host.log" || { cat "$out/host.log"; exit 1; }
nice -n 10 cmake --build "$out/host" -j"$jobs"

dll="$(find "$out/cmake/plugin" -name Orvalis.dll | head -n 1)"
[ -n "$dll" ] || { echo "Orvalis.dll was not produced" >&2; exit 1; }
cp "$dll" "$out/Orvalis.dll"
cp "$out/host/orvalis-vst2-host.exe" "$out/host/orvalis_vst2_host_tests.exe" "$out/"
log "built Orvalis.dll, orvalis-vst2-host.exe and orvalis_vst2_host_tests.exe in $out in $(( $(seconds) - t0 )) s" \
    "(whole script $(( $(seconds) - started )) s)"
