#!/usr/bin/env bash
# Cross-builds Orvalis for 64-bit Windows on Debian with mingw-w64: the VST 2.4 module Orvalis.dll,
# the VST3 bundle Orvalis.vst3, orvalis-render.exe, the download that holds the three, and the
# Windows builds of the test hosts that scripts/windows-test.sh runs under Wine.
#
#   scripts/windows-build.sh            # everything lands in build-windows/
#   scripts/windows-build.sh --packages-only
#   ORVALIS_WINDOWS_BUILD_DIR=/tmp/w scripts/windows-build.sh
#
# Steps (each skipped when its result is already there, so reruns only rebuild what changed):
#   1. installs the Debian packages it needs (mingw-w64, libz-mingw-w64-dev, wine64, ...);
#   2. fetches the Debian sources of libpng, libjpeg-turbo, libogg, libvorbis, flac and libebur128
#      through a private apt source list in the build tree (the system's apt configuration is left
#      alone) and builds them and GoogleTest as static Windows libraries into build-windows/deps;
#   3. configures the project with cmake/toolchain-mingw64.cmake and ORVALIS_PRODUCTS_ONLY (the
#      plug-in formats and the renderer; no tests, benchmarks or tools) and builds every product
#      the configure lists in cmake/windows-products/ (each plug-in's VST 2.4 and VST3 targets and
#      orvalis-render), then the test hosts;
#   4. puts the products beside each other in build-windows/ and packs the download,
#      build-windows/Orvalis-<version>-windows-x64.zip (the same files in the folder of that name).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
out="${ORVALIS_WINDOWS_BUILD_DIR:-$root/build-windows}"
mkdir -p "$out"
out="$(cd "$out" && pwd)"
deps="$out/deps"
jobs="${ORVALIS_JOBS:-$(nproc)}"
toolchain="$root/cmake/toolchain-mingw64.cmake"
triple=x86_64-w64-mingw32
# Raise when the way the libraries are built changes, so that cached copies are rebuilt.
deps_recipe=4

# Share compiled objects between checkouts in different folders, as scripts/test.sh does.
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=true

log() { printf '==> %s\n' "$*"; }
seconds() { date +%s; }
started="$(seconds)"

# --- 1. Debian packages -------------------------------------------------------------------------
packages=(mingw-w64 libz-mingw-w64-dev wine64 dpkg-dev cmake make ccache fst-dev juce-modules-source
          googletest xvfb xauth imagemagick jq xxd)
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

# --- 2. The libraries for Windows --------------------------------------------------------------
# The stamp names the recipe, the compiler and the toolchain file: any change rebuilds the libraries.
deps_key="recipe=$deps_recipe $("$triple-g++-posix" -dumpversion) $(sha1sum "$toolchain" | cut -c1-12)"

