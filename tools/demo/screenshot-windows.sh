#!/usr/bin/env bash
# Takes docs/ormelix-demo-windows.png: ormelix-demo.exe of the Windows build polling under Wine,
# drawn by Qt's `windows` platform with its default (GDI) font engine through Wine's own X11
# display driver on Xvfb. It runs inside a Wine desktop window, so that Wine draws the window
# frames as Windows does. The prefix gets Wine's Tahoma (the console's font, a system font on
# Windows) and Marlett (the caption buttons) in its Fonts folder: Debian's Wine 8 does not find
# its own fonts, and without Tahoma Qt falls back to a math font whose GDI text height (4 times
# the em) pushes the text of every line edit out of its field (docs/WINDOWS.md, "Blank line
# edits under Wine").
# With --fonts it takes docs/line-edit-fonts-wine.png instead, in a prefix without Tahoma:
# bench/line_edit_fonts.exe, line edits beside labels and images, font setting by font setting.
# Needs xvfb-run, wine64 and ImageMagick; the Wine prefixes are separate ones (the check's has no
# display driver).
#   tools/demo/screenshot-windows.sh [--fonts] [windows build folder]
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
fonts=0
[[ ${1:-} == --fonts ]] && { fonts=1; shift; }
build=${1:-$here/build/windows-x86_64}
if ((fonts)); then
    demo=$build/line_edit_fonts.exe
    out=$here/docs/line-edit-fonts-wine.png
    prefix=$build/wineprefix-x11-fonts
else
    demo=$build/demo/ormelix-demo.exe
    out=$here/docs/ormelix-demo-windows.png
    prefix=$build/wineprefix-x11
fi
[[ -f $demo ]] || { echo "no $demo: build its Windows target first" >&2; exit 1; }
wine=/usr/lib/wine/wine64
[[ -x $wine ]] || wine=$(command -v wine64)
server=/usr/lib/wine/wineserver64
[[ -x $server ]] || server=$(command -v wineserver)

# No Mono or Gecko installer prompts in a fresh prefix: the demo needs neither.
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
raw=$(mktemp --suffix=.png)
trap 'rm -f "$raw"' EXIT
ORMELIX_DEMO_AUTOCONNECT=1 xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
    [[ -f $WINEPREFIX/system.reg ]] || "$1" wineboot -i >/dev/null 2>&1
    if [[ $5 == 0 ]]; then
        cp /usr/share/wine/fonts/tahoma.ttf /usr/share/wine/fonts/tahomabd.ttf \
            /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    else
        rm -f "$WINEPREFIX"/drive_c/windows/Fonts/tahoma*.ttf
    fi
    "$1" explorer /desktop=Ormelix,1160x720 "$2" >/dev/null 2>&1 &
    sleep 20
    import -window root "$3"
    "$4" -k' _ "$wine" "$demo" "$raw" "$server" "$fonts"
# The Wine desktop, trimmed to the windows with a margin of its own colour.
convert "$raw" -crop 1160x720+0+0 +repage -trim +repage -bordercolor '#276e96' -border 12 "$out"
echo "$out"
