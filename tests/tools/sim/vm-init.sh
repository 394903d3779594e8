#!/bin/busybox sh
# /init of the system test's virtual machine: loads the USB/IP host controller and USB HID,
# starts udevd, then runs every check and prints "CHECK <name> ok|FAIL: ...|skipped: ..." on the
# serial console, which the host reads. Powers off at the end.
/bin/busybox --install -s /bin
export PATH=/bin:/sbin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /run
mount -t tmpfs tmpfs /tmp
# Kernel messages would break the CHECK lines apart; they are printed at the end on failure.
echo 1 >/proc/sys/kernel/printk

export LD_LIBRARY_PATH=/lib/x86_64-linux-gnu:/usr/lib/x86_64-linux-gnu
export QT_QPA_PLATFORM=offscreen
export QT_PLUGIN_PATH=/usr/lib/x86_64-linux-gnu/qt6/plugins
export XDG_RUNTIME_DIR=/tmp/runtime
mkdir -p -m 700 "$XDG_RUNTIME_DIR"

failed=0
check() { # name ok|FAIL|skipped [why]
    if [ "$2" = ok ]; then
        echo "CHECK $1 ok"
    elif [ "$2" = skipped ]; then
        echo "CHECK $1 skipped: $3"
    else
        echo "CHECK $1 FAIL: $3"
        failed=1
    fi
}

# Waits up to $1 tenths of a second for the command in the remaining arguments to succeed.
wait_until() {
    n=$1
    shift
    while [ "$n" -gt 0 ]; do
        "$@" && return 0
        usleep 100000
        n=$((n - 1))
    done
    return 1
}

modules_ok=ok
while read -r m; do
    insmod "/lib/modules/$m" || modules_ok="insmod $m failed"
done </lib/modules/load-order
vhci=/sys/devices/platform/vhci_hcd.0
if [ "$modules_ok" = ok ] && [ -d "$vhci" ]; then
    check vhci-loaded ok
else
    check vhci-loaded FAIL "$modules_ok; $vhci missing"
fi

mkdir -p /run/udev
/lib/systemd/systemd-udevd --daemon
udevadm trigger --action=add >/dev/null 2>&1
udevadm settle --timeout=10

# The hidraw node whose USB device says it is the instrument, or nothing.
instrument_node() {
    for h in /sys/class/hidraw/hidraw*; do
        [ -e "$h" ] || continue
        usb="$h/device/../.."
        if [ "$(cat "$usb/product" 2>/dev/null)" = Ormelix ] &&
            [ "$(cat "$usb/manufacturer" 2>/dev/null)" = Bramlo-kt ]; then
            echo "${h##*/}"
            return 0
        fi
    done
    return 1
}
have_instrument() { instrument_node >/dev/null; }
no_instrument() { ! instrument_node >/dev/null; }
all_ports_free() { ! grep -q '^hs  [0-9]* 00[5-7]' "$vhci/status"; }

# --- the ormelix-sim program -------------------------------------------------------------------
ormelix-sim >/tmp/sim.out 2>/tmp/sim.err &
sim=$!
if wait_until 150 have_instrument; then
    node=$(instrument_node)
    usb="/sys/class/hidraw/$node/device/../.."
    ids="$(cat "$usb/idVendor"):$(cat "$usb/idProduct"):$(cat "$usb/bcdDevice"):$(cat "$usb/speed")"
    udevadm settle --timeout=10
    if [ "$ids" != "16c0:05df:0100:12" ]; then
        check sim-attach FAIL "vendor:product:version:speed $ids"
    elif [ ! -c "/dev/$node" ]; then
        check sim-attach FAIL "/dev/$node missing"
    elif ! grep -q 'attached to vhci-hcd port' /tmp/sim.out; then
        check sim-attach FAIL "no attach message: $(cat /tmp/sim.out /tmp/sim.err)"
    else
        check sim-attach ok
    fi
else
    check sim-attach FAIL "no hidraw node of the instrument within 15 s: $(cat /tmp/sim.err)"
