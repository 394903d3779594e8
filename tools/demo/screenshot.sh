#!/usr/bin/env bash
# Takes docs/ormelix-demo.png: ormelix-demo polling under Xvfb, cropped to its two windows.
# Needs xvfb-run and ImageMagick; openbox, when installed, draws the window captions.
#   tools/demo/screenshot.sh [build folder]
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${1:-$here/build}
demo=$build/tools/demo/ormelix-demo
out=$here/docs/ormelix-demo.png
[ -x "$demo" ] || { echo "no $demo: build the ormelix-demo target first" >&2; exit 1; }

raw=$(mktemp --suffix=.png)
trap 'rm -f "$raw"' EXIT
ORMELIX_DEMO_AUTOCONNECT=1 xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
    if command -v openbox >/dev/null; then openbox >/dev/null 2>&1 & sleep 1; fi
    "$1" >/dev/null 2>&1 & pid=$!
    sleep 5
    import -window root "$2"
    kill "$pid"; wait "$pid" || true' _ "$demo" "$raw"
# Crop to the windows, then paint the backdrop around them.
convert "$raw" -trim +repage -bordercolor black -border 12 \
    -fill '#3b5b7a' -draw 'color 0,0 floodfill' "$out"
echo "$out"
