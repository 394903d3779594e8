#!/usr/bin/env bash
# Rerunnable performance figures of the console (docs/PERFORMANCE.md shows what they were).
#   tools/perf.sh ticks [N]          poll tick median/p99 over N ticks (default 10000), redraw alone
#   tools/perf.sh callgrind [N]      instructions per tick under callgrind, two runs (default 2000)
#   tools/perf.sh startup [RUNS]     start to first shown window, console vs bare Qt window (15)
#   tools/perf.sh process [MINUTES]  CPU per minute and resident memory, console vs bare Qt
#                                    window side by side in one Xvfb (default 10 minutes)
#   tools/perf.sh process-demo [MIN] the same for ormelix-demo (auto-connected) against the bare
#                                    window, both sampled from /proc (default 10 minutes)
#   tools/perf.sh snapshot [N]       the snapshot step: capture, encode, write (200 pictures)
#   tools/perf.sh jpeg               TJPEGImage against libjpeg directly
#   tools/perf.sh scan               rescan cost with 1 to 1000 interfaces
#   tools/perf.sh cli [SECONDS]      ormelix-cli rows/s at --period 10 against the bare fetch rate
#   tools/perf.sh python             the Python module: fetch() against C++, read_csv on 400 MB
#   tools/perf.sh all                all of the above (process for 10 minutes)
# Builds what it needs in ORMELIX_PERF_BUILD_DIR (default build-perf), RelWithDebInfo.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${ORMELIX_PERF_BUILD_DIR:-$here/build-perf}
jobs=${ORMELIX_JOBS:-$(nproc)}
what=${1:-all}
# Qt wants a private runtime folder.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    export XDG_RUNTIME_DIR
    XDG_RUNTIME_DIR=$(mktemp -d)
    chmod 700 "$XDG_RUNTIME_DIR"
fi
arg=${2:-}

build_targets() {
    cmake -S "$here" --preset perf -B "$build" >/dev/null
    cmake --build "$build" --target "$@" -j "$jobs" >/dev/null
}

# Runs a command with a display: the caller's, or a private Xvfb.
with_display() {
    if [ -n "${DISPLAY:-}" ]; then
        "$@"
    else
        xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$@"
    fi
}

ticks() {
    build_targets tick_bench
    "$build/bench/tick_bench" --ticks "${1:-10000}"
}

callgrind() {
    build_targets tick_bench
    local n=${1:-2000} out
    out=$(mktemp -d)
    for run in 1 2; do
        QT_QPA_PLATFORM=offscreen valgrind --tool=callgrind --callgrind-out-file="$out/cg.$run" \
            --toggle-collect='TOrmelix_Control_Form::TimerTimer(QObject*)' \
            "$build/bench/tick_bench" --callgrind "$n" >"$out/out.$run" 2>"$out/log.$run"
        local ir calls
        ir=$(grep -m1 '^summary:' "$out/cg.$run" | awk '{print $2}')
        calls=$(awk '/^timer_calls/ {print $2}' "$out/out.$run")
        echo "callgrind run $run: $ir instructions in $calls ticks = $((ir / calls)) per tick"
    done
    rm -rf "$out"
}

# One line per start: "<console total> <console to main> <bare total> <bare to main>" in us,
# the time to main() being the program's loading.
startup_inner() {
    local runs=$1 i t0 out c cm b bm
    for ((i = 0; i < runs; i++)); do
        t0=${EPOCHREALTIME/./}
        out=$("$build/bench/bench_console" --minutes 0)
        c=$(($(awk '/^shown/ {print $2}' <<<"$out") - t0))
        cm=$(($(awk '/^main/ {print $2}' <<<"$out") - t0))
        t0=${EPOCHREALTIME/./}
        out=$("$build/bench/baseline_window" --minutes 0)
        b=$(($(awk '/^shown/ {print $2}' <<<"$out") - t0))
        bm=$(($(awk '/^main/ {print $2}' <<<"$out") - t0))
        echo "$c $cm $b $bm"
    done
}

startup() {
    build_targets bench_console baseline_window
    local runs=${1:-15}
    local out
    out=$(mktemp)
    # One start of each first, so that both find the libraries in the page cache.
    with_display bash -c "$(declare -f startup_inner); build='$build'; startup_inner 1 >/dev/null; startup_inner $runs" >"$out"
    median() { cut -d' ' -f"$1" "$out" | sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)], v[1], v[NR]}'; }
    local c cm b bm
    c=$(median 1)
    cm=$(median 2)
    b=$(median 3)
    bm=$(median 4)
    rm -f "$out"
    echo "$c $cm $b $bm" | awk -v n="$runs" '{
        printf "start to first shown window, median of %d (us): console %d, bare Qt window %d, ratio %.2f (target <= 1.20)\n", n, $1, $7, $1/$7;
        printf "  console min %d max %d; bare window min %d max %d\n", $2, $3, $8, $9;
        printf "  of which loading (start to main): console %d, bare window %d; main to shown: console %d, bare window %d\n", $4, $10, $1-$4, $7-$10 }'
}

process_inner() {
    local minutes=$1 out=$2
    "$build/bench/bench_console" --minutes "$minutes" >"$out/console.txt" &
    local c=$!
    "$build/bench/baseline_window" --minutes "$minutes" >"$out/baseline.txt" &
    local b=$!
    wait $c $b
}