# A mirror may lack a version's Debian part (debian.tar.xz) but have its upstream tarball
# (.orig.tar.*), which apt has then fetched and checked against the .dsc. For the packages named in
# orig_only the upstream tarball will do: libebur128 is one C file, and Debian's package of it
# (1.2.6-1) builds it unchanged.
orig_only="libebur128"
unpack_upstream_only() # package, version, folder: after a failed `apt-get source` in src/tmp
{
    local pkg="$1" version="$2" dir="$3" orig
    [[ " $orig_only " == *" $pkg "* ]] || return 1
    orig="$(find "$out/src/tmp" -maxdepth 1 -name "${pkg}_*.orig.tar.*" | head -n 1)"
    [ -n "$orig" ] && grep -qs "$(sha256sum "$orig" | cut -d' ' -f1)" "$out/src/tmp/"*.dsc || return 1
    echo "$pkg $version: the mirror lacks its Debian part; building the upstream tarball" \
         "$(basename "$orig") (checked against the .dsc)" >&2
    mkdir -p "$dir" && tar -xf "$orig" -C "$dir" --strip-components=1
}

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
            if (cd "$out/src/tmp" && apt-get "${opts[@]}" source "$pkg=$version" >&2); then
                mv "$(find "$out/src/tmp" -mindepth 1 -maxdepth 1 -type d | head -n 1)" "$dir"
            elif ! unpack_upstream_only "$pkg" "$version" "$dir"; then
                continue
            fi
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
    log "building libpng, libjpeg-turbo, libogg, libvorbis, libFLAC, libebur128 and GoogleTest for Windows into $deps"
    t0="$(seconds)"
    rm -rf "$deps" "$out/deps-build"
    mkdir -p "$deps/include" "$deps/lib" "$deps/licenses" "$out/deps-build"
    png_src="$(fetch_source libpng1.6)"
    jpeg_src="$(fetch_source libjpeg-turbo)"
    ogg_src="$(fetch_source libogg)"
    vorbis_src="$(fetch_source libvorbis)"
    flac_src="$(fetch_source flac)"
    ebur128_src="$(fetch_source libebur128)"

    png_build="$out/deps-build/libpng"
    jpeg_build="$out/deps-build/libjpeg-turbo"
    cross_cmake "$png_src" "$png_build" png_static -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF \
        -DPNG_HARDWARE_OPTIMIZATIONS=OFF \
        -DZLIB_LIBRARY="/usr/$triple/lib/libz.a" -DZLIB_INCLUDE_DIR="/usr/$triple/include"
    cross_cmake "$jpeg_src" "$jpeg_build" jpeg-static -DENABLE_SHARED=OFF -DENABLE_STATIC=ON \
        -DWITH_SIMD=0 -DWITH_TURBOJPEG=OFF -DWITH_JAVA=OFF

    cp "$png_src/png.h" "$png_src/pngconf.h" "$png_build/pnglibconf.h" "$deps/include/"
    cp "$png_build/libpng16.a" "$deps/lib/"
    # JUCE's JPEG reader includes jpeglib.h with JPEG_INTERNALS, which needs the private jpegint.h.
    cp "$jpeg_src/jpeglib.h" "$jpeg_src/jmorecfg.h" "$jpeg_src/jerror.h" "$jpeg_src/jpegint.h" \
        "$jpeg_build/jconfig.h" "$deps/include/"
    cp "$jpeg_build/libjpeg.a" "$deps/lib/"

    # The audio codecs JUCE reads and writes FLAC and Ogg Vorbis with, and the renderer's loudness
    # meter: Ogg first, as Vorbis and FLAC build on it.
    ogg_build="$out/deps-build/libogg"
    cross_cmake "$ogg_src" "$ogg_build" ogg -DBUILD_SHARED_LIBS=OFF -DINSTALL_DOCS=OFF -DBUILD_TESTING=OFF
    mkdir -p "$deps/include/ogg"
    cp "$ogg_src/include/ogg/ogg.h" "$ogg_src/include/ogg/os_types.h" "$ogg_build/include/ogg/config_types.h" \
        "$deps/include/ogg/"
    cp "$ogg_build/libogg.a" "$deps/lib/"
    ogg_found=(-DOGG_INCLUDE_DIR="$deps/include" -DOGG_LIBRARY="$deps/lib/libogg.a")

    vorbis_build="$out/deps-build/libvorbis"
    cross_cmake "$vorbis_src" "$vorbis_build" vorbisfile -DBUILD_SHARED_LIBS=OFF "${ogg_found[@]}"
    cmake --build "$vorbis_build" -j"$jobs" --target vorbisenc >> "$vorbis_build.log"
    cp -r "$vorbis_src/include/vorbis" "$deps/include/"
    cp "$vorbis_build/lib/libvorbis.a" "$vorbis_build/lib/libvorbisenc.a" "$vorbis_build/lib/libvorbisfile.a" \
        "$deps/lib/"

    # No stack protector or _FORTIFY_SOURCE: with mingw-w64 both would need libssp beside the program.
    flac_build="$out/deps-build/flac"
    cross_cmake "$flac_src" "$flac_build" FLAC -DBUILD_SHARED_LIBS=OFF -DBUILD_CXXLIBS=OFF \
        -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF -DBUILD_DOCS=OFF \
        -DINSTALL_MANPAGES=OFF -DWITH_STACK_PROTECTOR=OFF -DWITH_FORTIFY_SOURCE=OFF "${ogg_found[@]}"
    cp -r "$flac_src/include/FLAC" "$deps/include/"
    cp "$(find "$flac_build" -name libFLAC.a | head -n 1)" "$deps/lib/"

    ebur128_build="$out/deps-build/libebur128"
    cross_cmake "$ebur128_src" "$ebur128_build" ebur128 -DBUILD_SHARED_LIBS=OFF -DENABLE_TESTS=OFF
    cp "$ebur128_src/ebur128/ebur128.h" "$deps/include/"
    cp "$(find "$ebur128_build" -name libebur128.a | head -n 1)" "$deps/lib/"

    # Their licences travel with the download (each asks that binary copies carry its notice).
    cp "$png_src/LICENSE" "$deps/licenses/libpng.txt"
    cp "$jpeg_src/LICENSE.md" "$deps/licenses/libjpeg-turbo.md"
    cp "$ogg_src/COPYING" "$deps/licenses/libogg.txt"
    cp "$vorbis_src/COPYING" "$deps/licenses/libvorbis.txt"
    cp "$flac_src/COPYING.Xiph" "$deps/licenses/libFLAC.txt"
    cp "$ebur128_src/COPYING" "$deps/licenses/libebur128.txt"

    # GoogleTest for the Windows build of the host tests, from Debian's googletest sources;
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
rm -rf "$out/cmake/windows-products"
cmake -S "$root" -B "$out/cmake" -G "Unix Makefiles" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DORVALIS_PRODUCTS_ONLY=ON -DORVALIS_WINDOWS_DEPS="$deps" -DORVALIS_VST2_SDK_PATH="$sdk" \
    > "$out/cmake.log" || { cat "$out/cmake.log"; exit 1; }
