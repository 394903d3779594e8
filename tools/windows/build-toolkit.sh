#!/usr/bin/env bash
# The Windows toolkit recipe: builds, from Debian 12's own source packages with Debian's MinGW-w64
# (x86_64, posix threads), a static Qt 6.4.2 (Core, Gui, Widgets; the windows, offscreen and
# minimal platform plugins) and a static libjpeg-turbo 2.1.5 with the version-62 interface, and
# packs them into a versioned tarball with a manifest inside (source versions, configure options,
# this recipe's sha256). The Windows build configures against the unpacked tarball.
#
#   tools/windows/build-toolkit.sh [--out DIR] [--work DIR] [--keep-work]
#
# --out   where the tarball goes (default ~/.cache/ormelix, the cache the Windows build looks in)
# --work  sources and build trees, several GB (default build-windows/toolkit-work in the clone);
#         removed after a successful build unless --keep-work
# Needs root for apt-get (the build tools, Debian's host Qt tools of the same version, the source
# packages). ORMELIX_JOBS sets the parallel jobs (default: the number of cores). Most of an hour
# on 2 cores. Prints the tarball's path as its last line.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# shellcheck source=toolkit.sh
. "$ROOT/tools/windows/toolkit.sh"

OUT=$(toolkit_cache_dir)
WORK=$ROOT/build-windows/toolkit-work
KEEP=0
while (($#)); do
    case $1 in
    --out) OUT=$2; shift 2 ;;
    --work) WORK=$2; shift 2 ;;
    --keep-work) KEEP=1; shift ;;
    -h | --help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "build-toolkit: unknown argument $1 (see --help)" >&2; exit 2 ;;
    esac
done
JOBS=${ORMELIX_JOBS:-$(nproc)}
say() { printf 'build-toolkit: %s\n' "$*" >&2; }
t0=$(date +%s)
elapsed() { local s=$(($(date +%s) - t0)); printf '%dm%02ds' $((s / 60)) $((s % 60)); }

if [[ $(id -u) -ne 0 ]]; then
    say "needs root: it installs the build tools and fetches Debian's source packages with apt-get"
    exit 2
fi

# The versions are Debian 12's; the host Qt tools that the cross build runs must be the same Qt.
QT_SOURCE=qt6-base
JPEG_SOURCE=libjpeg-turbo
BUILD_PACKAGES=(dpkg-dev cmake ninja-build nasm g++-mingw-w64-x86-64-posix qt6-base-dev
                qt6-base-dev-tools xz-utils)

QT_OPTIONS=(
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
    -DQT_QPA_DEFAULT_PLATFORM=windows -DFEATURE_pkg_config=OFF
    -DINPUT_opengl=no -DFEATURE_opengl=OFF -DFEATURE_direct2d1_1=OFF
    -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF
    -DFEATURE_testlib=OFF -DFEATURE_tabletevent=OFF -DFEATURE_jpeg=OFF
    -DFEATURE_zstd=OFF -DFEATURE_icu=OFF -DFEATURE_glib=OFF
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF
    -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF
    -DFEATURE_system_doubleconversion=OFF
)
JPEG_OPTIONS=(
    -DCMAKE_BUILD_TYPE=Release -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF
    -DWITH_JPEG7=OFF -DWITH_JPEG8=OFF -DWITH_SIMD=ON
)

# Debian's archive serves the sources: add a deb-src entry for bookworm when apt has none.
if ! apt-cache showsrc "$QT_SOURCE" 2>/dev/null | grep -q '^Version: 6\.4\.2'; then
    uri=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
    uri=${uri:-$(awk '$1 == "deb" { print $2; exit }' /etc/apt/sources.list 2>/dev/null)}
    [[ -n $uri ]] || { say "no Debian archive found in apt's sources"; exit 1; }
    printf 'Types: deb-src\nURIs: %s\nSuites: bookworm\nComponents: main\nSigned-By: %s\n' \
        "$uri" /usr/share/keyrings/debian-archive-keyring.gpg \
        >/etc/apt/sources.list.d/ormelix-toolkit-src.sources
    say "added deb-src for bookworm ($uri)"
    apt-get update -qq
fi
missing=()
for p in "${BUILD_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    say "installing ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

hostQt=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools)
qtVersion=$(apt-cache showsrc "$QT_SOURCE" | sed -n 's/^Version: //p' | grep -Fx "$hostQt" | head -n 1)
[[ -n $qtVersion ]] || { say "no $QT_SOURCE source of the host tools' version $hostQt"; exit 1; }
jpegVersion=$(apt-cache showsrc "$JPEG_SOURCE" | sed -n 's/^Version: //p' | grep '^1:2\.1\.5' | head -n 1)
[[ -n $jpegVersion ]] || { say "no $JPEG_SOURCE 2.1.5 source in apt's lists"; exit 1; }