process() {
    build_targets bench_console baseline_window
    local minutes=${1:-10} out
    out=$(mktemp -d)
    echo "console and bare Qt window side by side for $minutes minutes ..."
    with_display bash -c "$(declare -f process_inner); build='$build'; process_inner $minutes '$out'"
    echo "per minute:  cpu_s = CPU seconds used in that minute, rss = resident KiB, heap = bytes in use"
    paste -d' ' <(grep '^minute' "$out/console.txt") <(grep '^minute' "$out/baseline.txt") | awk '
        {   m=$2; ccpu=$4; crss=$6; cheap=$8; cticks=$10; bcpu=$14; brss=$16; bheap=$18;
            if (NR > 1) printf "minute %2d  console cpu_s %6.3f rss %6d heap %8d ticks %5d | bare cpu_s %6.3f rss %6d heap %8d\n", m, ccpu-pc, crss, cheap, cticks, bcpu-pb, brss, bheap;
            pc=ccpu; pb=bcpu; if (m==1) {c1=crss; b1=brss; h1=cheap} last=m; cl=crss; bl=brss; hl=cheap; tc=ccpu; tb=bcpu; if (m==0) {c0=ccpu; b0=bcpu} }
        END {
            printf "CPU per minute of polling (mean of %d): console %.3f s, bare window %.3f s, ratio %.2f (target <= 2)\n", last, (tc-c0)/last, (tb-b0)/last, (tc-c0)/(tb-b0);
            printf "resident after minute 1: console %d KiB, bare window %d KiB, ratio %.2f (target <= 1.3)\n", c1, b1, c1/b1;
            printf "resident after minute %d: console %d KiB, bare window %d KiB, ratio %.2f\n", last, cl, bl, cl/bl;
            printf "console growth minute 1 -> %d: resident %+d KiB, heap in use %+d bytes\n", last, cl-c1, hl-h1 }'
    rm -rf "$out"
}

# "<cpu seconds> <resident KiB>" of a running process, read from /proc.
proc_sample() {
    local pid=$1 hz
    hz=$(getconf CLK_TCK)
    awk -v hz="$hz" '{printf "%.3f ", ($14 + $15) / hz}' "/proc/$pid/stat"
    awk '/^VmRSS:/ {print $2}' "/proc/$pid/status"
}

process_demo_inner() {
    local minutes=$1 out=$2 m
    ORMELIX_DEMO_AUTOCONNECT=1 "$build/tools/demo/ormelix-demo" >/dev/null 2>&1 &
    local d=$!
    "$build/bench/baseline_window" --minutes $((minutes + 1)) >/dev/null &
    local b=$!
    local t0=${EPOCHREALTIME/./}
    for ((m = 1; m <= minutes; m++)); do
        local now=${EPOCHREALTIME/./}
        local wait_us=$((t0 + m * 60000000 - now))
        [ $wait_us -gt 0 ] && sleep "$(awk -v u=$wait_us 'BEGIN {printf "%.3f", u / 1e6}')"
        echo "minute $m $(proc_sample $d) $(proc_sample $b)" >>"$out/samples.txt"
    done
    kill $d $b
    wait $d $b 2>/dev/null || true
}

process_demo() {
    build_targets ormelix-demo baseline_window
    local minutes=${1:-10} out
    out=$(mktemp -d)
    echo "ormelix-demo (auto-connected) and bare Qt window side by side for $minutes minutes ..."
    with_display bash -c "$(declare -f proc_sample process_demo_inner); build='$build'; process_demo_inner $minutes '$out'"
    awk '{ m=$2; dc=$3; dr=$4; bc=$5; br=$6;
           if (NR > 1) printf "minute %2d  demo cpu_s %6.3f rss %6d | bare cpu_s %6.3f rss %6d\n", m, dc-pd, dr, bc-pb, br;
           if (NR == 1) {d1c=dc; b1c=bc; d1r=dr; b1r=br} pd=dc; pb=bc; last=m; dl=dr; bl=br; dlc=dc; blc=bc }
         END {
           n = last - 1;
           printf "CPU per minute of polling (minutes 2..%d): demo %.3f s, bare window %.3f s, ratio %.2f (target <= 2)\n", last, (dlc-d1c)/n, (blc-b1c)/n, (dlc-d1c)/(blc-b1c);
           printf "resident after minute 1: demo %d KiB, bare window %d KiB, ratio %.2f (target <= 1.3)\n", d1r, b1r, d1r/b1r;
           printf "resident after minute %d: demo %d KiB, bare window %d KiB; demo growth %+d KiB\n", last, dl, bl, dl-d1r }' "$out/samples.txt"
    rm -rf "$out"
}

snapshot() {
    build_targets snapshot_bench
    "$build/bench/snapshot_bench" --pictures "${1:-200}"
}

jpeg() {
    build_targets jpeg_bench
    "$build/bench/jpeg_bench"
}

scan() {
    build_targets scan_bench
    "$build/bench/scan_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
}

cli() {
    build_targets cli_bench
    "$build/bench/cli_bench" --seconds "${1:-5}"
}

python_module() {
    build_targets ormelix_module ormelix-cli
    PYTHONPATH="$build/python" /usr/bin/python3 "$here/bench/python_bench.py" \
        --cli "$build/tools/cli/ormelix-cli"
}

case "$what" in
ticks | callgrind | startup | process | snapshot | jpeg | scan | cli) "$what" $arg ;;
process-demo) process_demo $arg ;;
python) python_module ;;
all)
    ticks
    callgrind
    startup
    snapshot
    jpeg
    scan
    cli
    python_module
    process 10
    ;;
*)
    sed -n '2,15p' "$0" >&2
    exit 2
    ;;
esac
