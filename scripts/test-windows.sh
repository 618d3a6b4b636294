#!/usr/bin/env bash
# Cross-builds for 64-bit Windows with mingw-w64 and runs the tests under
# Wine, each build in a fresh Wine prefix of its own: the static build (the
# whole suite, the real Windows backend included) and the DLL build (the
# public API through the DLLs, and their exports).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh g++-mingw-w64-x86-64-posix wine wine64
source scripts/ccache-env.sh
jobs=$(nproc)
start=$SECONDS

for preset in mingw mingw-shared; do
    prefix="$PWD/build/$preset/wineprefix"
    if [[ -d $prefix ]]; then
        WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
        rm -rf "$prefix" "$prefix.lock"
    fi
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j"$jobs"
    status=0
    ctest --preset "$preset" -j"$jobs" || status=$?
    # The Wine session would linger a few seconds after the last program.
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    ((status == 0)) || exit "$status"
done
echo "Windows build and tests under Wine: $((SECONDS - start)) s"
