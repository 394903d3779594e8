#!/usr/bin/env bash
# Build the Debian package from this tree, on Debian 12 as root or with sudo:
#   bash tools/build-deb.sh        gives build-deb/ormelix_<version>_amd64.deb and the Python
#                                  module's build-deb/python3-ormelix_<version>_amd64.deb
# Installs the missing build dependencies with apt-get first. A Release build without tests;
# extra arguments go to cmake's configure step.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${ORMELIX_DEB_BUILD_DIR:-$here/build-deb}

# dpkg-dev and file: CPack finds the shared libraries the programs need with them.
. "$here/tools/install-missing.sh"
install_missing "${PACKAGES_BUILD[@]}" "${PACKAGES_PYTHON[@]}" "${PACKAGES_DEB[@]}"

cmake -S "$here" --preset release -B "$build" "$@" >/dev/null
cmake --build "$build"
rm -f "$build"/ormelix_*.deb "$build"/python3-ormelix_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/ormelix_*.deb "$build"/python3-ormelix_*.deb
