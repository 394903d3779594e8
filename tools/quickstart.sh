#!/usr/bin/env bash
# Set up a fresh Debian 12 machine, build, and either start the console or run the tests.
#   tools/quickstart.sh start   build and start the console on its virtual instrument
#   tools/quickstart.sh test    build and run the whole test suite through ctest
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${ORMELIX_BUILD_DIR:-$here/build}
what=${1:-start}

. "$here/tools/install-missing.sh"
packages=("${PACKAGES_BUILD[@]}" "${PACKAGES_TEST[@]}" "${PACKAGES_PYTHON[@]}" libbenchmark-dev libudev1 fonts-wine locales
          xvfb xauth clang libclang-rt-14-dev)
# The system test boots the instrument's USB simulator in a virtual machine.
if [ "$what" = test ]; then
    packages+=(qemu-system-x86 linux-image-amd64 busybox-static udev cpio xz-utils zstd)
fi

install_missing "${packages[@]}"

# The comma-locale tests need a Russian locale.
if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf8$'; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo sed -i 's/^# *\(ru_RU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    $sudo locale-gen >/dev/null
fi

cmake -S "$here" --preset dev -B "$build" >/dev/null
jobs=$(nproc)

case "$what" in
start)
    cmake --build "$build" --target ormelix-demo -j "$jobs"
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
        echo "No display found: start the demo under Xvfb with: xvfb-run -a $build/tools/demo/ormelix-demo" >&2
        exit 1
    fi
    exec "$build/tools/demo/ormelix-demo"
    ;;
test)
    cmake --build "$build" -j "$jobs"
    cd "$build"
    exec ctest --output-on-failure -j "$jobs"
    ;;
*)
    echo "usage: $0 start|test" >&2
    exit 2
    ;;
esac
