#!/usr/bin/env bash
# One command from this repository to the Windows installer, on Debian 12:
#
#   bash tools/windows/build-installer.sh        -> build-windows/ormelix-setup-<version>.exe
#
# Installs what is missing with apt-get (MinGW-w64, NSIS, CMake, Ninja; as root or through sudo),
# finds the Windows toolkit (ORMELIX_WINDOWS_TOOLKIT, a tarball or an unpacked prefix; then
# ../shared/toolchains beside the clone; then ~/.cache/ormelix), and with none builds it once with
# tools/windows/build-toolkit.sh into that cache (an hour of CPU time, 35-70 min on 2 cores; needs
# root). Then cross-builds the console, the demo, ormelix-cli, ormelix-replay and ormelix-hidlist (Release,
# static, stripped) in build-windows/x86_64 and packs them with NSIS. ORMELIX_JOBS sets the
# parallel jobs.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# shellcheck source=toolkit.sh
. "$ROOT/tools/windows/toolkit.sh"
. "$ROOT/tools/install-missing.sh"

case ${1:-} in
-h | --help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
"") ;;
*) echo "build-installer: unknown argument $1 (see --help)" >&2; exit 2 ;;
esac

OUT=$ROOT/build-windows
BUILD=$OUT/x86_64
JOBS=${ORMELIX_JOBS:-$(nproc)}
say() { printf 'build-installer: %s\n' "$*" >&2; }
t0=$(date +%s)
elapsed() { local s=$(($(date +%s) - t0)); printf '%dm%02ds' $((s / 60)) $((s % 60)); }

install_missing cmake ninja-build g++-mingw-w64-x86-64-posix nsis xz-utils

toolkit=$(toolkit_find)
if [[ -z $toolkit ]]; then
    say "no Windows toolkit found: building it once from Debian's sources into $(toolkit_cache_dir) (an hour of CPU time, 35-70 min on 2 cores)"
    if [[ $(id -u) -eq 0 ]]; then
        toolkit=$(bash "$ROOT/tools/windows/build-toolkit.sh" | tail -n 1)
    else
        toolkit=$(sudo --preserve-env=ORMELIX_JOBS,XDG_CACHE_HOME HOME="$HOME" \
            bash "$ROOT/tools/windows/build-toolkit.sh" --out "$(toolkit_cache_dir)" | tail -n 1)
    fi
fi
say "toolkit: $toolkit"
prefix=$(toolkit_unpack "$toolkit" "$OUT/windows-toolkit")
say "$(toolkit_check_manifest "$prefix")" || true

mkdir -p "$BUILD"
qtToolchain=$prefix/lib/cmake/Qt6/qt.toolchain.cmake
# A cache made against another toolkit cannot be reused.
if [[ -f $BUILD/CMakeCache.txt ]] &&
    [[ $(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=//p' "$BUILD/CMakeCache.txt") != "$qtToolchain" ]]; then
    rm -rf "$BUILD/CMakeCache.txt" "$BUILD/CMakeFiles"
fi
say "configure and build in ${BUILD#"$ROOT"/} ($(elapsed))"
cmake -S "$ROOT/cmake/windows" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DORMELIX_BUILD_TESTS=OFF -DCMAKE_TOOLCHAIN_FILE="$qtToolchain" \
    -DQT_CHAINLOAD_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" >"$BUILD/configure.log" 2>&1 ||
    { tail -n 30 "$BUILD/configure.log"; exit 1; }
cmake --build "$BUILD" -j "$JOBS" --target installer >"$BUILD/build.log" 2>&1 ||
    { grep -E 'error|FAILED' "$BUILD/build.log" | head -n 30; exit 1; }

setup=$(find "$BUILD" -maxdepth 1 -name 'ormelix-setup-*.exe' | head -n 1)
[[ -n $setup ]] || { say "the installer was not made (see ${BUILD#"$ROOT"/}/build.log)"; exit 1; }
cp "$setup" "$OUT/"
say "done in $(elapsed)"
printf '%s\n' "$OUT/$(basename "$setup")"
