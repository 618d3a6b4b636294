#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite: the normal
# build (warnings are errors), the AddressSanitizer/UBSan build, the
# ThreadSanitizer build, and 60 seconds of fuzzing.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh clang libclang-rt-14-dev
jobs=$(nproc)

run_preset() {
    echo "==== $1 build"
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1" -j"$jobs"
    ctest --preset "$1" -j"$jobs"
}

run_preset ci
run_preset sanitize
run_preset tsan

echo "==== fuzzing"
scripts/fuzz.sh 60
