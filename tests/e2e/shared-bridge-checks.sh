# SPDX-License-Identifier: MIT
# Several programs on one bridge through a real hidraw node: the corvane tool
# writes an EEPROM image in the background while the tool reads the sensor
# and i2c-tools read it through corvane-i2cdev. Every read must be right, the
# reads must interleave with the write (not wait for all of it), and the
# image must be intact. Sourced by usb_gadget_e2e.sh (check, until_true,
# $work); uses $bridge, $tool and $daemon (empty: the i2c-tools part is left
# out).
shared="$work/shared"
mkdir -p "$shared"
"$bridge" --uhid --sim-state "$shared/state.json" >"$shared/bridge.out" 2>&1 &
shared_bridge=$!
timeout=20 check shared_bridge_ready until_true grep -qx ready "$shared/bridge.out"
# 8 KiB: 128 page writes, each one transfer and its acknowledge polls, long
# enough that the reads below start and end while it runs.
head -c 8192 /dev/urandom >"$shared/image"
write_in_background() {
    "$tool" eeprom write 0x50 -i "$shared/image" >"$shared/writer.out" 2>&1 &
    writer=$!
    sleep 0.5  # under way
}
# Runs `$@` six times; each must print $expected.
reads_right() {
    local expected=$1 out
    shift
    for _ in 1 2 3 4 5 6; do
        out=$("$@" 2>&1)
        [[ $out == "$expected" ]] || { echo "read gave '$out'"; return 1; }
    done
}
writer_still_runs() { kill -0 $writer 2>/dev/null; }
image_intact() {
    "$tool" eeprom read 0x50 8192 -o "$shared/back" && cmp "$shared/image" "$shared/back"
}

write_in_background
start=$(ms)
check shared_tool_reads_right reads_right "0x17 0x80" "$tool" read 0x48 2
echo "E2E TIME shared_six_tool_reads_ms=$(($(ms) - start))"
check shared_reads_interleave_with_the_write writer_still_runs
check shared_background_write_succeeds wait $writer
check shared_image_intact image_intact

# Another program holding the node's lock (flock(1) takes the same flock()):
# past the busy time-out the tool fails naming it; within it, it goes on.
hid_uevent=$(grep -l 'HID_ID=0003:00003A7C:000001D5' /sys/class/hidraw/*/device/uevent | head -n1)
hid_node=/dev/$(basename "$(dirname "$(dirname "$hid_uevent")")")
flock -x "$hid_node" sleep 3 &
holder=$!
sleep 0.3
busy_named() {
    local out
    out=$("$tool" --busy-timeout 300 read 0x48 2 2>&1) && return 1
    echo "$out"
    [[ $out == *"BRIDGE_BUSY: $hid_node is busy: held by flock (pid $holder)"* ]]
}
check shared_busy_names_the_holder busy_named
check shared_holder_still_holds kill -0 $holder
check shared_waits_for_the_holder bash -c "[[ \$('$tool' --busy-timeout 10000 read 0x48 2) == '0x17 0x80' ]]"
wait $holder

if [[ -n $daemon ]]; then
    "$daemon" --foreground >"$shared/daemon.out" 2>"$shared/daemon.err" &
    daemon_pid=$!
    timeout=10 check shared_daemon_node until_true test -s "$shared/daemon.out"
    i2c_node=$(head -n1 "$shared/daemon.out")
    write_in_background
    start=$(ms)
    check shared_i2cget_reads_right reads_right 0x8017 i2cget -y "${i2c_node#/dev/i2c-}" 0x48 0x00 w
    echo "E2E TIME shared_six_i2cget_ms=$(($(ms) - start))"
    check shared_i2cget_interleaves_with_the_write writer_still_runs
    check shared_background_write_beside_daemon_succeeds wait $writer
    check shared_image_intact_beside_daemon image_intact
    kill -TERM $daemon_pid
    check shared_daemon_exits wait $daemon_pid
fi
kill -TERM $shared_bridge
wait $shared_bridge
