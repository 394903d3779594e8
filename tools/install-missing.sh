# Sourced by the build scripts: the Debian packages they need, named once, and
# install_missing PACKAGE..., which installs with apt-get only those of the named packages that
# are not installed yet (through sudo when not root).

# What every build of the tree needs.
PACKAGES_BUILD=(build-essential cmake ninja-build pkg-config qt6-base-dev libjpeg62-turbo-dev)
# The test suites' frameworks.
PACKAGES_TEST=(libgtest-dev libgmock-dev)
# The Python module and its tests.
PACKAGES_PYTHON=(python3-dev pybind11-dev python3-numpy python3-pytest)
# Making a Debian package.
PACKAGES_DEB=(dpkg-dev file)
install_missing() {
    local missing=() p sudo=""
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -gt 0 ] || return 0
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}