# What the configure offers: "<kind> <target> <artefact>" for each product's VST 2.4 module and VST3
# bundle, and for orvalis-render (cmake/WindowsModule.cmake writes the lines).
products="$(cat "$out/cmake/windows-products/"*.txt 2>/dev/null | sort)"
targets=($(awk '{ print $2 }' <<< "$products"))
for wanted in Orvalis_VST Orvalis_VST3 orvalis-render; do
    [[ " ${targets[*]} " == *" $wanted "* ]] || { echo "the configure offers no $wanted" >&2; exit 1; }
done
log "building ${targets[*]}"
nice -n 10 cmake --build "$out/cmake" -j"$jobs" --target "${targets[@]}"

# The hosts are a project of their own (they need only the VST 2.4 headers, the VST3 SDK's
# interfaces and GoogleTest).
log "building the Windows test hosts"
cmake -S "$root/tests/windows" -B "$out/host" -G "Unix Makefiles" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DORVALIS_VST2_SDK_PATH="$sdk" -DORVALIS_WINDOWS_DEPS="$deps" \
    > "$out/host.log" || { cat "$out/host.log"; exit 1; }
nice -n 10 cmake --build "$out/host" -j"$jobs"
cp "$out/host/orvalis-vst2-host.exe" "$out/host/orvalis_vst2_host_tests.exe" "$out/host/orvalis-vst3-host.exe" "$out/"

# --- 4. The products beside each other, and the download ---------------------------------------
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$out/cmake/CMakeCache.txt")"
name="Orvalis-$version-windows-x64"
download="$out/$name"
rm -rf "$download" "$download.zip"
mkdir -p "$download/VST3" "$download/VST2" "$download/licenses"
while read -r kind target artefact; do
    artefact="$(realpath -e "$artefact")" || { echo "$target was not produced" >&2; exit 1; }
    case "$kind" in
        vst2) cp "$artefact" "$out/" && cp "$artefact" "$download/VST2/" ;;
        vst3)
            bundle="$(basename "$artefact")"
            [[ "$bundle" == ?*.vst3 ]] || { echo "$target: $artefact is no VST3 bundle" >&2; exit 1; }
            rm -rf "${out:?}/$bundle" && cp -r "$artefact" "$out/" && cp -r "$artefact" "$download/VST3/" ;;
        render) cp "$artefact" "$out/" && cp "$artefact" "$download/" ;;
    esac || { echo "cannot copy $artefact" >&2; exit 1; }
done <<< "$products"
# README.txt in Windows' line endings, for Notepad.
sed -e "s/@VERSION@/$version/g" -e 's/$/\r/' "$root/plugin/windows/README.txt" > "$download/README.txt"
cp "$deps/licenses/"* "$download/licenses/"
cp "$root/resources/Roboto-LICENSE.txt" "$download/licenses/Roboto.txt"
cp /usr/share/doc/libz-mingw-w64-dev/copyright "$download/licenses/zlib.txt"
cp /usr/share/doc/juce-modules-source/copyright "$download/licenses/JUCE.txt"
# Fixed times and order, so that the same files give the same zip.
find "$download" -exec touch -d "@$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 0)" {} +
(cd "$out" && find "$name" -type f | LC_ALL=C sort > "$out/download-files.txt" \
    && cmake -E tar cf "$name.zip" --format=zip --files-from="$out/download-files.txt")
log "built $(awk '{ print $2 }' <<< "$products" | tr '\n' ' ')and the test hosts in $(( $(seconds) - t0 )) s;" \
    "download $download.zip (whole script $(( $(seconds) - started )) s)"
