#!/bin/bash
# SPDX-License-Identifier: MIT
# A Corvane bridge plugged in becomes /dev/i2c-N, as a kernel-driven USB I2C
# adapter does: through the real USB stack (corvane-virtual-bridge's gadgets
# on dummy_hcd, enumerated by usbhid), with udevd running the package's rules.
# The VM has no systemd, so the test starts what systemd would: the unit's
# ExecStart for the instance udev's SYSTEMD_WANTS names. Runs as root inside
# the VM of tests/e2e/vm-run.sh.
# Usage: plug-vm-checks.sh VIRTUAL_BRIDGE DAEMON RULES_DIR UNIT_FILE
set -u
bridge=$1 daemon=$2 rules=$3 unit=$4
python=/usr/bin/python3
failed=0
pass() { echo "ok   $*"; }
fail() { echo "FAIL $*"; failed=1; return 1; }
check() { # check NAME EXPECTED ACTUAL
    if [[ $2 == "$3" ]]; then pass "$1"; else fail "$1: expected '$2', got '$3'"; fi
}
# Polls `$@` every 50 ms for up to $timeout s.
until_true() {
    local deadline=$((SECONDS + ${timeout:-10}))
    until "$@"; do ((SECONDS >= deadline)) && return 1; sleep 0.05; done
}
work=$(mktemp -d)
gadget=/sys/kernel/config/usb_gadget/corvane-virtual-bridge

mount -t configfs none /sys/kernel/config 2>/dev/null
modprobe dummy_hcd num=2 || { echo "FAIL modprobe dummy_hcd"; exit 1; }
getent group i2c >/dev/null || { echo "FAIL no i2c group (Debian's i2c-tools makes it)"; exit 1; }

# ---- udev with the rules, as a machine with the package has it ---------------
cp "$rules/60-corvane-i2cdev.rules" "$rules/60-corvane-i2cdev-plug.rules" /etc/udev/rules.d/
udevadm verify --help >/dev/null 2>&1 && { udevadm verify /etc/udev/rules.d/60-corvane-i2cdev*.rules ||
    fail "udevadm verify"; }
/lib/systemd/systemd-udevd --daemon 2>"$work/udevd.log" || { echo "FAIL udevd does not start"; exit 1; }

