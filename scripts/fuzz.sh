#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the libFuzzer targets (clang, in the sanitizer tree) and runs them
# from their seeds: the library's operations for SECONDS, then side by side
# (one core each) for 2/5 of that the requests corvane-i2cdev serves (seeded
# from the daemon's test table of refused requests) and the virtual bench's
# state file.
# Usage: scripts/fuzz.sh [seconds]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
scripts/install-deps.sh sanitize
source scripts/ccache-env.sh
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize -j"$(nproc)" --target corvane_fuzz corvane_fuzz_i2cdev corvane_fuzz_sim_state
fuzz=build/sanitize/tests/fuzz
# New inputs go to the build folder; the seeds in the tree stay as they are.
corpus=build/sanitize/fuzz-corpus
mkdir -p "$corpus" "$corpus-i2cdev" "$corpus-sim-state"
cp -n tests/fuzz/corpus/* "$corpus"/ 2>/dev/null || true
CORVANE_FUZZ_SEEDS=$corpus-i2cdev $fuzz/corvane_fuzz_i2cdev
run() {  # run TARGET SECONDS CORPUS [SEEDS]; its last lines, and its status
    local status=0
    "$fuzz/$1" "${@:3}" -max_total_time="$2" -print_final_stats=1 -rss_limit_mb=2048 \
        >"build/sanitize/$1.log" 2>&1 || status=$?
    tail -n 12 "build/sanitize/$1.log"
    return $status
}
run corvane_fuzz "$seconds" "$corpus" tests/fuzz/corpus
side=$((seconds * 2 / 5))
run corvane_fuzz_i2cdev "$side" "$corpus-i2cdev" & i2cdev=$!
run corvane_fuzz_sim_state "$side" "$corpus-sim-state" tests/fuzz/corpus-sim-state & state=$!
wait $i2cdev && wait $state
