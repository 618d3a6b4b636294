#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The USB end-to-end checks, run inside the VM by vm-run.sh (see README.md):
# corvane-virtual-bridge serves virtual chips as USB gadgets on dummy_hcd, which
# the kernel's USB core and usbhid enumerate like plugged-in bridges; the
# corvane tool drives them. Then USB/IP over loopback, the uhid mode (where the
# tool meets a node it may not open and a Ctrl-C in the middle of a write), and
# several programs on one bridge (shared-bridge-checks.sh).
# Usage: usb_gadget_e2e.sh VIRTUAL_BRIDGE CORVANE_TOOL [CORVANE_I2CDEV]
set -uo pipefail
bridge=$1 tool=$2 daemon=${3-}
work=$(mktemp -d)
passed=0 failed=0
check() {
    local name=$1
    shift
    if "$@" >>"$work/log" 2>&1; then
        echo "E2E PASS $name" && ((passed++))
    else
        echo "E2E FAIL $name" && ((failed++))
        tail -n 5 "$work/log" | sed 's/^/    /'
    fi
    : >"$work/log"
}
ms() { echo $((${EPOCHREALTIME/./} / 1000)); }
# Polls `$@` every 50 ms for up to $timeout s.
until_true() {
    local deadline=$(($(ms) + ${timeout:-10} * 1000))
    until "$@"; do (($(ms) > deadline)) && return 1; sleep 0.05; done
}
gadget=/sys/kernel/config/usb_gadget/corvane-virtual-bridge
hidraw_count() { [[ $(ls /sys/class/hidraw 2>/dev/null | wc -l) == "$1" ]]; }
# A one-byte output report to every bridge: no report of the chip's, which a
# port ignores without dropping the bridge.
short_reports() { for node in /dev/hidraw*; do printf '\x00\x10' >"$node"; done; }
# The bridge served on without taking a device away: $1 its stderr.
still_there() { ! grep -q "went away" "$1"; }
# The USB device (sysfs name) whose serial number is $1.
usb_device() { grep -lx "$1" /sys/bus/usb/devices/*/serial 2>/dev/null | head -n1 | xargs -r dirname | xargs -r basename; }

# Debian's tools the checks run (scripts/install-deps.sh installs them).
for need in ip:iproute2 usbip:usbip usbipd:usbip; do
    command -v "${need%:*}" >/dev/null ||
        { echo "E2E FAIL ${need%:*} not found (Debian package ${need#*:})" && ((failed++)); }
done

mount -t configfs none /sys/kernel/config 2>/dev/null
modprobe dummy_hcd num=2 || { echo "E2E FAIL modules"; exit 1; }
ip link set lo up

# ---- two bridges as USB gadgets ------------------------------------------------
start=$(ms)
"$bridge" --usb-gadget --count 2 --sim-state "$work/state.json" >"$work/bridge.out" 2>"$work/bridge.err" &
bridge_pid=$!
timeout=30 check gadget_ready until_true grep -qx ready "$work/bridge.out"
echo "E2E TIME gadget_ready_ms=$(($(ms) - start))"
timeout=10 check two_hidraw_nodes until_true hidraw_count 2
check hid_phys_is_usb grep -q "HID_PHYS=usb-dummy_hcd.0-1/input0" /sys/class/hidraw/hidraw*/device/uevent
serials=($(cat /sys/bus/usb/devices/*/serial 2>/dev/null | grep '^CVS' | sort))
check two_serials test ${#serials[@]} -eq 2
s0=${serials[0]} s1=${serials[1]}
check tool_lists_both bash -c "'$tool' list | grep -c CVS | grep -qx 2"
check status_first "$tool" --serial "$s0" adc
check status_second "$tool" --serial "$s1" adc
check short_report_written short_reports
check short_report_ignored bash -c "'$tool' --serial '$s0' adc && '$tool' --serial '$s1' adc"
check short_report_keeps_the_gadgets still_there "$work/bridge.err"
# 1 KiB: 16 pages; read back as a 4 KiB device, whose addresses take two bytes like the 32 KiB one.
head -c 1024 /dev/urandom >"$work/data"
start=$(ms)
check eeprom_write_read_back bash -c "'$tool' --serial '$s0' eeprom write 0x50 -i '$work/data' &&
    '$tool' --serial '$s0' eeprom read 0x50 4096 -o '$work/back' && cmp -n 1024 '$work/data' '$work/back'"
echo "E2E TIME eeprom_1k_write_verify_read_ms=$(($(ms) - start))"
check other_bridge_own_eeprom bash -c "'$tool' --serial '$s1' read 0x50 4 | grep -qi 'ff'"
check no_target_fails bash -c "! '$tool' --serial '$s0' read 0x60 1"

# ---- a real disconnect: the UDC unbound under the host -------------------------
udc0=$(cat $gadget-0/UDC)
unplug() { echo "" >$gadget-0/UDC; }
plug() { echo "$udc0" >$gadget-0/UDC; }
unplug
timeout=5 until_true hidraw_count 1
start=$(ms)
check unplugged_idle_fails bash -c "! '$tool' --serial '$s0' adc"
elapsed=$(($(ms) - start))
check unplugged_idle_fails_fast test $elapsed -lt 5000
echo "E2E TIME unplugged_command_ms=$elapsed"
plug
timeout=10 check replugged_idle_back until_true hidraw_count 2
timeout=10 check replugged_idle_works until_true "$tool" --serial "$s0" adc
# ...and in the middle of a long transfer: the whole EEPROM read at the slowest speed.
"$tool" --serial "$s0" --speed 50000 eeprom read 0x50 32768 -o "$work/long" >"$work/long.out" 2>&1 &
long=$!
sleep 1
start=$(ms)
unplug
wait $long
long_status=$?
elapsed=$(($(ms) - start))
check unplugged_mid_transfer_fails test $long_status -ne 0
check unplugged_mid_transfer_ends_in_time test $elapsed -lt 5000
echo "E2E TIME unplug_to_failure_ms=$elapsed"
plug
timeout=10 check replugged_mid_transfer_works until_true "$tool" --serial "$s0" read 0x50 4

# ---- a reset re-enumerates with the identities of the flash ---------------------
check new_ids_in_flash "$tool" --serial "$s0" settings set vid 0x1234 --power-up
check new_pid_in_flash "$tool" --serial "$s0" settings set pid 0x5678 --power-up
check serial_enumeration_off "$tool" --serial "$s0" settings set serial-enumeration off
"$tool" --serial "$s0" reset >>"$work/log" 2>&1
has_ids() { grep -qx "$1" /sys/bus/usb/devices/*/idVendor 2>/dev/null; }
timeout=10 check reset_enumerates_new_vid until_true has_ids 1234
dev=$(grep -lx 1234 /sys/bus/usb/devices/*/idVendor | head -n1 | xargs dirname)
check reset_enumerates_new_pid grep -qx 5678 "$dev/idProduct"
check reset_no_serial_string test ! -e "$dev/serial"
timeout=10 check reset_new_ids_work until_true "$tool" --vid 0x1234 --pid 0x5678 adc
check serial_stays_with_other bash -c "'$tool' --serial '$s1' adc"

# ---- USB/IP over loopback: the second bridge through vhci-hcd ------------------
busid=$(usb_device "$s1")
usbipd >"$work/usbipd.log" 2>&1 &
usbipd_pid=$!
timeout=5 until_true bash -c "usbip list -r 127.0.0.1 >/dev/null 2>&1" || true
start=$(ms)
check usbip_bind usbip bind -b "$busid"
check usbip_attach usbip attach -r 127.0.0.1 -b "$busid"
vhci_node() { grep -l "HID_PHYS=usb-vhci_hcd" /sys/class/hidraw/hidraw*/device/uevent 2>/dev/null | cut -d/ -f5; }
usbip_hidraw() { [[ -n $(vhci_node) ]]; }
timeout=40 check usbip_hidraw until_true usbip_hidraw
echo "E2E TIME usbip_attach_ms=$(($(ms) - start))"
# The checks below reach the bridge through the node behind vhci-hcd alone, by
# its index in the tool's list: the gadget's own node, which USB/IP takes away
# from this side when it binds, must not answer for it.
node=/dev/$(vhci_node)
"$tool" list >"$work/list" 2>&1
index=$(awk -v node="$node" '$NF == node {print $(NF - 1)}' "$work/list")
check usbip_only_vhci_node_listed bash -c "[[ \$(grep -c '/dev/' '$work/list') == 1 && -n '$index' ]]"
check usbip_vhci_node_serial bash -c "grep -A1 ' $node\$' '$work/list' | grep -q 'serial number *$s1\$'"
# Without an index the tool would take the first bridge it finds.
on_vhci() { [[ -n $index ]] && "$tool" --device "$index" "$@"; }
usbip_eeprom() {
    on_vhci eeprom write 0x50 -i "$work/data" && on_vhci eeprom read 0x50 4096 -o "$work/back1" &&
        cmp -n 1024 "$work/data" "$work/back1"
}
timeout=10 check usbip_tool_status until_true on_vhci adc
check usbip_eeprom_write_read_back usbip_eeprom
usbip detach -p 0 >>"$work/log" 2>&1
usbip unbind -b "$busid" >>"$work/log" 2>&1
kill $usbipd_pid

# ---- leaving -------------------------------------------------------------------
kill -TERM $bridge_pid
check gadget_bridge_exits wait $bridge_pid
check gadgets_removed test ! -e $gadget-0 -a ! -e $gadget-1
check state_saved test -s "$work/state.json" -a -s "$work/state.json.2"
cat "$work/bridge.err"

# ---- the uhid mode ---------------------------------------------------------------
"$bridge" --uhid --sim-state "$work/state.json" >"$work/uhid.out" 2>"$work/uhid.err" &
bridge_pid=$!
timeout=20 check uhid_ready until_true grep -qx ready "$work/uhid.out"
ids=(--vid 0x1234 --pid 0x5678)
check uhid_short_report_written short_reports
check uhid_short_report_ignored "$tool" "${ids[@]}" adc
check uhid_short_report_keeps_the_device still_there "$work/uhid.err"
check uhid_keeps_flash_and_eeprom bash -c "'$tool' ${ids[*]} eeprom read 0x50 4096 -o '$work/back2' &&
    cmp -n 1024 '$work/data' '$work/back2'"

# A user the node does not belong to (devtmpfs makes it root's, 0600): every
# command says so, and what to do, instead of guessing.
start=$(ms)
nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups -- env HOME=/tmp "$tool" "${ids[@]}" "$@"; }
denied() {  # denied COMMAND...: exit 1 and the node named with "permission denied"
    nobody "$@" >"$work/denied.out" 2>"$work/denied.err"
    local status=$?
    cat "$work/denied.err"
    ((status == 1)) && grep -Eq '/dev/hidraw[0-9]+: permission denied' "$work/denied.err"
}
check permission_list denied list
check permission_list_names_the_rule grep -q "udev/70-corvane.rules" "$work/denied.err"
check permission_read denied read 0x48 2
check permission_serial denied --serial CVS000001 adc

# Ctrl-C in the middle of an EEPROM write: stopped between two pages, exit 130,
# and the EEPROM holds the new data exactly up to the address it names.
head -c 32768 /dev/urandom >"$work/big"
set -m  # a job of its own: SIGINT is not ignored in it
"$tool" "${ids[@]}" eeprom write 0x50 -i "$work/big" >"$work/int.out" 2>"$work/int.err" &
writer=$!
set +m
sleep 2
kill -INT $writer
wait $writer
check interrupted_exit_130 test $? -eq 130
reached=$(sed -n 's/.*interrupted after \(0x[0-9a-f]*\) of 0x8000 bytes; the EEPROM holds the new data up to there$/\1/p' "$work/int.err")
cat "$work/int.err"
echo "E2E INFO interrupted_at=$reached"
check interrupted_says_how_far test -n "$reached"
reached=$((reached))
check interrupted_mid_write test $reached -gt 0 -a $reached -lt 32768
"$tool" "${ids[@]}" eeprom read 0x50 32K --length $((reached + 64)) -o "$work/back3" >>"$work/log" 2>&1
check interrupted_new_data_up_to_there cmp -n $reached "$work/big" "$work/back3"
check interrupted_not_beyond bash -c "! cmp -s -n $((reached + 64)) '$work/big' '$work/back3'"
echo "E2E TIME permission_and_interrupt_ms=$(($(ms) - start))"
kill -TERM $bridge_pid
check uhid_bridge_exits wait $bridge_pid

source "$(dirname "${BASH_SOURCE[0]}")/shared-bridge-checks.sh"

echo "E2E DONE passed=$passed failed=$failed"
((failed == 0 && passed > 0))
