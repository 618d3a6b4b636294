#!/bin/bash
# SPDX-License-Identifier: MIT
# corvane-i2cdev through the kernel's CUSE with clients nobody here wrote:
# Debian's i2c-tools and python3-smbus2, beside the kernel's own i2c-stub
# adapter (the same requests from a 64-bit and a 32-bit client on both), and
# the corvane tool beside i2c-tools on the same state. Runs as root inside the
# VM of tests/e2e/vm-run.sh (modules cuse, i2c-dev; i2c-stub is loaded here).
# Usage: vm-checks.sh DAEMON TOOL PROBE PROBE32 [UHID_SERVER]
# PROBE and PROBE32: tests/i2cdev/i2cdev_probe.cpp as 64-bit and 32-bit programs.
# With UHID_SERVER (tests/e2e) the daemon also serves a bridge reached through
# uhid and hidraw, which is unplugged and plugged back while in use.
set -u
daemon=$1 tool=$2 probe=$3 probe32=$4 uhid_server=${5-}
python=/usr/bin/python3
failed=0
pass() { echo "ok   $*"; }
fail() { echo "FAIL $*"; failed=1; }
check() {  # check NAME EXPECTED ACTUAL
    if [[ $2 == "$3" ]]; then pass "$1"; else fail "$1: expected '$2', got '$3'"; fi
}
# Without its clients nothing here would run: a failure, not a skip.
for program in i2cdetect i2cget i2cset i2cdump i2ctransfer; do
    command -v $program >/dev/null || { echo "FAIL $program missing (Debian package i2c-tools)"; exit 1; }
done
$python -c 'import smbus2' 2>/dev/null || { echo "FAIL python3-smbus2 missing"; exit 1; }
command -v pgrep >/dev/null || { echo "FAIL pgrep missing (Debian package procps)"; exit 1; }
[[ -c /dev/cuse ]] || { echo "FAIL no /dev/cuse in the VM"; exit 1; }

