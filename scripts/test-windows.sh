#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Cross-builds for 64-bit Windows with mingw-w64 and runs the tests under
# Wine, each build in a fresh Wine prefix of its own: the static build (the
# whole suite, the real Windows backend and corvane.exe included) and the DLL
# build (the public API through the DLLs, and their exports). Then makes the
# release archive, lists it and runs the C test program and a CMake consumer
# built against it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh windows
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

archive=$(scripts/package-windows.sh)
case $archive in
    *.zip) unzip -l "$archive" ;;
    *) tar -tvzf "$archive" ;;
esac
# The archive as a user unpacks it: the C test program compiled against its
# headers and import libraries, run beside its DLLs.
check=build/package/check
package=${archive%.zip}
package=${package%.tar.gz}
rm -rf "$check" && mkdir -p "$check"
x86_64-w64-mingw32-gcc-posix -std=c99 -I"$package/include" tests/capi/capi_test.c \
    "$package/lib/corvane.dll.a" "$package/lib/corvane_sim.dll.a" -o "$check/capi_test.exe"
cp "$package"/bin/*.dll "$check/"
# And a C++ program that knows only find_package(corvane), on the DLLs.
cmake -S tests/install_consumer -B "$check/consumer" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
    -Dcorvane_DIR="$PWD/$package/lib/cmake/corvane" >/dev/null
cmake --build "$check/consumer" >/dev/null
cp "$check/consumer/consumer.exe" "$check/"
prefix="$PWD/build/mingw-shared/wineprefix"
status=0
cmake/wine-run.sh "$prefix" "$check/capi_test.exe" || status=$?
cmake/wine-run.sh "$prefix" "$check/consumer.exe" || status=$?
WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
((status == 0)) || exit "$status"
echo "Windows build and tests under Wine: $((SECONDS - start)) s"
