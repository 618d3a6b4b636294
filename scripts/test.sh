#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite: the format
# check, the normal build (warnings are errors), the AddressSanitizer/UBSan
# build (clang, which also builds the fuzz target), the ThreadSanitizer build,
# the shared libraries, 84 seconds of fuzzing, and the Windows builds under
# Wine (scripts/test-windows.sh).
# Prints the wall time of every step at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh clang libclang-rt-14-dev
source scripts/ccache-env.sh
jobs=$(nproc)

steps=()
step() {
    local name=$1 start=$SECONDS
    shift
    echo "==== $name"
    "$@"
    steps+=("$(printf '%-28s %5d s' "$name" $((SECONDS - start)))")
}
report() {
    echo "==== wall time per step"
    printf '%s\n' "${steps[@]}"
    echo "total $SECONDS s"
}
trap report EXIT

run_preset() {
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1" -j"$jobs"
    ctest --preset "$1" -j"$jobs"
}

step "format check" scripts/check-format.sh
step "ci build and tests" run_preset ci
step "sanitize build and tests" run_preset sanitize
step "tsan build and tests" run_preset tsan
step "shared build and tests" run_preset shared
step "fuzzing" scripts/fuzz.sh 60

# CORVANE_SKIP_WINDOWS=1 skips the Windows part.
if [[ ${CORVANE_SKIP_WINDOWS:-0} != 1 ]]; then
    step "Windows builds under Wine" scripts/test-windows.sh
fi
