#!/usr/bin/env bash
# Build the libFuzzer targets (clang, ASan, UBSan) and run each for a bounded time.
#   tools/fuzz.sh [seconds] [target ...]     default 60 seconds each, every target
# Targets: the default list below. Seeds come from fuzz/corpus/<target>/ and
# are only read; inputs found on the way go to <build>/corpus/<target>/, and a crashing input to
# <build>/artifacts/<target>/. Prints executions and findings per target; exits non-zero when a
# target found something. ORMELIX_FUZZ_BUILD_DIR chooses the folder (default build-fuzz).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${ORMELIX_FUZZ_BUILD_DIR:-$here/build-fuzz}
jobs=${ORMELIX_JOBS:-$(nproc)}
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(descriptor spin_edit poll_tick hid_layer jpeg_decoder)

cmake -S "$here/fuzz" --preset fuzz -B "$build" >/dev/null
cmake --build "$build" -j "$jobs" --target $(printf 'fuzz_%s ' "${targets[@]}") >/dev/null

export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$here/tests/soak/lsan.supp:print_suppressions=0"
export QT_QPA_PLATFORM=offscreen
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    export XDG_RUNTIME_DIR
    XDG_RUNTIME_DIR=$(mktemp -d)
    chmod 700 "$XDG_RUNTIME_DIR"
fi

status=0
summary=()
for t in "${targets[@]}"; do
    fuzzer=$(find "$build" -type f -name "fuzz_$t" -perm -u+x | head -n 1)
    corpus=$build/corpus/$t
    artifacts=$build/artifacts/$t/
    mkdir -p "$corpus" "$artifacts"
    max_len=4096
    [ "$t" = poll_tick ] && max_len=2100
    [ "$t" = spin_edit ] && max_len=256
    [ "$t" = jpeg_decoder ] && max_len=16384
    log=$build/fuzz-$t.log
    rc=0
    # -timeout: an input running longer than 10 s counts as a hang.
    "$fuzzer" -max_total_time="$seconds" -max_len=$max_len -timeout=10 -rss_limit_mb=4096 \
        -print_final_stats=1 -artifact_prefix="$artifacts" "$corpus" "$here/fuzz/corpus/$t" \
        >"$log" 2>&1 || rc=$?
    runs=$(awk '/stat::number_of_executed_units/ {print $NF}' "$log")
    found=$(find "$artifacts" -type f | wc -l)
    summary+=("$(printf '%-11s %10s executions in %ss, %s finding(s), exit %s' "$t" "${runs:-?}" "$seconds" "$found" "$rc")")
    if [ "$rc" -ne 0 ] || [ "$found" -ne 0 ]; then
        status=1
        grep -m5 -E 'ERROR|invariant broken|runtime error|Test unit written' "$log" || true
    fi
done
printf '%s\n' "${summary[@]}"
exit $status
