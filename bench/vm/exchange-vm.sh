#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# One status exchange on the same virtual bridge, over the USB gadget path
# (dummy_hcd, usbhid) and over uhid: this library against hidapi's hidraw and
# libusb backends; then a 4 KiB EEPROM write and read-back with either pacing.
# Runs inside the VM (one boot), from the build tree:
#
#   tests/e2e/vm-run.sh --modules "uhid hid-generic usbhid libcomposite usb_f_hid" \
#       --timeout 600 -- bash bench/vm/exchange-vm.sh build/ci [COUNT [BASELINE]]
#
# Each way runs COUNT (default 300) exchanges per round, five rounds. With
# BASELINE, the build tree of an earlier version, its library and backend
# ("ours-base", "backend-base") take turns with this one's in every round.
set -uo pipefail
build=$1 count=${2:-300} baseline=${3:-}
bridge=$build/tools/virtual-bridge/corvane-virtual-bridge
tool=$build/tools/corvane
hidraw=$build/bench/corvane_vm_exchange_hidraw
libusb=$build/bench/corvane_vm_exchange_libusb
work=$(mktemp -d)
ms() { echo $((${EPOCHREALTIME/./} / 1000)); }
wait_ready() { for _ in $(seq 200); do grep -qx ready "$1" && return 0; sleep 0.1; done; return 1; }

mount -t configfs none /sys/kernel/config 2>/dev/null
modprobe dummy_hcd || { echo "BENCH FAIL dummy_hcd"; exit 1; }

echo "BENCH machine: $(nproc) vCPU qemu $(uname -r); $count exchanges each"
# ---- USB gadget on dummy_hcd -------------------------------------------------------
"$bridge" --usb-gadget --sim-state "$work/state.json" >"$work/gadget.out" 2>"$work/gadget.err" &
pid=$!
wait_ready "$work/gadget.out" || { echo "BENCH FAIL gadget"; cat "$work/gadget.err"; exit 1; }
sleep 0.5
# Rounds interleave the ways, so that a busy host slows them alike.
exchange_rounds() {
    for round in 1 2 3 4 5; do
        for way in ours ours-base backend backend-base hidapi bare; do
            local program=$hidraw
            if [[ $way == *-base ]]; then
                [[ -n $baseline ]] || continue
                program=$baseline/bench/corvane_vm_exchange_hidraw
            fi
            echo "BENCH $1 round $round $("$program" ${way%-base} 3a7c 01d5 "$count" 2>&1 |
                sed "s/^${way%-base} /$way /")"
        done
    done
}
exchange_rounds gadget
# hidapi-libusb detaches usbhid for the time it holds the device.
echo "BENCH gadget libusb-backend $("$libusb" hidapi 3a7c 01d5 "$count" 2>&1)"
# usbhid takes the interface back when hidapi lets go of it.
for _ in $(seq 100); do ls /sys/class/hidraw/hidraw* >/dev/null 2>&1 && break; sleep 0.1; done
ls /sys/class/hidraw >/dev/null 2>&1 || echo "BENCH note: hidraw node did not come back"
sleep 0.5
head -c 4096 /dev/urandom >"$work/data"
for pacing in fixed bus-time; do
    start=$(ms)
    "$tool" --pacing $pacing eeprom write 0x50 -i "$work/data" >/dev/null &&
        "$tool" --pacing $pacing eeprom read 0x50 4096 -o "$work/back" >/dev/null &&
        cmp "$work/data" "$work/back" && result=ok || result=FAILED
    echo "BENCH gadget eeprom_4k_write_read_back pacing=$pacing ms=$(($(ms) - start)) $result"
    for speed in 100000 400000; do
        start=$(ms)
        "$tool" --pacing $pacing --speed $speed read 0x50 4096 >/dev/null || result=FAILED
        echo "BENCH gadget read_4k speed=$speed pacing=$pacing ms=$(($(ms) - start))"
    done
done
kill -TERM $pid
wait $pid

# ---- uhid ----------------------------------------------------------------------------
"$bridge" --uhid --sim-state "$work/state.json" >"$work/uhid.out" 2>"$work/uhid.err" &
pid=$!
wait_ready "$work/uhid.out" || { echo "BENCH FAIL uhid"; cat "$work/uhid.err"; exit 1; }
sleep 0.5
exchange_rounds uhid
echo "BENCH uhid libusb-backend: not reachable (a uhid device is no USB device)"
kill -TERM $pid
wait $pid
rm -rf "$work"
