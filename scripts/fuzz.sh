#!/usr/bin/env bash
# Builds the libFuzzer target (clang, in the sanitizer tree) and runs it from
# the seed corpus.
# Usage: scripts/fuzz.sh [seconds]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
scripts/install-deps.sh sanitize
source scripts/ccache-env.sh
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize -j"$(nproc)" --target corvane_fuzz
corpus=build/sanitize/fuzz-corpus
mkdir -p "$corpus"
cp -n tests/fuzz/corpus/* "$corpus"/ 2>/dev/null || true
# New inputs go to the build folder; the seeds in the tree stay as they are.
./build/sanitize/tests/fuzz/corvane_fuzz "$corpus" tests/fuzz/corpus -max_total_time="$seconds" \
    -print_final_stats=1 -rss_limit_mb=2048 2>&1 | tail -n 12