mkdir -p "$WORK" "$OUT"
WORK=$(cd "$WORK" && pwd)
PREFIX=$WORK/prefix
rm -rf "$PREFIX"
unset LIBRARY_PATH CPATH C_INCLUDE_PATH CPLUS_INCLUDE_PATH

# apt-get source unpacks and applies Debian's patches.
fetch_source() { # package version
    local dir
    dir=$(find "$WORK" -maxdepth 1 -type d -name "$1-*" | head -n 1)
    if [[ -z $dir ]]; then
        (cd "$WORK" && apt-get source -qq "$1=$2" >/dev/null 2>&1)
        dir=$(find "$WORK" -maxdepth 1 -type d -name "$1-*" | head -n 1)
    fi
    [[ -n $dir ]] || { say "apt-get source $1=$2 failed"; exit 1; }
    printf '%s\n' "$dir"
}

toolchain=$ROOT/cmake/mingw-w64-x86_64.cmake
say "Qt $qtVersion: configure ($(elapsed))"
qtSource=$(fetch_source "$QT_SOURCE" "$qtVersion")
cmake -G Ninja -S "$qtSource" -B "$WORK/build-qt" --toolchain "$toolchain" \
    -DCMAKE_INSTALL_PREFIX="$PREFIX" -DQT_HOST_PATH=/usr \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake "${QT_OPTIONS[@]}" \
    >"$WORK/qt-configure.log" 2>&1 || { tail -n 30 "$WORK/qt-configure.log"; exit 1; }
say "Qt: build with $JOBS jobs ($(elapsed))"
nice cmake --build "$WORK/build-qt" -j "$JOBS" >"$WORK/qt-build.log" 2>&1 ||
    { grep -E 'error|FAILED' "$WORK/qt-build.log" | head -n 30; exit 1; }
cmake --install "$WORK/build-qt" >/dev/null

say "libjpeg-turbo $jpegVersion: configure and build ($(elapsed))"
jpegSource=$(fetch_source "$JPEG_SOURCE" "$jpegVersion")
cmake -G Ninja -S "$jpegSource" -B "$WORK/build-jpeg" --toolchain "$toolchain" \
    -DCMAKE_INSTALL_PREFIX="$PREFIX" -DCMAKE_INSTALL_BINDIR=bin/jpeg "${JPEG_OPTIONS[@]}" \
    >"$WORK/jpeg-configure.log" 2>&1 || { tail -n 30 "$WORK/jpeg-configure.log"; exit 1; }
nice cmake --build "$WORK/build-jpeg" -j "$JOBS" >"$WORK/jpeg-build.log" 2>&1 ||
    { grep -E 'error|FAILED' "$WORK/jpeg-build.log" | head -n 30; exit 1; }
cmake --install "$WORK/build-jpeg" >/dev/null
# The codec's command-line programs and documents are not part of the toolkit.
rm -rf "$PREFIX/bin/jpeg" "$PREFIX/share/man" "$PREFIX/share/doc"
grep -q 'define JPEG_LIB_VERSION *62' "$PREFIX/include/jconfig.h" ||
    { say "libjpeg-turbo was not built with the version-62 interface"; exit 1; }

# The toolchain files it was built with, so that a consumer can chain-load the same.
cp "$ROOT/cmake/mingw-w64-x86_64.cmake" "$ROOT/cmake/mingw-w64-common.cmake" "$PREFIX/"
{
    printf 'toolkit: %s\n' "$(toolkit_name)"
    printf 'recipe-sha256: %s\n' "$(toolkit_recipe_sha256)"
    printf 'built: %s\n' "$(date -u +%Y-%m-%dT%H:%M:%SZ)"
    printf 'compiler: %s\n' "$(x86_64-w64-mingw32-g++-posix --version | head -n 1)"
    printf 'source: %s %s\n' "$QT_SOURCE" "$qtVersion" "$JPEG_SOURCE" "$jpegVersion"
    printf 'host-qt-tools: %s\n' "$hostQt"
    printf 'qt-options: %s\n' "${QT_OPTIONS[*]}"
    printf 'jpeg-options: %s\n' "${JPEG_OPTIONS[*]}"
} >"$PREFIX/$TOOLKIT_MANIFEST"

tarball=$OUT/$(toolkit_name).tar.xz
tar -C "$PREFIX" -cf - . | xz -T "$JOBS" -6 >"$tarball.part"
mv "$tarball.part" "$tarball"
((KEEP)) || rm -rf "$WORK"
say "done in $(elapsed): $tarball ($(du -h "$tarball" | cut -f 1))"
printf '%s\n' "$tarball"
