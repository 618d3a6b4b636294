#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds the corvane tool and takes it on a short
# tour of the virtual chip: scan, list, settings, an EEPROM write and read-back.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)" --target corvane_tool

# The virtual chip keeps its state here, started afresh for the tour.
demo=build/default/demo
mkdir -p "$demo"
export XDG_STATE_HOME="$PWD/$demo/state"
corvane() { ./build/default/tools/corvane "$@"; }
show() {
    echo
    echo "\$ corvane $*"
    corvane "$@"
}

corvane --sim --sim-reset version >/dev/null
show --sim scan
show --sim list
show --sim settings
printf 'Hello from the Corvane demo: this text went into the EEPROM and came back.\n' >"$demo/hello.txt"
show --sim eeprom write 0x50 -i "$demo/hello.txt"
show --sim eeprom read 0x50 32K -o "$demo/eeprom.bin"
echo
echo "\$ head -c $(wc -c <"$demo/hello.txt") $demo/eeprom.bin"
head -c "$(wc -c <"$demo/hello.txt")" "$demo/eeprom.bin"
cmp -s -n "$(wc -c <"$demo/hello.txt")" "$demo/hello.txt" "$demo/eeprom.bin"
echo
echo "The tool is build/default/tools/corvane; 'corvane --help' lists every command."
