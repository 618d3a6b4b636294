#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite: the normal
# build (warnings are errors), the AddressSanitizer/UBSan build, the
# ThreadSanitizer build, the shared libraries, 60 seconds of fuzzing, and the
# Windows builds under Wine (scripts/test-windows.sh).
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
run_preset shared

echo "==== fuzzing"
scripts/fuzz.sh 60

# CORVANE_SKIP_WINDOWS=1 skips the Windows part.
if [[ ${CORVANE_SKIP_WINDOWS:-0} != 1 ]]; then
    echo "==== Windows builds under Wine"
    scripts/test-windows.sh
fi
