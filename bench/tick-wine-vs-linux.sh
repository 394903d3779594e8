#!/usr/bin/env bash
# The poll tick under Wine against the tick on Linux, on this machine: tick_bench of the Linux
# build and tick_bench.exe of the Windows build (cmake/windows with the toolkit), both on Qt's
# offscreen platform, one after the other; prints both medians and their ratio.
#   bench/tick-wine-vs-linux.sh [linux build] [windows build] [ticks]
# Defaults: build, build/windows-x86_64, 2000. The Windows build's Wine prefix (made by
# tools/windows-check.sh) is used when it is there.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
linux=${1:-$root/build}
windows=${2:-$root/build/windows-x86_64}
ticks=${3:-2000}
# Wine wants an absolute prefix.
linux=$(cd "$linux" && pwd)
windows=$(cd "$windows" && pwd)
wine=/usr/lib/wine/wine64
[[ -x $wine ]] || wine=$(command -v wine64)

[[ -x $linux/bench/tick_bench ]] || { echo "no $linux/bench/tick_bench: build the tick_bench target" >&2; exit 1; }
[[ -f $windows/tick_bench.exe ]] || { echo "no $windows/tick_bench.exe: build the Windows tick_bench target" >&2; exit 1; }

export WINEDEBUG=-all DISPLAY= WAYLAND_DISPLAY=
[[ -d $windows/wineprefix ]] && export WINEPREFIX=$windows/wineprefix
fonts=/usr/share/wine/fonts

QT_QPA_PLATFORM=offscreen QT_QPA_FONTDIR=$fonts "$linux/bench/tick_bench" --ticks "$ticks" \
    >"$windows/tick-linux.txt"
WINEQT_QPA_PLATFORM=offscreen WINEQT_QPA_FONTDIR='Z:\usr\share\wine\fonts' \
    "$wine" "$windows/tick_bench.exe" --ticks "$ticks" 2>"$windows/tick-wine.err" |
    tr -d '\r' >"$windows/tick-wine.txt"

median() { # file, figure
    sed -n "s/^$2 *n=[0-9]* *median *\([0-9.]*\) us.*/\1/p" "$1"
}
printf '%-34s %10s %10s %7s\n' figure 'Linux us' 'Wine us' ratio
for figure in 'tick (TimerTimer)' 'tick + repaint' 'fetch alone (get_data)' \
    'plot redraw alone (drawing part)'; do
    l=$(median "$windows/tick-linux.txt" "$figure")
    w=$(median "$windows/tick-wine.txt" "$figure")
    [[ -n $l && -n $w ]] || { echo "no figure for '$figure' (see $windows/tick-*.txt)" >&2; exit 1; }
    printf '%-34s %10s %10s %7.2f\n' "$figure" "$l" "$w" "$(awk -v a="$w" -v b="$l" 'BEGIN { print a / b }')"
done