fi

if command -v ormelix-hidlist >/dev/null; then
    ormelix-hidlist >/tmp/hidlist.out 2>&1
    line=$(grep -i '16c0' /tmp/hidlist.out | grep -i '05df' | grep 'read-write' |
        grep 'Bramlo-kt' | grep 'Ormelix')
    if [ -n "$line" ]; then
        check hidlist ok
    else
        check hidlist FAIL "no read-write row of the instrument: $(cat /tmp/hidlist.out)"
    fi
else
    check hidlist skipped "ormelix-hidlist is not built"
fi

# A second simulator run by another user is refused before it touches the controller.
echo 'nobody:x:65534:65534:nobody:/:/bin/sh' >>/etc/passwd
echo 'nogroup:x:65534:' >>/etc/group
out=$(su -s /bin/sh nobody -c 'LD_LIBRARY_PATH=/lib/x86_64-linux-gnu ormelix-sim' 2>&1)
status=$?
if [ $status -eq 1 ] && [ "$out" = "ormelix-sim: attaching a device to vhci-hcd needs root: run ormelix-sim with sudo" ]; then
    check sim-not-root ok
else
    check sim-not-root FAIL "status $status, said: $out"
fi

kill -INT "$sim"
wait "$sim"
status=$?
if [ $status -ne 0 ]; then
    check sim-detach FAIL "exit status $status: $(cat /tmp/sim.err)"
elif ! wait_until 100 no_instrument; then
    check sim-detach FAIL "the hidraw node of the instrument is still there"
elif ! all_ports_free; then
    check sim-detach FAIL "a vhci-hcd port is still in use: $(cat "$vhci/status")"
elif ! grep -q detached /tmp/sim.out; then
    check sim-detach FAIL "no detach message: $(cat /tmp/sim.out)"
else
    check sim-detach ok
fi
udevadm settle --timeout=10

# --- the HID layer and the console, each with the simulator in-process -----------------------
vm_hid_check || failed=1
udevadm settle --timeout=10
# The platform contract's cases, on the kernel's hidraw; the test program's output stays in /tmp.
vm_contract_check >/tmp/contract.out 2>&1
status=$?
grep '^CHECK \|^contract: ' /tmp/contract.out
if [ $status -ne 0 ]; then
    failed=1
    grep -B2 -A8 'Failure' /tmp/contract.out | head -n 60
fi
grep -q '^CHECK contract ' /tmp/contract.out || check contract FAIL "exit status $status, no summary"
udevadm settle --timeout=10
vm_console_check 2>/tmp/console.err || { failed=1; tail -5 /tmp/console.err; }
udevadm settle --timeout=10
if command -v ormelix-cli >/dev/null && command -v vm_cli_check >/dev/null; then
    vm_cli_check "$(command -v ormelix-cli)" || failed=1
    udevadm settle --timeout=10
else
    check cli-record skipped "ormelix-cli is not built"
    check cli-send skipped "ormelix-cli is not built"
fi
python=$(ls /bin/python3* 2>/dev/null | head -n1)
if [ -n "$python" ] && command -v vm_python_check >/dev/null && ls /bin/ormelix.*.so >/dev/null 2>&1; then
    vm_python_check "$python" /bin || failed=1
    udevadm settle --timeout=10
else
    check python-fetch skipped "the Python module is not built"
    check python-send skipped "the Python module is not built"
fi

# --- without the controller --------------------------------------------------------------------
rmmod vhci-hcd
out=$(ormelix-sim 2>&1)
status=$?
if [ $status -eq 1 ] && [ "$out" = "ormelix-sim: vhci-hcd is not loaded: run 'modprobe vhci-hcd' first" ]; then
    check sim-not-loaded ok
else
    check sim-not-loaded FAIL "status $status, said: $out"
fi

if [ $failed -ne 0 ]; then
    echo "--- kernel log ---"
    dmesg | tail -n 60
fi
echo "ORMELIX-VM-DONE"
poweroff -f
