#!/usr/bin/env bash
# Long-run reliability checks of the console.
#   tools/soak.sh [soak]            the soak test under AddressSanitizer (with leak checking) and
#                                   UndefinedBehaviorSanitizer: 100,000 poll ticks on random
#                                   records, 500 unplug/replug cycles, a snapshot series throughout
#   tools/soak.sh memcheck [TICKS]  the console polling the virtual instrument, with a snapshot
#                                   series, under valgrind memcheck in Xvfb (default 200 ticks)
#   tools/soak.sh memcheck-demo [S] ormelix-demo, auto-connected, under memcheck in Xvfb for S
#                                   seconds (default 130: over 200 ticks at the real pace)
# A shorter soak: ORMELIX_SOAK_TICKS=10000 ORMELIX_SOAK_CYCLES=50 tools/soak.sh
# The soak shares the sanitizer build folder of tools/sanitize.sh (ORMELIX_ASAN_BUILD_DIR,
# default build-asan); memcheck uses ORMELIX_PERF_BUILD_DIR (default build-perf).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=${ORMELIX_JOBS:-$(nproc)}
what=${1:-soak}
start=$(date +%s)
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    export XDG_RUNTIME_DIR
    XDG_RUNTIME_DIR=$(mktemp -d)
    chmod 700 "$XDG_RUNTIME_DIR"
fi

case "$what" in
soak)
    build=${ORMELIX_ASAN_BUILD_DIR:-$here/build-asan}
    cmake -S "$here" --preset sanitize -B "$build" -DORMELIX_SOAK=ON >/dev/null
    cmake --build "$build" --target soak_tests -j "$jobs"
    export LSAN_OPTIONS="suppressions=$here/tests/soak/lsan.supp:print_suppressions=0"
    export ASAN_OPTIONS="detect_leaks=1:strict_string_checks=1:check_initialization_order=1"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    export QT_QPA_PLATFORM=offscreen
    cd "$build"
    status=0
    ctest --output-on-failure -V -L soak || status=$?
    ;;
memcheck)
    build=${ORMELIX_PERF_BUILD_DIR:-$here/build-perf}
    ticks=${2:-200}
    cmake -S "$here" --preset perf -B "$build" >/dev/null
    cmake --build "$build" --target bench_console -j "$jobs" >/dev/null
    series=$(mktemp -d)
    status=0
    xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
        valgrind --tool=memcheck --error-exitcode=9 --leak-check=full \
        --show-leak-kinds=definite --errors-for-leak-kinds=definite \
        --child-silent-after-fork=yes --num-callers=30 \
        --suppressions="$here/tests/soak/valgrind.supp" \
        "$build/bench/bench_console" --ticks "$ticks" --series "$series" || status=$?
    echo "pictures: $(find "$series" -name '*.jpg' | wc -l)"
    rm -rf "$series"
    ;;
memcheck-demo)
    build=${ORMELIX_PERF_BUILD_DIR:-$here/build-perf}
    seconds=${2:-130}
    cmake -S "$here" --preset perf -B "$build" >/dev/null
    cmake --build "$build" --target ormelix-demo -j "$jobs" >/dev/null
    log=$(mktemp)
    # The demo runs until closed: it is stopped by SIGTERM, after which valgrind still checks.
    ORMELIX_DEMO_AUTOCONNECT=1 xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
        timeout -s TERM "$seconds" \
        valgrind --tool=memcheck --leak-check=full \
        --show-leak-kinds=definite --errors-for-leak-kinds=definite \
        --child-silent-after-fork=yes --num-callers=30 \
        --suppressions="$here/tests/soak/valgrind.supp" \
        "$build/tools/demo/ormelix-demo" 2>"$log" || true
    grep -E 'ERROR SUMMARY|definitely lost' "$log" || true
    status=0
    grep -q 'ERROR SUMMARY: 0 errors' "$log" || status=1
    rm -f "$log"
    ;;
*)
    sed -n '2,13p' "$0" >&2
    exit 2
    ;;
esac
echo "soak.sh $what: $(($(date +%s) - start)) s, exit $status"
exit $status
