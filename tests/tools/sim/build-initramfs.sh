#!/usr/bin/env bash
# Builds the initramfs of the system test's virtual machine: busybox, the kernel modules of the
# USB/IP host controller and of USB HID, systemd-udevd, Qt's offscreen platform plugin, the
# programs given on the command line with every shared library they need (a Python interpreter
# with the start of its library), and the init script.
#
#   build-initramfs.sh OUTPUT KERNEL_VERSION INIT_SCRIPT [PROGRAM...]
#
# The programs land in /bin of the image under their own names, without debug information.
set -euo pipefail

if [ $# -lt 3 ]; then
    echo "usage: $0 OUTPUT KERNEL_VERSION INIT_SCRIPT [PROGRAM...]" >&2
    exit 2
fi
output=$1
kver=$2
init=$3
shift 3

moddir=/lib/modules/$kver
modules=(usb-common usbcore hid hid-generic usbhid usbip-core vhci-hcd)
qt_plugins=/usr/lib/x86_64-linux-gnu/qt6/plugins
busybox=$(command -v busybox)
udevadm=$(command -v udevadm || echo /bin/udevadm)

root=$(mktemp -d "${TMPDIR:-/tmp}/ormelix-initramfs.XXXXXX")
trap 'rm -rf "$root"' EXIT
chmod 755 "$root" # the root of the machine: other users must get through it

mkdir -p "$root"/{bin,sbin,dev,proc,sys,run,tmp,etc,lib/modules,lib64,usr/lib}
mkdir -p "$root/lib/systemd" "$root/etc/udev/rules.d"

# A file at the same path inside the image, symbolic links followed.
copy_file() {
    local src=$1 dst=${2:-$1}
    [ -e "$root$dst" ] && return 0
    mkdir -p "$root$(dirname "$dst")"
    cp -L "$src" "$root$dst"
}

# The shared libraries a program or library loads, and the dynamic loader.
copy_libraries() {
    local lib
    while read -r lib; do
        [ -n "$lib" ] && copy_file "$lib"
    done < <(ldd "$1" 2>/dev/null | awk '/=> \// { print $3 } /^[[:space:]]*\/[^ ]*ld-linux/ { print $1 }')
}

copy_program() {
    local src=$1 dst=$2
    mkdir -p "$root$(dirname "$dst")"
    cp -L "$src" "$root$dst"
    strip --strip-debug "$root$dst" 2>/dev/null || true
    copy_libraries "$src"
}

copy_file "$busybox" /bin/busybox
copy_program "$udevadm" /bin/udevadm
ln -sf /bin/udevadm "$root/lib/systemd/systemd-udevd"

# Opened at run time by the HID layer, so ldd of the programs does not name it.
for lib in /lib/x86_64-linux-gnu/libudev.so.1 /usr/lib/x86_64-linux-gnu/libudev.so.1; do
    if [ -e "$lib" ]; then
        copy_file "$lib" /lib/x86_64-linux-gnu/libudev.so.1
        copy_libraries "$lib"
        break
    fi
done

for program in "$@"; do
    copy_program "$program" "/bin/$(basename "$program")"
done

# A Python interpreter gets the little of its library that starting needs (the encodings; os.py
# marks the folder) where Debian's Python looks for it, /usr/lib/pythonX.Y. Modules given beside
# it land in /bin, its PYTHONPATH there.
for program in "$@"; do
    python=$(readlink -f "$program")
    case "$(basename "$python")" in
    python3.*)
        version=$(basename "$python")
        mkdir -p "$root/usr/lib/$version/lib-dynload"
        cp -r "/usr/lib/$version/encodings" "$root/usr/lib/$version/"
        cp "/usr/lib/$version/os.py" "$root/usr/lib/$version/"
        ;;
    esac
done

if [ -e "$qt_plugins/platforms/libqoffscreen.so" ]; then
    copy_program "$qt_plugins/platforms/libqoffscreen.so" "$qt_plugins/platforms/libqoffscreen.so"
fi

# Modules in dependency order, from modules.dep; compressed ones are unpacked here, since
# busybox insmod may not read them.
declare -A seen=()
order=()
module_path() {
    local name=$1 line
    line=$(grep -E "(^|/)(${name//-/[-_]})\.ko(\.xz|\.zst|\.gz)?:" "$moddir/modules.dep" | head -n1)
    [ -n "$line" ] || { echo "module $name not found in $moddir/modules.dep" >&2; exit 1; }
    echo "${line%%:*}"
}
add_module() {
    local rel=$1 line dep
    [ -n "${seen[$rel]:-}" ] && return 0
    seen[$rel]=1
    line=$(grep -E "^${rel//./\\.}:" "$moddir/modules.dep")
    for dep in ${line#*:}; do add_module "$dep"; done
    order+=("$rel")
}
for m in "${modules[@]}"; do add_module "$(module_path "$m")"; done

: >"$root/lib/modules/load-order"
for rel in "${order[@]}"; do
    base=$(basename "$rel")
    case "$base" in
    *.ko.xz) xz -dc "$moddir/$rel" >"$root/lib/modules/${base%.xz}"; base=${base%.xz} ;;
    *.ko.zst) zstd -qdc "$moddir/$rel" >"$root/lib/modules/${base%.zst}"; base=${base%.zst} ;;
    *.ko.gz) gzip -dc "$moddir/$rel" >"$root/lib/modules/${base%.gz}"; base=${base%.gz} ;;
    *) cp "$moddir/$rel" "$root/lib/modules/$base" ;;
    esac
    echo "$base" >>"$root/lib/modules/load-order"
done

# udevd and Qt look these up; a root-only system needs no more.
echo 'root:x:0:0:root:/root:/bin/sh' >"$root/etc/passwd"
echo 'root:x:0:' >"$root/etc/group"
cp "$init" "$root/init"
chmod 755 "$root/init"

(cd "$root" && find . -print0 | cpio --null -o -H newc --quiet) >"$output"
