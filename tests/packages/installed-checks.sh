#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# What a user does right after `apt install ./build/packages/*.deb`, run as
# root inside a throw-away root where the packages are installed and the
# source tree is not on any search path: every check uses the installed files.
# Usage: tests/packages/installed-checks.sh SOURCE_TREE
set -euo pipefail
# (No grep -q after a pipe: its early exit would fail the pipe, pipefail.)
tree=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
multiarch=$(c++ -print-multiarch)
unset CORVANE_LIBRARY CORVANE_SIM_LIBRARY
fail() { echo "installed-checks: $*" >&2 && exit 1; }

echo "== corvane --sim scan"
export XDG_STATE_HOME=$work/state
scan=$(/usr/bin/corvane --sim scan -y)
echo "$scan"
grep -Eq '^00: .* 0b ' <<<"$scan" && grep -Eq '^40: .* 48 ' <<<"$scan" && grep -Eq '^50: 50 ' <<<"$scan" ||
    fail "corvane --sim scan does not show the virtual targets at 0x0b, 0x48 and 0x50"

echo "== python3 -c 'import corvane, corvane.sim'"
# Debian's interpreter (python3 on PATH may be another), and the libraries
# it loaded: those of libcorvane0.
/usr/bin/python3 -c '
import sys, corvane, corvane.sim
print(corvane.__file__, corvane.library_version)
assert corvane.__file__.startswith("/usr/lib/python3/dist-packages/"), corvane.__file__
maps = open("/proc/self/maps").read()
for lib in ("libcorvane.so.0", "libcorvane_sim.so.0"):
    assert "/usr/lib/" + sys.argv[1] + "/" + lib in maps, lib + " not loaded from the package"
' "$multiarch"

echo "== pkg-config --cflags --libs corvane, and a program built with it"
pkg-config --cflags --libs corvane
c++ -o consumer "$tree/tests/install_consumer/main.cpp" $(pkg-config --cflags --libs corvane-sim corvane)
./consumer
# (/lib is /usr/lib: the loader may name either.)
ldd consumer | grep -E "=> (/usr)?/lib/$multiarch/libcorvane.so.0 " >/dev/null || fail "the program is not linked to libcorvane.so.0"

echo "== find_package(corvane)"
cmake -S "$tree/tests/install_consumer" -B cmake-consumer >/dev/null
cmake --build cmake-consumer >/dev/null
cmake-consumer/consumer

echo "== man corvane"
MANWIDTH=200 MANPAGER=cat man corvane 2>&1 | grep "corvane - drive a Corvane USB I2C/SMBus bridge" >/dev/null || fail "man corvane shows no manual page"
MANWIDTH=200 MANPAGER=cat man 8 corvane-i2cdev 2>&1 | grep "corvane-i2cdev - serve" >/dev/null || fail "man 8 corvane-i2cdev shows no manual page"
echo "== the udev rules and the systemd unit"
# udevadm test reads every rules file (a device is needed to run them on) and
# names the file and line of each it cannot take.
udevadm test --action=add /sys/class/mem/null >udevadm.out 2>&1 || fail "udevadm test: $(tail -n 3 udevadm.out)"
for rules in 60-corvane-i2cdev-plug.rules 60-corvane-i2cdev.rules 70-corvane.rules; do
    grep -q "/lib/udev/rules.d/$rules" udevadm.out || fail "udevadm test did not read $rules"
done
if grep -E "corvane[^ ]*\.rules:[0-9]+" udevadm.out; then fail "udevadm test: errors in the rules"; fi
systemd-analyze verify corvane-i2cdev@CVS000001.service 2>&1 | tee verify.out
[[ ! -s verify.out ]] || fail "systemd-analyze verify: the unit has faults"
echo "installed-checks: all passed"
