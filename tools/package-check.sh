#!/usr/bin/env bash
# The path a user takes, checked end to end (CI runs it; root on a throw-away machine, since it
# installs and purges the package system-wide):
#   - a Release build with warnings as errors of the console, the tools and the app tests, which
#     then run;
#   - the Debian package made from that same build folder, checked by lintian (no errors);
#   - installed with apt-get: ormelix-hidlist runs, the console keeps running offscreen as an
#     ordinary user, the udev rule and desktop entry are where udev and desktops look;
#   - python3-ormelix beside it: lintian, installed, `import ormelix` in Debian's Python reads the
#     demo instrument;
#   - purged with apt-get: nothing of it is left under /usr.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${ORMELIX_PKG_BUILD_DIR:-$here/build-package}
export DEBIAN_FRONTEND=noninteractive
t0=$(date +%s)
step() { echo "package-check: $* ($(($(date +%s) - t0)) s)"; }

if [ "$(id -u)" -ne 0 ]; then
    echo "package-check: needs root (it installs and purges the package)" >&2
    exit 2
fi
. "$here/tools/install-missing.sh"
install_missing "${PACKAGES_BUILD[@]}" "${PACKAGES_TEST[@]}" "${PACKAGES_PYTHON[@]}" "${PACKAGES_DEB[@]}" lintian \
    desktop-file-utils locales

cmake -S "$here" --preset package-check -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)" --target ormelix ormelix-cli ormelix-demo ormelix-hidlist ormelix-sim ormelix-replay \
    ormelix_dist ormelix_module app_tests
step "Release build"
QT_QPA_PLATFORM=offscreen "$build/tests/app/app_tests" --gtest_brief=1
step "app tests (Release)"

rm -f "$build"/ormelix_*.deb "$build"/python3-ormelix_*.deb
# Packs what is built: with the install step not depending on "all" (configured above), cpack does
# not build every test first.
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/ormelix_*_amd64.deb)
pydeb=$(ls "$build"/python3-ormelix_*_amd64.deb)
lintian --allow-root --fail-on error --tag-display-limit 0 "$deb" "$pydeb"
step "packages $(basename "$deb") $(basename "$pydeb"), lintian"

# Which of the packages' paths exist before they are installed: those may stay after the purge.
mapfile -t paths < <(for d in "$deb" "$pydeb"; do dpkg-deb -c "$d"; done | awk '{print $6}' |
    sed 's|^\./|/|; s|/$||' | grep -v '^\.\?$')
preexisting=()
for p in "${paths[@]}"; do [ -e "$p" ] && preexisting+=("$p"); done
apt-get install -y -qq "$deb" "$pydeb" >/dev/null

# Debian's own Python, from outside the source tree.
(cd / && /usr/bin/python3 -c "import ormelix; assert ormelix.instruments(demo=True)[0].serial == 'ORX-0001'")

ormelix-hidlist
csv=$(mktemp -d)
ormelix-cli record --demo --count 3 --period 10 -o "$csv/demo.csv" 2>/dev/null
test "$(wc -l <"$csv/demo.csv")" -eq 4
rm -rf "$csv"
test -f /usr/lib/udev/rules.d/70-ormelix.rules
desktop-file-validate /usr/share/applications/ormelix.desktop
desktop-file-validate /usr/share/applications/ormelix-replay.desktop
test -f /usr/share/icons/hicolor/scalable/apps/ormelix.svg
for page in ormelix ormelix-cli ormelix-demo ormelix-hidlist ormelix-replay ormelix-sim; do man -w "$page" >/dev/null; done

user=ormelix-ci
created_user=""
if ! id "$user" >/dev/null 2>&1; then
    useradd --create-home --shell /bin/sh "$user"
    created_user=1
fi
status=0
runuser -u "$user" -- env -i HOME="/home/$user" PATH=/usr/bin:/bin QT_QPA_PLATFORM=offscreen \
    timeout 5 ormelix || status=$?
[ -n "$created_user" ] && userdel --remove "$user" 2>/dev/null
if [ "$status" -ne 124 ]; then
    echo "package-check: the installed console ended with $status within 5 s" >&2
    exit 1
fi
step "installed: hidlist, cli, import ormelix, udev rule, desktop entry, manual pages, console runs"

apt-get purge -y -qq ormelix python3-ormelix >/dev/null
left=()
for p in "${paths[@]}"; do
    case " ${preexisting[*]} " in *" $p "*) continue ;; esac
    [ -e "$p" ] || [ -L "$p" ] && left+=("$p")
done
if [ ${#left[@]} -gt 0 ]; then
    echo "package-check: left behind after purge: ${left[*]}" >&2
    exit 1
fi
step "purged, nothing left"
