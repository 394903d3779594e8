#!/usr/bin/env bash
# The poll tick under Wine against the tick on Linux, on this machine: tick_bench of a Linux
# build and tick_bench.exe of the Windows build (cmake/windows with the toolkit), both on Qt's
# offscreen platform, run alternately so that each pair shares the machine's load; prints each
# figure's medians and their ratio per run, then the median ratio over the runs.
#   bench/tick-wine-vs-linux.sh [linux build] [windows build] [ticks] [runs]
# Defaults: build-perf-release, build/windows-x86_64, 3000, 3. Both builds must have the same
# build type (the Windows check builds Release); a Linux one with the bench programs and the
# same optimisation:
#   cmake --preset perf -B build-perf-release -DCMAKE_BUILD_TYPE=Release
#   cmake --build build-perf-release -j2 --target tick_bench
# The Windows build's Wine prefix (made by tools/windows-check.sh) is used when it is there.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
linux=${1:-$root/build-perf-release}
windows=${2:-$root/build/windows-x86_64}
ticks=${3:-3000}
runs=${4:-3}
# Wine wants an absolute prefix.
linux=$(cd "$linux" && pwd)
windows=$(cd "$windows" && pwd)
wine=/usr/lib/wine/wine64
[[ -x $wine ]] || wine=$(command -v wine64)

[[ -x $linux/bench/tick_bench ]] || { echo "no $linux/bench/tick_bench: build the tick_bench target" >&2; exit 1; }
[[ -f $windows/tick_bench.exe ]] || { echo "no $windows/tick_bench.exe: build the Windows tick_bench target" >&2; exit 1; }
buildType() { sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$1/CMakeCache.txt"; }
lt=$(buildType "$linux")
wt=$(buildType "$windows")
echo "build types: Linux $lt, Windows $wt"
[[ $lt == "$wt" ]] || echo "warning: the build types differ; the ratio then measures the flags too" >&2

export WINEDEBUG=-all DISPLAY= WAYLAND_DISPLAY=
[[ -d $windows/wineprefix ]] && export WINEPREFIX=$windows/wineprefix
fonts=/usr/share/wine/fonts
figures=('tick (TimerTimer)' 'window repaint after the tick' 'tick + repaint'
    'fetch alone (get_data)' 'plot redraw alone (drawing part)' 'plot redraw after a fetch'
    'poll timer start + stop' 'event loop wake-up (postEvent)' '8 read-out numbers (FormatVolts)')

median() { # file, figure
    sed -n "s/^$2 *n=[0-9]* *median *\([0-9.]*\) us.*/\1/p" "$1"
}
ratios=$(mktemp)
trap 'rm -f "$ratios"' EXIT
for ((run = 1; run <= runs; ++run)); do
    QT_QPA_PLATFORM=offscreen QT_QPA_FONTDIR=$fonts "$linux/bench/tick_bench" --ticks "$ticks" \
        >"$windows/tick-linux-$run.txt" 2>/dev/null
    WINEQT_QPA_PLATFORM=offscreen WINEQT_QPA_FONTDIR='Z:\usr\share\wine\fonts' \
        "$wine" "$windows/tick_bench.exe" --ticks "$ticks" 2>"$windows/tick-wine.err" |
        tr -d '\r' >"$windows/tick-wine-$run.txt"
    echo "run $run of $runs, load average $(cut -d' ' -f1-3 /proc/loadavg)"
    printf '  %-34s %10s %10s %7s\n' figure 'Linux us' 'Wine us' ratio
    for figure in "${figures[@]}"; do
        l=$(median "$windows/tick-linux-$run.txt" "$figure")
        w=$(median "$windows/tick-wine-$run.txt" "$figure")
        [[ -n $l && -n $w ]] || { echo "no figure for '$figure' (see $windows/tick-*.txt)" >&2; exit 1; }
        r=$(awk -v a="$w" -v b="$l" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')
        printf '  %-34s %10s %10s %7s\n' "$figure" "$l" "$w" "$r"
        printf '%s\t%s\n' "$figure" "$r" >>"$ratios"
    done
    # The tick less the two calls into the Wine server that Linux makes in user space: the
    # timer's restart and the event loop's wake-up by the repaint request.
    tl=$(median "$windows/tick-linux-$run.txt" 'tick (TimerTimer)')
    tw=$(median "$windows/tick-wine-$run.txt" 'tick (TimerTimer)')
    sl=$(awk -v t="$(median "$windows/tick-linux-$run.txt" 'poll timer start + stop')" \
        -v p="$(median "$windows/tick-linux-$run.txt" 'event loop wake-up (postEvent)')" 'BEGIN { print t + p }')
    sw=$(awk -v t="$(median "$windows/tick-wine-$run.txt" 'poll timer start + stop')" \
        -v p="$(median "$windows/tick-wine-$run.txt" 'event loop wake-up (postEvent)')" 'BEGIN { print t + p }')
    r=$(awk -v a="$tw" -v b="$tl" -v x="$sw" -v y="$sl" 'BEGIN { printf "%.2f", (a - x) / (b - y) }')
    printf '  %-34s %10.1f %10.1f %7s\n' 'tick less timer and wake-up' \
        "$(awk -v a="$tl" -v b="$sl" 'BEGIN { print a - b }')" \
        "$(awk -v a="$tw" -v b="$sw" 'BEGIN { print a - b }')" "$r"
    printf '%s\t%s\n' 'tick less timer and wake-up' "$r" >>"$ratios"
done
echo "median ratio Wine / Linux over $runs runs"
for figure in "${figures[@]}" 'tick less timer and wake-up'; do
    printf '  %-34s %7s\n' "$figure" "$(awk -F'\t' -v f="$figure" '$1 == f { print $2 }' "$ratios" |
        sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')"
done
