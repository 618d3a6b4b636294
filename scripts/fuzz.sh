#!/usr/bin/env bash
# Builds the libFuzzer target with clang and runs it from the seed corpus.
# Usage: scripts/fuzz.sh [seconds]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
scripts/install-deps.sh clang libclang-rt-14-dev
source scripts/ccache-env.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$(nproc)"
corpus=build/fuzz/corpus
mkdir -p "$corpus"
cp -n tests/fuzz/corpus/* "$corpus"/ 2>/dev/null || true
# New inputs go to the build folder; the seeds in the tree stay as they are.
./build/fuzz/tests/fuzz/corvane_fuzz "$corpus" tests/fuzz/corpus -max_total_time="$seconds" \
    -print_final_stats=1 -rss_limit_mb=2048 2>&1 | tail -n 12