# What systemd runs for corvane-i2cdev@INSTANCE.service: the unit's ExecStart
# with %I (the unescaped instance), the daemon from the build tree. Sets $pid.
state_dir=/var/lib/corvane
mkdir -p "$state_dir"
start_unit() {
    local instance=$1 line
    line=$(sed -n 's/^ExecStart=//p' "$unit")
    line=${line//%I/$(systemd-escape --unescape -- "$instance")}
    line="$daemon ${line#* }"
    $line >>"$work/daemon.out" 2>>"$work/daemon.err" &
    pid=$!
}
# The bus number is pinned for the second bridge in the unit's configuration.
config=$(sed -n 's/^ExecStart=.*--config \([^ ]*\).*/\1/p' "$unit")
mkdir -p "$(dirname "$config")" && echo "bus CVS000002 70" >"$config"

# ---- plug two bridges ----------------------------------------------------------
"$bridge" --usb-gadget --count 2 --sim-state "$work/bridge.json" >"$work/bridge.out" 2>&1 &
timeout=30 until_true grep -qx ready "$work/bridge.out" || { fail "no gadgets: $(cat "$work/bridge.out")"; exit 1; }
# (udevadm settle ignores a chroot: the VM's root is one.)
wanted() { [[ $(cat /run/udev/data/c* 2>/dev/null | grep -c "^E:SYSTEMD_WANTS=corvane-i2cdev@") == "$1" ]]; }
timeout=30 until_true wanted 2 || fail "udev has not processed both bridges"
# The instance udev asked systemd for, per bridge serial.
declare -A instance
for node in /sys/class/hidraw/*; do
    serial=$(cat "$node/device/../../serial" 2>/dev/null)
    wants=$(udevadm info -q property "$node" | sed -n 's/^SYSTEMD_WANTS=//p')
    instance[$serial]=$(sed -n 's/.*corvane-i2cdev@\(.*\)\.service.*/\1/p' <<<"$wants")
    [[ $(udevadm info -q property "$node") == *TAGS=*:systemd:* ]] || fail "$node not tagged for systemd"
done
check "udev: the first bridge's unit" "CVS000001" "${instance[CVS000001]-}"
check "udev: the second bridge's unit" "CVS000002" "${instance[CVS000002]-}"
udevadm test --action=add "/sys/class/hidraw/$(ls /sys/class/hidraw | head -n1)" >"$work/udevadm-test" 2>&1
grep -i "corvane.*\(invalid\|error\|unknown\|failed\)" "$work/udevadm-test" && fail "udevadm test: the rules have errors"

start_unit "${instance[CVS000001]}" && first=$pid
start_unit "${instance[CVS000002]}" && second=$pid
timeout=20 until_true test -c /dev/i2c-64 -a -c /dev/i2c-70 ||
    { fail "no /dev/i2c-64 and /dev/i2c-70: $(cat "$work/daemon.err")"; exit 1; }
pass "two bridges: /dev/i2c-64 (first from the base) and /dev/i2c-70 (pinned)"
mode() { stat -c '%U:%G %a' "$1" 2>&1; }
timeout=5 until_true test "$(mode /dev/i2c-64)" = "root:i2c 660"
check "the node's owner and mode, as Debian's i2c-dev nodes" "root:i2c 660" "$(mode /dev/i2c-64)"
found=$(i2cdetect -y 64 | sed -n 's/^[0-7]0: //p' | tr ' ' '\n' | grep -E '^[0-9a-f]{2}$' | xargs)
check "i2cdetect sees the virtual targets" "0b 48 50" "$found"
i2ctransfer -y 64 w3@0x50 0x01 0x00 0x11 && i2ctransfer -y 70 w3@0x50 0x01 0x00 0x22
sleep 0.02 # the EEPROM's write cycle
check "each node reaches its own chip (first)" 0x11 "$(i2ctransfer -y 64 w2@0x50 0x01 0x00 r1)"
check "each node reaches its own chip (second)" 0x22 "$(i2ctransfer -y 70 w2@0x50 0x01 0x00 r1)"

# ---- pull the first bridge while a client holds its node open --------------------
cat >"$work/client.py" <<'PY'
import os, sys, time
from smbus2 import SMBus
bus = SMBus(64)
bus.read_byte_data(0x48, 0)
print("open", flush=True)
deadline = time.monotonic() + 20
while True:
    try:
        bus.read_byte_data(0x48, 0)
    except OSError as e:
        print(e.errno, flush=True)
        break
    if time.monotonic() > deadline:
        sys.exit("no error within 20 s")
    time.sleep(0.05)
while not os.path.exists(sys.argv[1]):
    time.sleep(0.05)
try:
    bus.read_byte_data(0x48, 0)
    print("works", flush=True)
except OSError as e:
    print(e.errno, flush=True)
PY
timeout 60 $python "$work/client.py" "$work/go" >"$work/client.out" 2>&1 &
client=$!
timeout=30 until_true grep -qx open "$work/client.out" || fail "the client cannot use the node: $(cat "$work/client.out")"
udc=$(cat $gadget-0/UDC)
echo "" >$gadget-0/UDC
timeout=10 until_true test "$(wc -l <"$work/client.out")" -ge 2
check "a client holding the node gets ENODEV" 19 "$(sed -n 2p "$work/client.out")" || cat "$work/client.out"
timeout=5 until_true test ! -e /dev/i2c-64 && pass "the node is gone" || fail "/dev/i2c-64 still there"
check "the other bridge goes on" 0x22 "$(i2ctransfer -y 70 w2@0x50 0x01 0x00 r1)"

# ---- plug it back: the same number; old files stay dead, new ones work --------------
echo "$udc" >$gadget-0/UDC
timeout=20 until_true test -c /dev/i2c-64 && pass "replugged: /dev/i2c-64 again" || fail "no /dev/i2c-64 after the replug"
check "the node keeps its owner and mode" "root:i2c 660" "$(mode /dev/i2c-64)"
timeout=10 until_true i2cget -y 64 0x48 0x00 w >/dev/null
check "a new i2cget works" 0x11 "$(i2ctransfer -y 64 w2@0x50 0x01 0x00 r1)"
touch "$work/go"
wait $client
check "the file held across the pull still gets ENODEV" 19 "$(sed -n 3p "$work/client.out")"

# ---- pulled with no file open: the daemon ends, as systemd's unit stops; the next
# plug starts it again under the same number --------------------------------------------
echo "" >$gadget-0/UDC
timeout=10 until_true bash -c "! kill -0 $first 2>/dev/null" && pass "the daemon ends once the bridge is gone" ||
    fail "the daemon still runs after the bridge has gone"
wait $first
check "it ends with 0" 0 $?
check "no node left" "" "$(ls /dev/i2c-64 2>/dev/null)"
echo "$udc" >$gadget-0/UDC
timeout=30 until_true wanted 2
start_unit "${instance[CVS000001]}" && first=$pid
timeout=20 until_true test -c /dev/i2c-64 && pass "a new daemon: /dev/i2c-64 again" || fail "no /dev/i2c-64 from the new daemon"
check "its chip" 0x11 "$(i2ctransfer -y 64 w2@0x50 0x01 0x00 r1)"

kill -TERM $first $second
wait $first $second
check "SIGTERM takes the nodes along" "" "$(ls /dev/i2c-64 /dev/i2c-70 2>/dev/null)"
udevadm control --exit
((failed)) && { echo "--- daemon"; cat "$work/daemon.err"; ls -l /dev/hidraw* /dev/i2c*; }
echo "plug checks: $([[ $failed == 0 ]] && echo all passed || echo FAILED)"
exit $failed
