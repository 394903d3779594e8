#!/usr/bin/env bash
# Fuzz the HID report-descriptor parser with libFuzzer, ASan and UBSan for a bounded time.
#   tools/fuzz-descriptor.sh [seconds]      default 60
# Needs clang and libclang-rt-14-dev. Builds in its own folder (ORMELIX_FUZZ_BUILD_DIR, default
# build-fuzz); new inputs and any crash go there, the committed seed corpus is only read.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${ORMELIX_FUZZ_BUILD_DIR:-$here/build-fuzz}
seconds=${1:-60}
seeds=$here/tests/hid/linux/corpus

sanitize="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
CC=clang CXX=clang++ cmake -S "$here" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DORMELIX_BUILD_BENCH=OFF \
    -DCMAKE_C_FLAGS="$sanitize" -DCMAKE_CXX_FLAGS="$sanitize" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$build" --target fuzz_descriptor -j "$(nproc)"

corpus=$build/fuzz-corpus
artifacts=$build/fuzz-artifacts/
mkdir -p "$corpus" "$artifacts"
fuzzer=$(find "$build" -type f -name fuzz_descriptor -perm -u+x | head -n 1)
exec "$fuzzer" -max_total_time="$seconds" -max_len=4096 -artifact_prefix="$artifacts" \
    "$corpus" "$seeds"
