#!/usr/bin/env bash
# Build the whole test suite with AddressSanitizer (leak checking included) and
# UndefinedBehaviorSanitizer in its own folder and run it through ctest. Any finding fails a test.
#   tools/sanitize.sh            build and run every test except the soak test
#   tools/sanitize.sh -R regex   extra ctest arguments are passed on
# ORMELIX_ASAN_BUILD_DIR chooses the folder (default build-asan); ORMELIX_JOBS the parallelism.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${ORMELIX_ASAN_BUILD_DIR:-$here/build-asan}
jobs=${ORMELIX_JOBS:-$(nproc)}
start=$(date +%s)
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DORMELIX_SANITIZE=ON -DORMELIX_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$jobs"
built=$(date +%s)

# Leaks inside the toolkit's and the font stack's own caches are not ours (see the file).
export LSAN_OPTIONS="suppressions=$here/tests/soak/lsan.supp:print_suppressions=0"
export ASAN_OPTIONS="detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen

cd "$build"
status=0
ctest --output-on-failure -j "$jobs" -LE soak "$@" || status=$?
end=$(date +%s)
echo "sanitize: build $((built - start)) s, tests $((end - built)) s, total $((end - start)) s"
exit $status
