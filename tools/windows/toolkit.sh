# Sourced by the Windows scripts: where the Windows toolkit (static Qt and libjpeg for MinGW-w64)
# is found, and whether it was made by this tree's recipe (tools/windows/build-toolkit.sh).
# Expects ROOT (the clone) to be set.

# Raised when the recipe changes what it builds, so that a cached toolkit of an older recipe is
# not taken for the new one.
TOOLKIT_RECIPE_VERSION=1
TOOLKIT_MANIFEST=ormelix-toolkit.manifest
# The tarball CI keeps beside the clone (made by an earlier recipe, without a manifest).
TOOLKIT_SHARED_NAME=qt6.4.2-libjpeg62-mingw-w64-x86_64-static.tar.xz

toolkit_name() {
    printf 'ormelix-windows-toolkit-%s-qt6.4.2-jpeg62-mingw-w64-x86_64\n' "$TOOLKIT_RECIPE_VERSION"
}

toolkit_cache_dir() {
    printf '%s/ormelix\n' "${XDG_CACHE_HOME:-$HOME/.cache}"
}

# The recipe is the script and the toolchain files it builds with.
toolkit_recipe_sha256() {
    cat "$ROOT/tools/windows/build-toolkit.sh" "$ROOT/cmake/mingw-w64-x86_64.cmake" \
        "$ROOT/cmake/mingw-w64-common.cmake" | sha256sum | cut -d ' ' -f 1
}

# Prints the toolkit to use, a tarball or an unpacked prefix, and where it was found; nothing when
# there is none. Order: ORMELIX_WINDOWS_TOOLKIT, ../shared/toolchains beside the clone, the cache.
toolkit_find() {
    local candidate
    if [[ -n ${ORMELIX_WINDOWS_TOOLKIT:-} ]]; then
        printf '%s\n' "$ORMELIX_WINDOWS_TOOLKIT"
        return
    fi
    candidate=$ROOT/../shared/toolchains/$TOOLKIT_SHARED_NAME
    if [[ -f $candidate ]]; then
        printf '%s\n' "$(cd "$(dirname "$candidate")" && pwd)/$TOOLKIT_SHARED_NAME"
        return
    fi
    candidate=$(toolkit_cache_dir)/$(toolkit_name).tar.xz
    [[ -f $candidate ]] && printf '%s\n' "$candidate"
    return 0
}

# Whether a toolkit is usable as given: a tarball, or a prefix with Qt's toolchain file.
toolkit_is_prefix() { [[ -d $1 && -f $1/lib/cmake/Qt6/qt.toolchain.cmake ]]; }

# Makes an unpacked prefix of the toolkit in the given folder (again only when the tarball
# changed) and prints the prefix; a prefix given as the toolkit is used where it is.
toolkit_unpack() { # toolkit folder
    local toolkit=$1 prefix=$2 stamp
    if toolkit_is_prefix "$toolkit"; then
        printf '%s\n' "$(cd "$toolkit" && pwd)"
        return
    fi
    [[ -f $toolkit ]] || { printf 'no toolkit at %s\n' "$toolkit" >&2; return 1; }
    stamp="$(realpath "$toolkit") $(stat -c '%s %Y' "$toolkit")"
    if [[ ! -f $prefix/.unpacked || $(cat "$prefix/.unpacked") != "$stamp" ]]; then
        rm -rf "$prefix" && mkdir -p "$prefix"
        tar -C "$prefix" -xJf "$toolkit" || return 1
        printf '%s\n' "$stamp" >"$prefix/.unpacked"
    fi
    printf '%s\n' "$prefix"
}

# A line saying whether the unpacked toolkit was made by this tree's recipe; non-zero when not.
toolkit_check_manifest() { # prefix
    local manifest=$1/$TOOLKIT_MANIFEST made
    if [[ ! -f $manifest ]]; then
        printf 'warning: the toolkit has no manifest: it was not made by tools/windows/build-toolkit.sh\n'
        return 1
    fi
    made=$(sed -n 's/^recipe-sha256: //p' "$manifest")
    if [[ $made != "$(toolkit_recipe_sha256)" ]]; then
        printf 'warning: the toolkit was made by another version of the recipe (%s, now %s): rebuild it with tools/windows/build-toolkit.sh\n' \
            "${made:0:12}" "$(toolkit_recipe_sha256 | cut -c 1-12)"
        return 1
    fi
    printf 'toolkit made by this recipe (%s)\n' "$(sed -n 's/^toolkit: //p' "$manifest")"
}
