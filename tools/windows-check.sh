#!/usr/bin/env bash
# Windows check: cross-builds the HID layer, its tests and the HID diagnostic tool with Debian's
# MinGW-w64 (64-bit, and 32-bit where the compiler is there) and runs the tests under Wine,
# headless (no display, a fresh Wine prefix inside each build folder). The 64-bit build also
# builds the console, the demo and the installer against the Windows toolkit (static Qt and
# libjpeg) when one is found: ORMELIX_WINDOWS_TOOLKIT (a tarball or an unpacked prefix), then
# ../shared/toolchains/ beside the clone, then the cache tools/windows/build-toolkit.sh fills
# (~/.cache/ormelix). It warns when the toolkit was not made by this tree's recipe.
#
#   tools/windows-check.sh
#
# Installs what is missing with apt-get (as root). Exits non-zero when a build or a test
# fails; exits 0 with a "skipped: ..." line when the tools cannot be installed.
# ORMELIX_JOBS sets the build's parallel jobs (default 2).
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
JOBS=${ORMELIX_JOBS:-2}
REQUIRED=(cmake ninja-build googletest g++-mingw-w64-x86-64-posix wine64)
OPTIONAL=(g++-mingw-w64-i686-posix)

say() { printf '%s\n' "$*"; }
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

