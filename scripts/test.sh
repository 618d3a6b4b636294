#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds and runs the whole test suite: the format
# check, the normal build (warnings are errors), the AddressSanitizer/UBSan
# build (clang, which also builds the fuzz target), the ThreadSanitizer build,
# the shared libraries, the Debian packages (built, linted, installed in a
# throw-away root and tried there), 84 seconds of fuzzing, the web interface
# in a real browser (scripts/test-browser.sh) and the Windows builds under
# Wine (scripts/test-windows.sh).
#
# Everything runs in a root that holds only Debian's base system and the
# packages scripts/install-deps.sh installs (scripts/fresh-root.sh), as on a
# new machine: whatever a test uses and the list leaves out is missing there,
# and the run fails. A test that is skipped fails the run too, unless the
# person running asked for that skip by name:
#   CORVANE_SKIP_VM=1        the tests in the qemu VM (tests/e2e, tests/i2cdev)
#   CORVANE_SKIP_WINDOWS=1   the Windows builds under Wine
#   CORVANE_SKIP_BROWSER=1   the web interface in a real browser
#   CORVANE_SKIP_FRESH_ROOT=1  run on this machine as it is
# Prints the wall time of every step at the end, and what was skipped.
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ ! -e /etc/corvane-fresh-root && ${CORVANE_SKIP_FRESH_ROOT:-0} != 1 ]]; then
    start=$SECONDS
    scripts/install-deps.sh all
    root=$(scripts/fresh-root.sh $(scripts/install-deps.sh --list all))
    echo "test root: $root"
    binds=(--bind "$PWD")
    # A worktree's repository lies outside it.
    common=$(git rev-parse --path-format=absolute --git-common-dir 2>/dev/null) || common=$PWD
    [[ $common == "$PWD"/* ]] || binds+=(--bind "$common")
    export CORVANE_SETUP_SECONDS=$((SECONDS - start))
    exec scripts/fresh-root.sh --run "$root" "${binds[@]}" -- bash scripts/test.sh
fi
scripts/install-deps.sh all
source scripts/ccache-env.sh
jobs=$(nproc)

steps=() notes=() current=
step() {
    local name=$1 start=$SECONDS
    shift
    echo "==== $name"
    current=$name
    "$@"
    current=
    steps+=("$(printf '%-28s %5d s' "$name" $((SECONDS - start)))")
}
report() {
    echo "==== wall time per step"
    printf '%s\n' "${steps[@]}"
    [[ -z $current ]] || echo "FAILED: $current"
    echo "total $((SECONDS + ${CORVANE_SETUP_SECONDS:-0})) s"
    ((${#notes[@]} == 0)) || printf '%s\n' "${notes[@]}"
}
trap report EXIT
if [[ -e /etc/corvane-fresh-root ]]; then
    steps+=("$(printf '%-28s %5d s' "set-up and test root" "${CORVANE_SETUP_SECONDS:-0}")")
else
    notes+=("not in a fresh root: CORVANE_SKIP_FRESH_ROOT=1 (packages that install-deps.sh lacks go unnoticed)")
fi

# Builds and tests a preset. A skipped test fails it, but for the VM tests
# when CORVANE_SKIP_VM=1 asked for their skip.
run_preset() {
    local log=build/$1/ctest.log skipped unasked
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1" -j"$jobs"
    ctest --preset "$1" -j"$jobs" | tee "$log"
    skipped=$(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "$log" | xargs)
    [[ -n $skipped ]] || return 0
    unasked=$skipped
    if [[ ${CORVANE_SKIP_VM:-0} == 1 ]]; then
        notes+=("$1: skipped by CORVANE_SKIP_VM=1: $skipped")
        unasked=$(comm -23 <(printf '%s\n' $skipped | sort) \
            <(ctest --preset "$1" -N -L e2e | sed -n 's/^ *Test *#[0-9]*: //p' | sort) | xargs)
    fi
    if [[ -n $unasked ]]; then
        notes+=("$1: FAILED: skipped without being asked for: $unasked (the reasons are in the test output)")
        echo "==== $1: skipped without being asked for: $unasked" >&2
        return 1
    fi
}

step "format check" scripts/check-format.sh
step "ci build and tests" run_preset ci
if [[ ${CORVANE_SKIP_BROWSER:-0} != 1 ]]; then
    step "browser test" scripts/test-browser.sh build/ci
else
    notes+=("browser test: skipped by CORVANE_SKIP_BROWSER=1")
fi
step "sanitize build and tests" run_preset sanitize
step "tsan build and tests" run_preset tsan
step "shared build and tests" run_preset shared
# After the shared tree, whose objects the package build takes from ccache.
step "Debian packages and lintian" scripts/package-debian.sh
step "packages installed" tests/packages/install-test.sh
step "fuzzing" scripts/fuzz.sh 60

if [[ ${CORVANE_SKIP_WINDOWS:-0} != 1 ]]; then
    step "Windows builds under Wine" scripts/test-windows.sh
else
    notes+=("Windows builds under Wine: skipped by CORVANE_SKIP_WINDOWS=1")
fi
