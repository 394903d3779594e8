#!/usr/bin/env bash
# Sanitizer builds, each in its own folder, run through ctest or directly. Any finding fails.
#   tools/sanitize.sh [regex]      AddressSanitizer (leak checking included) and
#                                  UndefinedBehaviorSanitizer over every test except the soak
#                                  test; extra arguments are passed on to ctest (e.g. -R regex)
#   tools/sanitize.sh --thread     ThreadSanitizer over the HID layer's tests (reader, hand-over,
#                                  controller, Linux entries): only those targets are built
# ORMELIX_ASAN_BUILD_DIR / ORMELIX_TSAN_BUILD_DIR choose the folders (default build-asan,
# build-tsan); ORMELIX_JOBS the parallelism.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=${ORMELIX_JOBS:-$(nproc)}
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
export QT_QPA_PLATFORM=offscreen
start=$(date +%s)

if [ "${1:-}" = --thread ]; then
    shift
    build=${ORMELIX_TSAN_BUILD_DIR:-$here/build-tsan}
    tests=(hid/hid_reader_tests hid/hid_layer_tests hid/linux/hid_linux_tests
           hid/linux/hid_contract_tests)
    cmake -S "$here" --preset tsan -B "$build" "${launcher[@]}" >/dev/null
    cmake --build "$build" -j "$jobs" --target "${tests[@]##*/}"
    built=$(date +%s)
    # Qt is not instrumented: what it synchronises inside itself is invisible to the sanitizer.
    export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$here/tests/hid/tsan.supp"
    status=0
    for t in "${tests[@]}"; do
        "$build/tests/$t" --gtest_brief=1 "$@" || status=$?
    done
    end=$(date +%s)
    echo "sanitize --thread: build $((built - start)) s, tests $((end - built)) s, total $((end - start)) s"
    exit $status
fi

build=${ORMELIX_ASAN_BUILD_DIR:-$here/build-asan}
cmake -S "$here" --preset sanitize -B "$build" "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$jobs"
built=$(date +%s)

# Leaks inside the toolkit's and the font stack's own caches are not ours (see the file).
export LSAN_OPTIONS="suppressions=$here/tests/soak/lsan.supp:print_suppressions=0"
export ASAN_OPTIONS="detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

cd "$build"
status=0
ctest --output-on-failure -j "$jobs" -LE soak "$@" || status=$?
end=$(date +%s)
echo "sanitize: build $((built - start)) s, tests $((end - built)) s, total $((end - start)) s"
exit $status