APT_UPDATED=0
# Installs the missing ones among the named packages; false when that is not possible.
install_missing() {
    local missing=() p
    for p in "$@"; do installed "$p" || missing+=("$p"); done
    ((${#missing[@]} == 0)) && return 0
    if [[ $(id -u) -ne 0 ]] || ! command -v apt-get >/dev/null; then
        say "cannot install ${missing[*]}: not root or no apt-get"
        return 1
    fi
    say "installing: ${missing[*]}"
    if ((APT_UPDATED == 0)); then
        apt-get update -qq >/dev/null 2>&1 || { say "apt-get update failed"; return 1; }
        APT_UPDATED=1
    fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" \
        >/dev/null 2>&1 || { say "apt-get install ${missing[*]} failed"; return 1; }
}

if ! command -v dpkg-query >/dev/null; then
    say "skipped: not a Debian system (dpkg-query missing)"
    exit 0
fi
if ! install_missing "${REQUIRED[@]}"; then
    say "skipped: the MinGW-w64 cross compiler, Wine or GoogleTest's sources could not be installed"
    exit 0
fi
HAVE_I686=1
install_missing "${OPTIONAL[@]}" || HAVE_I686=0

# Wine's loaders and server, by width: Debian keeps them in /usr/lib/wine.
wine_loader() { # arch
    local debian=/usr/lib/wine/wine64 command=wine64
    [[ $1 == i686 ]] && debian=/usr/lib/wine/wine command=
    if [[ -x $debian ]]; then say "$debian"; return; fi
    [[ -n $command ]] && command -v "$command" 2>/dev/null
}
wine_server() {
    local s
    for s in /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver "$(command -v wineserver)"; do
        [[ -n $s && -x $s ]] && { say "$s"; return; }
    done
}

# A prefix of our own; window creation without a display needs Wine's null graphics driver.
prepare_prefix() { # loader prefix
    local loader=$1 prefix=$2 server
    server=$(wine_server)
    export WINEPREFIX=$prefix WINEDEBUG=-all DISPLAY= WAYLAND_DISPLAY=
    if [[ ! -f $prefix/system.reg ]]; then
        "$loader" wineboot -i >/dev/null 2>&1 || return 1
    fi
    "$loader" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 || return 1
    # Processes started before the setting (the desktop) must not outlive it.
    "$server" -k >/dev/null 2>&1
    "$server" -w >/dev/null 2>&1
    return 0
}

stop_prefix() { # prefix
    local server
    server=$(wine_server)
    [[ -n $server ]] && WINEPREFIX=$1 "$server" -k >/dev/null 2>&1
}

FAILED=0
SUMMARY=()

. "$ROOT/tools/windows/toolkit.sh"
TOOLKIT=$(toolkit_find)

# Unpacks the toolkit into the build folder (again only when the archive changed); prints the
# CMake arguments that configure against it, nothing when there is none.
toolkit_args() { # build folder
    local prefix
    [[ -n $TOOLKIT ]] || return 0
    prefix=$(toolkit_unpack "$TOOLKIT" "$1/windows-toolkit") || return 1
    toolkit_check_manifest "$prefix" >&2
    say "-DCMAKE_TOOLCHAIN_FILE=$prefix/lib/cmake/Qt6/qt.toolchain.cmake"
    say "-DQT_CHAINLOAD_TOOLCHAIN_FILE=$ROOT/cmake/mingw-w64-$2.cmake"
    # No debug information: it would make the static programs ten times larger.
    say "-DCMAKE_BUILD_TYPE=Release"
}

# The installer under Wine: a silent install into Program Files with its Start-menu entries,
# the installed console still running after some seconds, then a silent uninstall that leaves
# nothing behind.
check_installer() { # build folder, loader
    local dir=$1 loader=$2 setup server drive folder menu rc
    setup=$(find "$dir" -maxdepth 1 -name 'ormelix-setup-*.exe' | head -n 1)
    if [[ -z $setup ]]; then
        SUMMARY+=("installer: FAILED: not built (is makensis there?)")
        FAILED=1
        return
    fi
    server=$(wine_server)
    drive=$WINEPREFIX/drive_c
    folder="$drive/Program Files/Ormelix"
    menu="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/Ormelix"
    local problems=()
    "$loader" "$setup" /S >/dev/null 2>&1 || problems+=("install exit $?")
    "$server" -w
    local expected=("$folder/ormelix.exe" "$folder/ormelix-demo.exe" "$folder/ormelix-cli.exe"
        "$folder/ormelix-replay.exe" "$folder/ormelix-hidlist.exe" "$folder/uninstall.exe"
        "$menu/Ormelix Console.lnk" "$menu/Ormelix Demo.lnk" "$menu/Ormelix Replay.lnk"
        "$menu/Ormelix Command Prompt.lnk")
    for f in "${expected[@]}"; do
        [[ -f $f ]] || problems+=("missing after install: ${f#"$drive"/}")
    done
    local key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Ormelix'
    "$loader" reg query "$key" /v UninstallString >/dev/null 2>&1 ||
        problems+=("missing after install: the uninstall registry key")
    if [[ -f $folder/ormelix.exe ]]; then
        # Still running after 15 s: it started and did not stop on an error.
        WINEQT_QPA_PLATFORM=offscreen WINEQT_QPA_FONTDIR='Z:\usr\share\wine\fonts' \
            timeout 15 "$loader" "$folder/ormelix.exe" >"$dir/check-installed.log" 2>&1
        rc=$?
        ((rc == 124)) || problems+=("the installed console ended with $rc within 15 s")
        "$server" -k >/dev/null 2>&1
        "$server" -w >/dev/null 2>&1
    fi
    [[ -f $folder/ormelix-cli.exe ]] && check_installed_tools "$dir" "$loader" "$folder"
    [[ -f $folder/ormelix-replay.exe ]] && check_installed_replay "$dir" "$loader" "$folder"
    # The uninstaller runs from a copy of itself and returns at once; wait for the copy.
    "$loader" "$folder/uninstall.exe" /S >/dev/null 2>&1 || problems+=("uninstall exit $?")
    "$server" -w
    [[ -e $folder ]] && problems+=("left after uninstall: $(find "$folder" | sed "s|^$drive/||" | tr '\n' ' ')")
    [[ -e $menu ]] && problems+=("left after uninstall: the Start-menu folder")
    "$loader" reg query "$key" >/dev/null 2>&1 &&
        problems+=("left after uninstall: the uninstall registry key")
    if ((${#problems[@]})); then
        SUMMARY+=("installer $(basename "$setup"): FAILED: ${problems[*]}")
        FAILED=1
    else
        SUMMARY+=("installer $(basename "$setup"): silent install, console starts, ormelix-replay opens a recording, ormelix-cli and ormelix-hidlist answer, silent uninstall leaves nothing")
    fi
}

# The installed command-line tools answer as on Linux: 20 whole rows of 250 fields that Python's
# csv module reads, a command sent, the record as JSON, the HID list. Adds to the caller's problems.
check_installed_tools() { # build folder, loader, install folder
    local dir=$1 loader=$2 folder=$3 csv=$1/check-installed.csv out
    rm -f "$csv"
    "$loader" "$folder/ormelix-cli.exe" record --demo --period 10 --count 20 \
        -o "Z:${csv//\//\\}" >"$dir/check-installed-cli.log" 2>&1 ||
        problems+=("installed ormelix-cli record exit $?")
    out=$(python3 -c 'import csv, sys
rows = list(csv.reader(open(sys.argv[1], newline="")))
bad = [len(r) for r in rows if len(r) != 250]
print("ok" if len(rows) == 21 and not bad else f"{len(rows)} rows, field counts {bad[:3]}")' "$csv" 2>&1)
    [[ $out == ok ]] || problems+=("installed ormelix-cli record: $out")
    "$loader" "$folder/ormelix-cli.exe" send --demo os1=1 >>"$dir/check-installed-cli.log" 2>&1 ||
        problems+=("installed ormelix-cli send exit $?")
    out=$("$loader" "$folder/ormelix-cli.exe" info --demo --json 2>>"$dir/check-installed-cli.log" |
        python3 -c 'import json, sys; print(json.load(sys.stdin)["scale"] > 0)' 2>&1)
    [[ $out == True ]] || problems+=("installed ormelix-cli info --json: $out")
    "$loader" "$folder/ormelix-hidlist.exe" >>"$dir/check-installed-cli.log" 2>&1 ||
        problems+=("installed ormelix-hidlist exit $?")
}

# The installed viewer started once on the recording the installed ormelix-cli made (or on
# nothing): still running after 15 s, and no complaint about the file on its error output.
check_installed_replay() { # build folder, loader, install folder
    local dir=$1 loader=$2 folder=$3 csv=$1/check-installed.csv server rc args=()
    server=$(wine_server)
    [[ -f $csv ]] && args=("Z:${csv//\//\\}")
    WINEQT_QPA_PLATFORM=offscreen WINEQT_QPA_FONTDIR='Z:\usr\share\wine\fonts' \
        timeout 15 "$loader" "$folder/ormelix-replay.exe" "${args[@]}" \
        >"$dir/check-installed-replay.log" 2>&1
    rc=$?
    ((rc == 124)) || problems+=("the installed ormelix-replay ended with $rc within 15 s")
    grep -q 'ormelix-replay:' "$dir/check-installed-replay.log" &&
        problems+=("the installed ormelix-replay: $(grep -m1 'ormelix-replay:' "$dir/check-installed-replay.log")")
    "$server" -k >/dev/null 2>&1
    "$server" -w >/dev/null 2>&1
}

check_arch() { # arch
    local arch=$1 dir=$ROOT/build/windows-$1 loader result
    mkdir -p "$dir"
    local toolchain=(--toolchain "$ROOT/cmake/mingw-w64-$arch.cmake")
    if [[ $arch == x86_64 ]]; then
        local args
        if ! args=$(toolkit_args "$dir" "$arch"); then
            SUMMARY+=("$arch: FAILED: the Windows toolkit could not be unpacked from $TOOLKIT")
            FAILED=1
            return
        fi
        if [[ -n $args ]]; then
            mapfile -t toolchain <<<"$args"
            install_missing nsis || SUMMARY+=("installer: nsis could not be installed")
            # Qt Test's headers, whose click and key helpers the widget tests use.
            install_missing qt6-base-dev ||
                SUMMARY+=("widgets: without Qt Test's headers only the number tests are built")
        else
            SUMMARY+=("console: skipped: no Windows toolkit (tools/windows/build-toolkit.sh makes one)")
        fi
    fi
    # A cache made with another toolchain (the toolkit came or went) cannot be reused.
    local wanted=${toolchain[1]}
    [[ ${toolchain[0]} == -D* ]] && wanted=${toolchain[0]#*=}
    if [[ -f $dir/CMakeCache.txt ]] &&
        [[ $(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=//p' "$dir/CMakeCache.txt") != "$wanted" ]]; then
        rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles"
    fi
    say "== $arch: configure and build in ${dir#"$ROOT"/}"
    if ! cmake -S "$ROOT/cmake/windows" --preset "windows-$arch" -B "$dir" "${toolchain[@]}" \
        >"$dir/check-configure.log" 2>&1; then
        tail -n 30 "$dir/check-configure.log"
        SUMMARY+=("$arch: configure FAILED (see ${dir#"$ROOT"/}/check-configure.log)")
        FAILED=1
        return
    fi
    if ! cmake --build "$dir" -j "$JOBS" >"$dir/check-build.log" 2>&1; then
        grep -E 'error|Error' "$dir/check-build.log" | head -n 30
        SUMMARY+=("$arch: build FAILED (see ${dir#"$ROOT"/}/check-build.log)")
        FAILED=1
        return
    fi
    loader=$(wine_loader "$arch")
    if [[ -z $loader ]]; then
        SUMMARY+=("$arch: build ok; tests not run: no $arch Wine (Debian's wine32 needs the i386 architecture)")
        return
    fi
    say "== $arch: tests under $("$loader" --version 2>/dev/null || say Wine)"
    if ! prepare_prefix "$loader" "$dir/wineprefix"; then
        SUMMARY+=("$arch: build ok; tests FAILED: the Wine prefix could not be set up")
        FAILED=1
        return
    fi
    ctest --test-dir "$dir" --output-on-failure --timeout 600 >"$dir/check-tests.log" 2>&1
    local rc=$?
    [[ -f $dir/app/ormelix.exe ]] && check_installer "$dir" "$loader"
    stop_prefix "$dir/wineprefix"
    grep -E '^ *[0-9]+/[0-9]+ Test' "$dir/check-tests.log"
    result=$(grep -E 'tests passed|No tests were found' "$dir/check-tests.log" | tail -n 1)
    if ((rc != 0)); then
        grep -E '\[  FAILED  \]|Failure' "$dir/check-tests.log" | head -n 30
        SUMMARY+=("$arch: build ok; tests FAILED: ${result:-ctest exit $rc} (see ${dir#"$ROOT"/}/check-tests.log)")
        FAILED=1
    else
        SUMMARY+=("$arch: build ok; tests: $result")
    fi
}

# The snapshot series as it happens for a user: series_place_check.exe (the console's own folder
# choice, one picture) run by an ordinary Unix user from a folder that user cannot write, in a
# Wine prefix of that user's own; the picture must land whole in that user's Pictures\Ormelix
# and nothing in the program folder. Needs root, for useradd and to step down to the user.
check_series_place() { # build folder
    local dir=$1 user=ormelixcheck loader server home prefix program out rc
    if [[ $(id -u) -ne 0 ]]; then
        SUMMARY+=("series place: skipped: not root (the check makes an ordinary user with useradd)")
        return
    fi
    if [[ ! -f $dir/series_place_check.exe ]]; then
        if [[ -f $TOOLKIT ]]; then
            SUMMARY+=("series place: FAILED: series_place_check.exe was not built")
            FAILED=1
        else
            SUMMARY+=("series place: skipped: the Windows toolkit is not there")
        fi
        return
    fi
    say "== series place: as the user $user under Wine"
    loader=$(wine_loader x86_64)
    server=$(wine_server)
    if ! id "$user" >/dev/null 2>&1 && ! useradd -m "$user" >/dev/null 2>&1; then
        SUMMARY+=("series place: FAILED: useradd $user")
        FAILED=1
        return
    fi
    home=$(getent passwd "$user" | cut -d: -f6)
    prefix=$home/wineprefix-check
    # The program folder: root's, readable by all, writable by root alone.
    program=$(mktemp -d /tmp/ormelix-program.XXXXXX)
    cp "$dir/series_place_check.exe" "$program/" && chmod 755 "$program" "$program/series_place_check.exe"
    series_user() {
        runuser -u "$user" -- env -i PATH=/usr/bin:/bin HOME="$home" USER="$user" LOGNAME="$user" \
            WINEPREFIX="$prefix" WINEDEBUG=-all DISPLAY= "$@"
    }
    [[ -f $prefix/system.reg ]] || series_user "$loader" wineboot -i >/dev/null 2>&1
    series_user "$loader" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    series_user "$server" -k >/dev/null 2>&1
    series_user "$server" -w >/dev/null 2>&1
    out=$(series_user WINEQT_QPA_FONTDIR='Z:\usr\share\wine\fonts' \
        timeout 120 "$loader" "$program/series_place_check.exe" 2>/dev/null | tr -d '\r')
    rc=$?
    printf '%s\n' "$out" >"$dir/check-series-place.log"
    local problems=() pictures picture unix first
    pictures=$(sed -n 's/^pictures folder: //p' <<<"$out")
    picture=$(sed -n 's/^picture: \(.*\) ([0-9]* bytes.*$/\1/p' <<<"$out")
    ((rc == 0)) || problems+=("series_place_check.exe exit $rc")
    if [[ -z $pictures || -z $picture ]]; then
        problems+=("no picture reported")
    else
        [[ ${picture,,} == "${pictures,,}\\ormelix\\"* ]] ||
            problems+=("the picture $picture is not under $pictures\\Ormelix")
        unix=$(series_user "$loader" winepath -u "$picture" 2>/dev/null | tr -d '\r')
        if [[ -z $unix || ! -f $unix ]]; then
            problems+=("the picture is not on the Unix side ($unix)")
        else
            first=$(head -c 2 "$unix" | od -An -tx1 | tr -d ' ')
            [[ $first == ffd8 ]] || problems+=("the picture is not a JPEG")
            [[ $(stat -c %U "$unix") == "$user" ]] || problems+=("the picture is not the user's")
            unix=$(readlink -f "$unix")
            printf 'unix: %s\n' "$unix" >>"$dir/check-series-place.log"
            # The series folder the check made; the user keeps nothing from it.
            rm -rf "$(dirname "$unix")"
        fi
    fi
    [[ $(find "$program" -mindepth 1 | wc -l) == 1 ]] || problems+=("files left in the program folder")
    series_user "$server" -k >/dev/null 2>&1
    rm -rf "$program"
    if ((${#problems[@]})); then
        SUMMARY+=("series place: FAILED: ${problems[*]} (see ${dir#"$ROOT"/}/check-series-place.log)")
        FAILED=1
    else
        SUMMARY+=("series place: user $user, program folder not writable: picture in ${unix/#$home/\~}")
    fi
}

check_arch x86_64
check_series_place "$ROOT/build/windows-x86_64"
if ((HAVE_I686)); then
    check_arch i686
else
    SUMMARY+=("i686: skipped: g++-mingw-w64-i686-posix could not be installed")
fi

say ""
say "== Windows check summary"
for line in "${SUMMARY[@]}"; do say "$line"; done
if ((FAILED)); then
    say "windows check: FAILED"
    exit 1
fi
say "windows check: passed"
exit 0