work=$(mktemp -d)
# The kernel's SMBus adapter with chips where the bench has its targets. It
# takes its bus number before the daemon looks for a free one.
modprobe i2c-stub chip_addr=0x0b,0x48,0x50 || { echo "FAIL cannot load i2c-stub"; exit 1; }
stub=
for adapter in /sys/bus/i2c/devices/i2c-*; do
    [[ $(cat "$adapter/name") == "SMBus stub driver" ]] && stub=/dev/${adapter##*/}
done
for _ in $(seq 100); do [[ -n $stub && -c $stub ]] && break; sleep 0.05; done
[[ -n $stub && -c $stub ]] || { echo "FAIL no node of i2c-stub ($stub)"; exit 1; }
free=0
while [[ -e /dev/i2c-$free ]]; do ((free++)); done

# Starts the daemon in the foreground in the background; sets $node and $pid.
start() {
    "$daemon" --foreground "$@" >"$work/out" 2>"$work/err" &
    pid=$!
    node=
    for _ in $(seq 200); do
        node=$(head -n1 "$work/out")
        [[ -n $node ]] && break
        kill -0 $pid 2>/dev/null || break
        sleep 0.05
    done
    [[ -n $node && -c $node ]] || { fail "daemon $*: no node ($(cat "$work/err"))"; exit 1; }
}
# Stops it with SIGTERM: it must end with 0 and take its node along.
stop() {
    kill -TERM $pid
    wait $pid
    check "daemon ends with 0 on SIGTERM" 0 $?
    [[ ! -e $node ]] && pass "$node removed" || fail "$node still there"
}

# ---- the virtual bench: EEPROM 0x50, SMBus device 0x0b, sensor 0x48 --------
state=$work/sim-state.json
start --sim --sim-reset --sim-state "$state"
bus=${node#/dev/i2c-}
check "first free bus number" /dev/i2c-$free "$node"

found=$(i2cdetect -y "$bus" | sed -n 's/^[0-7]0: //p' | tr ' ' '\n' | grep -E '^[0-9a-f]{2}$' | xargs)
check "i2cdetect shows exactly the virtual targets" "0b 48 50" "$found"

check "i2cget w: temperature" 0x8017 "$(i2cget -y "$bus" 0x48 0x00 w)"
i2cset -y "$bus" 0x48 0x03 0x0050 w
check "i2cset/i2cget w: limit" 0x0050 "$(i2cget -y "$bus" 0x48 0x03 w)"
i2cset -y "$bus" 0x48 0x01 0x60 b
check "i2cset/i2cget b: configuration" 0x60 "$(i2cget -y "$bus" 0x48 0x01 b)"
check "i2cget without a register" 0x60 "$(i2cget -y "$bus" 0x48)"

i2ctransfer -y "$bus" w66@0x50 0x00 0x00 0x00+
check "i2ctransfer: two-byte offset write, then read" \
    "0x10 0x11 0x12 0x13 0x14 0x15 0x16 0x17" "$(i2ctransfer -y "$bus" w2@0x50 0x00 0x10 r8)"
i2ctransfer -y "$bus" w2@0x50 0x00 0x00
# i2cdump's consecutive mode reads on from the EEPROM's address counter.
dump=$(i2cdump -y "$bus" 0x50 c | sed -n 's/^[0-9a-f]0: \(\([0-9a-f][0-9a-f] \)\{16\}\).*/\1/p' | xargs)
expected=$(for i in $(seq 0 255); do ((i < 64)) && printf '%02x ' $i || printf 'ff '; done | xargs)
check "i2cdump of the EEPROM" "$expected" "$dump"

error=$(i2ctransfer -y "$bus" r1@0x33 2>&1)
[[ $error == *"No such device or address"* ]] && pass "absent address: ENXIO" ||
    fail "absent address: $error"
check "i2ctransfer r?: an SMBus block read, its length from the target" \
    "0x07 0x43 0x6f 0x72 0x76 0x61 0x6e 0x65" "$(i2ctransfer -y "$bus" w1@0x0b 0x20 r?)"

# ---- side by side with the kernel's i2c-stub: 64-bit and 32-bit clients -------
for client in "$probe" "$probe32"; do
    "$client" compare "$stub" "$node" >"$work/compare" 2>&1 || failed=1
    cat "$work/compare"
done
check "a 32-bit i2cget" "$(i2cget -y "$bus" 0x48 0x01)" "$("$probe32" get "$node" 0x48 0x01)"
check "the 32-bit client's i2cget on i2c-stub" "$(i2cget -y "${stub#/dev/i2c-}" 0x48 0x01)" \
    "$("$probe32" get "$stub" 0x48 0x01)"

$python - "$bus" <<'PY' || failed=1
import errno, fcntl, os, sys
from smbus2 import SMBus, i2c_msg

bus_number = int(sys.argv[1])
failures = 0
def check(name, expected, actual):
    global failures
    ok = expected == actual
    failures += not ok
    print(("ok   " if ok else "FAIL ") + "smbus2 " + name + ("" if ok else f": expected {expected!r}, got {actual!r}"))

def errno_of(call):
    try:
        call()
    except OSError as e:
        return e.errno
    return 0

with SMBus(bus_number) as bus:
    check("read_word_data", 0x8017, bus.read_word_data(0x48, 0x00))
    bus.write_byte_data(0x48, 0x01, 0x18)
    check("write/read_byte_data", 0x18, bus.read_byte_data(0x48, 0x01))
    bus.write_word_data(0x48, 0x02, 0x004B)
    check("write/read_word_data", 0x004B, bus.read_word_data(0x48, 0x02))
    bus.write_byte(0x48, 0x00)
    check("write_byte/read_byte", 0x17, bus.read_byte(0x48))
    check("read_i2c_block_data", [0x17, 0x80], bus.read_i2c_block_data(0x48, 0x00, 2))
    bus.write_i2c_block_data(0x48, 0x03, [0x55, 0x00])
    check("write_i2c_block_data", [0x55, 0x00], bus.read_i2c_block_data(0x48, 0x03, 2))
    bus.pec = 1
    check("read_block_data with PEC", list(b"Corvane"), bus.read_block_data(0x0B, 0x20))
    bus.write_block_data(0x0B, 0x21, list(b"CVB-2"))
    check("write_block_data with PEC", list(b"CVB-2"), bus.read_block_data(0x0B, 0x21))
    bus.pec = 0
    write = i2c_msg.write(0x50, [0x01, 0x00] + list(b"smbus2 was here"))
    bus.i2c_rdwr(write)
    offset, read = i2c_msg.write(0x50, [0x01, 0x00]), i2c_msg.read(0x50, 15)
    bus.i2c_rdwr(offset, read)
    check("i2c_rdwr write, then write+read", b"smbus2 was here", bytes(read))
    check("absent address", errno.ENXIO, errno_of(lambda: bus.read_byte_data(0x33, 0)))
    many = [i2c_msg.write(0x50, [0]) for _ in range(43)]
    check("43 messages", errno.EINVAL, errno_of(lambda: bus.i2c_rdwr(*many)))
    check("three messages", errno.EOPNOTSUPP, errno_of(lambda: bus.i2c_rdwr(*many[:3])))
    check("null I2C_RDWR", errno.EFAULT, errno_of(lambda: fcntl.ioctl(bus.fd, 0x0707, 0)))
    check("null I2C_SMBUS", errno.EFAULT, errno_of(lambda: fcntl.ioctl(bus.fd, 0x0720, 0)))
    # Page writes of 66 bytes (two offset bytes, 64 data). Not acknowledged is
    # ENXIO at every length, as from a kernel adapter, although past 60 bytes the
    # bridge's first chunk is not its last. (The bench's EEPROM has finished its
    # 5 ms write cycle before the daemon's next transfer reaches it; the
    # daemon's test polls one that takes longer.)
    page = [0x02, 0x00] + list(range(64))
    bus.i2c_rdwr(i2c_msg.write(0x50, page))
    bus.i2c_rdwr(i2c_msg.write(0x50, page))
    check("66 bytes to an absent address", errno.ENXIO,
          errno_of(lambda: bus.i2c_rdwr(i2c_msg.write(0x33, page))))
    check("still serving", 0x8017, bus.read_word_data(0x48, 0x00))
    # read() and write() on the node go to the I2C_SLAVE address.
    fcntl.ioctl(bus.fd, 0x0703, 0x50)
    os.write(bus.fd, bytes([0x01, 0x00]))
    check("write() then read()", b"smbus2", os.read(bus.fd, 6))
sys.exit(1 if failures else 0)
PY

# Several processes at once: every answer whole and right.
for job in 1 2 3; do
    (for _ in $(seq 15); do i2cget -y "$bus" 0x48 0x00 w; i2ctransfer -y "$bus" w2@0x50 0x00 0x10 r4; done >"$work/job$job") &
done
wait $(jobs -p | grep -v "^$pid$")
answers=$(cat "$work"/job? | sort | uniq -c | awk '{print $1 " " $2 $3 $4 $5}' | xargs)
check "three clients at once" "45 0x100x110x120x13 45 0x8017" "$answers"

stop
# The targets' state as the virtual chip kept it.
$python - "$state" <<'PY' || failed=1
import json, sys
state = json.load(open(sys.argv[1]))
eeprom = bytes.fromhex(state["eeprom"])
problems = []
if eeprom[:64] != bytes(range(64)): problems.append("EEPROM page 0")
if eeprom[0x200:0x240] != bytes(range(64)): problems.append("EEPROM page 0x200")
if eeprom[0x100:0x10F] != b"smbus2 was here": problems.append("EEPROM at 0x100")
if bytes.fromhex(state["smbus"]["0x21"]) != b"CVB-2": problems.append("SMBus register 0x21")
if state["sensor"][:3] != [0x18, 0x4B00, 0x5500]: problems.append(f"sensor {state['sensor']}")
print("ok   targets' state" if not problems else "FAIL targets' state: " + ", ".join(problems))
sys.exit(1 if problems else 0)
PY

# ---- the corvane tool beside i2c-tools, each on its copy of one state ---------
# The same commands in the same order: the same output (and exit status, except
# where the tool will not report a failure as success), and the same state after.
cp "$state" "$work/tool-state.json"
start --sim --sim-state "$state"
bus=${node#/dev/i2c-}
same() {  # same [--exit-differs] I2C-TOOL ARGS... (BUS where the bus number goes)
    local exit_differs=0
    [[ $1 == --exit-differs ]] && exit_differs=1 && shift
    local program=$1 kernel_args=() tool_args=() expected actual kernel_status tool_status
    shift
    for arg in "$@"; do
        if [[ $arg == BUS ]]; then kernel_args+=("$bus"); else kernel_args+=("$arg") tool_args+=("$arg"); fi
    done
    expected=$("$program" "${kernel_args[@]}" 2>/dev/null)
    kernel_status=$?
    actual=$("$tool" --sim --sim-state "$work/tool-state.json" "${program#i2c}" "${tool_args[@]}" 2>"$work/tool.err")
    tool_status=$?
    ((tool_status == 0)) || echo "     the tool said: $(head -n1 "$work/tool.err")"
    check "${program#i2c} ${tool_args[*]}: as $program prints it" "$expected" "$actual"
    ((exit_differs)) || check "${program#i2c} ${tool_args[*]}: $program's exit status" $kernel_status $tool_status
}
same i2cdump -y BUS 0x48
same i2cdump -y BUS 0x48 b 0x00 0x1f
same i2cdump -y BUS 0x48 w
same i2cdump -y BUS 0x48 W
same i2cdump -y BUS 0x48 c
same i2cdump -y BUS 0x48 i
same i2cdump -y BUS 0x0b s 0x20
same i2cdump -y -r 0x0e-0x11 BUS 0x48 b
same i2cdump -y -r 0x02-0x07 BUS 0x48 W
same i2cdump -y -r 0x06-0x09 BUS 0x48 w
same i2cdump -y -r 0x01-0x04 BUS 0x48 c
same i2cdump -y -r 0x20-0x22 BUS 0x48 i
same i2cdump -y -r 0-3 BUS 0x48 b 15 1
same --exit-differs i2cdump -y BUS 0x51
same i2cget -y BUS 0x48 0x00 w
same i2cget -y -f -a BUS 0x48
same i2cget -y BUS 0x0b 0x20 s
same i2cset -y -r BUS 0x48 1 0x1f
same i2cset -y -m 0xf0 -r BUS 0x48 1 0x20
# i2cset exits with 0 after a mismatch; the tool will not report it as success.
same --exit-differs i2cset -y -r BUS 0x48 0 0x55
same i2cset -y -r BUS 0x48 3 0x0050 w
same --exit-differs i2cset -y -r BUS 0x48 3 c
same i2ctransfer -y BUS w1@0x0b 0x20 r?
same i2ctransfer -y -f -a BUS w1@0x48 0x00 r2
stop
$python - "$state" "$work/tool-state.json" <<'PY' || failed=1
import json, sys
daemon, tool = (json.load(open(name)) for name in sys.argv[1:])
same = daemon == tool
print("ok   the same state after both" if same else
      "FAIL the states differ: " + ", ".join(k for k in daemon if daemon[k] != tool.get(k)))
sys.exit(0 if same else 1)
PY

# ---- in the background, on a chosen bus number ------------------------------
node=$("$daemon" --sim --sim-reset --sim-state "$work/second.json" --bus 7)
check "background start prints the node" /dev/i2c-7 "$node"
check "background daemon serves" 0x8017 "$(i2cget -y 7 0x48 0x00 w)"
background=$(pgrep -f -- "--sim-state $work/second.json --bus 7")
kill -TERM $background
for _ in $(seq 100); do [[ -e /dev/i2c-7 ]] || break; sleep 0.05; done
[[ ! -e /dev/i2c-7 ]] && pass "background daemon removes its node" || fail "/dev/i2c-7 still there"

# ---- a bridge through uhid and hidraw, unplugged while in use ---------------
if [[ -n $uhid_server ]]; then
    coproc UHID { "$uhid_server"; }
    uhid() { echo "$1" >&"${UHID[1]}" && read -r -t 10 answer <&"${UHID[0]}" && [[ $answer == ok ]]; }
    uhid "create a 3a7c 01d5 CVE2E1" || fail "uhid bridge"
    for _ in $(seq 100); do ls /dev/hidraw* >/dev/null 2>&1 && break; sleep 0.05; done
    start
    bus=${node#/dev/i2c-}
    i2ctransfer -y "$bus" w10@0x50 0x00 0x00 0xa0+
    check "hidraw bridge: EEPROM write and read" "0xa0 0xa1 0xa2 0xa3 0xa4 0xa5 0xa6 0xa7" \
        "$(i2ctransfer -y "$bus" w2@0x50 0x00 0x00 r8)"
    uhid "destroy a"
    started=$SECONDS
    error=$(i2ctransfer -y "$bus" w2@0x50 0x00 0x00 r8 2>&1) && fail "unplugged: transfer succeeded" ||
        pass "unplugged: error ($error) after $((SECONDS - started)) s"
    uhid "create a 3a7c 01d5 CVE2E1"
    answer=
    for _ in $(seq 50); do
        answer=$(i2ctransfer -y "$bus" w2@0x50 0x00 0x00 r8 2>/dev/null) && break
        sleep 0.1
    done
    check "plugged back: the same node serves again" "0xa0 0xa1 0xa2 0xa3 0xa4 0xa5 0xa6 0xa7" "$answer"
    stop
    echo quit >&"${UHID[1]}"
fi

rm -rf "$work"
((failed == 0)) && echo "PASSED" || echo "FAILED"
exit $failed
