#!/usr/bin/env bash
# A new user's path on a fresh Debian 12, in a debootstrap chroot (as root; needs debootstrap and
# the Debian archive): the README's package commands build and install the console and the
# Python module, ormelix-hidlist runs, `import ormelix` reads the demo instrument, the console
# keeps running offscreen as an ordinary user, and apt-get purge removes it all. Then the
# maintainer scripts where udev runs, with a stand-in udevadm that logs its calls.
#   tools/chroot-check.sh [folder]      (default /tmp/ormelix-chroot, removed at the end)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
root=${1:-/tmp/ormelix-chroot}
mirror=${ORMELIX_DEBIAN_MIRROR:-http://deb.debian.org/debian}
t0=$(date +%s)
step() { echo "chroot-check: $* ($(($(date +%s) - t0)) s)"; }

[ -e "$root" ] && { echo "chroot-check: $root exists; give another folder" >&2; exit 2; }
cleanup() {
    mountpoint -q "$root/proc" && umount "$root/proc"
    rm -rf "$root"
}
trap cleanup EXIT

debootstrap --variant=minbase bookworm "$root" "$mirror" >/dev/null
cp /etc/resolv.conf "$root/etc/resolv.conf"
mount -t proc proc "$root/proc"
mkdir -p "$root/root/ormelix"
git -C "$here" ls-files -z | (cd "$here" && tar --null -T - -cf -) | tar -xf - -C "$root/root/ormelix"
step "fresh Debian 12"

# The script runs inside the chroot; nothing in it is expanded here.
# shellcheck disable=SC2016
chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
    DEBIAN_FRONTEND=noninteractive /bin/bash -euo pipefail -c '
cd /root/ormelix
bash tools/build-deb.sh
apt-get install -y -qq ./build-deb/ormelix_*.deb ./build-deb/python3-ormelix_*.deb >/dev/null
ormelix-hidlist
(cd / && python3 -c "import ormelix; ormelix.Instrument(demo=True).fetch()")
useradd --create-home tester
status=0
runuser -u tester -- env -i HOME=/home/tester PATH=/usr/bin:/bin QT_QPA_PLATFORM=offscreen \
    timeout 5 ormelix || status=$?
[ "$status" -eq 124 ] || { echo "the console ended with $status within 5 s" >&2; exit 1; }
apt-get purge -y -qq ormelix python3-ormelix >/dev/null
left=$(ls -d /usr/bin/ormelix* /usr/lib/udev/rules.d/70-ormelix.rules /usr/share/doc/ormelix \
    /usr/lib/python3/dist-packages/ormelix* /usr/share/doc/python3-ormelix \
    /usr/share/applications/ormelix.desktop /usr/share/man/man1/ormelix* 2>/dev/null || true)
[ -z "$left" ] || { echo "left after purge: $left" >&2; exit 1; }

# Where udev runs: its control socket, and udevadm in /usr/bin where apt gives dpkg its PATH.
mkdir -p /run/udev
perl -MIO::Socket::UNIX -e "IO::Socket::UNIX->new(Type => SOCK_STREAM(), Local => q(/run/udev/control), Listen => 1) or die"
printf "#!/bin/sh\necho \"\$*\" >> /tmp/udevadm.log\n" > /usr/bin/udevadm
chmod +x /usr/bin/udevadm
expected="control --reload-rules
trigger --subsystem-match=hidraw --action=change"
apt-get install -y -qq ./build-deb/ormelix_*.deb >/dev/null
[ "$(cat /tmp/udevadm.log)" = "$expected" ] || { echo "install: udevadm got: $(cat /tmp/udevadm.log)" >&2; exit 1; }
rm /tmp/udevadm.log
apt-get purge -y -qq ormelix >/dev/null
[ "$(cat /tmp/udevadm.log)" = "$expected" ] || { echo "purge: udevadm got: $(cat /tmp/udevadm.log)" >&2; exit 1; }
'
step "package built, installed, run and purged; udev told at install and removal"
