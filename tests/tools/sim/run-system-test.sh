#!/usr/bin/env bash
# The system test: boots Debian's kernel under QEMU (TCG) with an initramfs of the simulator and
# the check programs, and reads the CHECK lines that vm-init.sh prints on the serial console.
#
#   run-system-test.sh WORK_DIR ORMELIX_SIM VM_HID_CHECK VM_CONSOLE_CHECK VM_CONTRACT_CHECK
#                      [ORMELIX_HIDLIST [ORMELIX_CLI VM_CLI_CHECK [PYTHON MODULE VM_PYTHON_CHECK]]]
#
# Exit status 0 when every check passed, 1 on any failure, missing check or time-out, and 77
# (skipped) when this machine lacks QEMU, a kernel with its modules, busybox, cpio or udev.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [ $# -lt 5 ]; then
    echo "usage: $0 WORK_DIR ORMELIX_SIM VM_HID_CHECK VM_CONSOLE_CHECK VM_CONTRACT_CHECK [ORMELIX_HIDLIST [ORMELIX_CLI VM_CLI_CHECK [PYTHON MODULE VM_PYTHON_CHECK]]]" >&2
    exit 2
fi
work=$1
programs=("$2" "$3" "$4" "$5")
# Optional programs (an empty argument stands for one not built).
for p in "${@:6}"; do
    [ -n "$p" ] && [ -x "$p" ] && programs+=("$p")
done
timeout_s=${ORMELIX_VM_TIMEOUT:-240}

skip() {
    echo "SKIP: $*"
    exit 77
}
command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86_64 is not installed (Debian: qemu-system-x86)"
command -v busybox >/dev/null || skip "busybox is not installed (Debian: busybox-static)"
command -v cpio >/dev/null || skip "cpio is not installed"
command -v udevadm >/dev/null || skip "udevadm is not installed (Debian: udev)"

# The newest kernel image that has its modules beside it.
kernel=""
kver=""
for image in $(ls /boot/vmlinuz-* 2>/dev/null | sort -rV); do
    v=${image#/boot/vmlinuz-}
    if [ -r "$image" ] && [ -r "/lib/modules/$v/modules.dep" ]; then
        kernel=$image
        kver=$v
        break
    fi
done
[ -n "$kernel" ] || skip "no readable /boot/vmlinuz-* with its /lib/modules (Debian: linux-image-amd64)"

mkdir -p "$work"
initramfs="$work/initramfs.cpio"
log="$work/console.log"
start=$(date +%s)
if ! bash "$here/build-initramfs.sh" "$initramfs" "$kver" "$here/vm-init.sh" "${programs[@]}"; then
    echo "FAIL: the initramfs could not be built"
    exit 1
fi

echo "booting $kernel under QEMU (TCG), at most ${timeout_s} s"
timeout --kill-after=10 "$timeout_s" qemu-system-x86_64 -accel tcg -m 512 -smp 1 -nographic \
    -no-reboot -nic none -kernel "$kernel" -initrd "$initramfs" \
    -append "console=ttyS0 rdinit=/init panic=-1 quiet" </dev/null >"$log" 2>&1
qemu_status=$?
# Serial output: CR LF line ends, and terminal escapes before the first line of the init.
tr -d '\r' <"$log" | sed 's/.*\(CHECK [a-z-]* \)/\1/; s/.*\(ORMELIX-VM-DONE\)/\1/' >"$log.txt"
echo "the virtual machine ran $(($(date +%s) - start)) s (QEMU exit status $qemu_status)"

expected=(vhci-loaded sim-attach hidlist sim-not-root sim-detach
          hid-arrival hid-identity hid-get-feature hid-set-feature hid-removal hid-rearrival
          contract
          console-connect console-tick console-command console-unplug console-replug
          cli-record cli-send python-fetch python-send sim-not-loaded)
# Only these may be skipped: tools that may not be built yet.
may_skip=" hidlist cli-record cli-send python-fetch python-send "

grep '^CHECK ' "$log.txt"
failed=0
for name in "${expected[@]}"; do
    line=$(grep -m1 "^CHECK $name " "$log.txt")
    case "$line" in
    "CHECK $name ok") ;;
    "CHECK $name skipped"*)
        [[ $may_skip == *" $name "* ]] || { echo "FAIL: $name may not be skipped"; failed=1; } ;;
    "")
        echo "FAIL: check $name did not report"
        failed=1 ;;
    *) failed=1 ;;
    esac
done
if grep -q '^CHECK .* FAIL' "$log.txt"; then failed=1; fi
if ! grep -q '^ORMELIX-VM-DONE' "$log.txt"; then
    [ $qemu_status -eq 124 ] && echo "FAIL: timed out after ${timeout_s} s" ||
        echo "FAIL: the virtual machine did not finish its checks"
    failed=1
fi
if [ $failed -ne 0 ]; then
    echo "--- serial console (last 80 lines; whole log in $log.txt) ---"
    tail -n 80 "$log.txt"
    exit 1
fi
echo "all ${#expected[@]} checks passed"
