#!/usr/bin/env bash
# Takes docs/ormelix-replay.png: ormelix-replay under Xvfb on a recording of the virtual
# instrument made by ormelix-cli, at record 120. Needs xvfb-run and ImageMagick.
#   tools/replay/screenshot.sh [build folder]
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${1:-$here/build}
replay=$build/tools/replay/ormelix-replay
cli=$build/tools/cli/ormelix-cli
out=$here/docs/ormelix-replay.png
for p in "$replay" "$cli"; do
    [ -x "$p" ] || { echo "no $p: build ormelix-replay and ormelix-cli first" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$cli" record --demo --raw --period 10 --count 300 -o "$work/rec.csv" 2>/dev/null
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    if command -v openbox >/dev/null; then openbox >/dev/null 2>&1 & sleep 1; fi
    "$1" --record 120 "$2" >/dev/null 2>&1 & pid=$!
    sleep 4
    import -window root "$3"
    kill "$pid"; wait "$pid" || true' _ "$replay" "$work/rec.csv" "$work/raw.png"
convert "$work/raw.png" -trim +repage -bordercolor black -border 12 \
    -fill '#3b5b7a' -draw 'color 0,0 floodfill' "$out"
echo "$out"
