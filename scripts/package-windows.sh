#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Makes the Windows release archive from the two mingw-w64 builds, building
# what it needs of them first:
#   bin/      corvane.dll, corvane_sim.dll, corvane.exe (static, no DLLs needed),
#             corvane_pacing.exe (the pauses' timing on this machine)
#   lib/      import libraries (*.dll.a), .def files, the CMake package of the DLLs
#   include/  the C++ and C headers
#   static/   the static libraries with their own CMake package and headers
#   python/   the Python package, the DLLs beside it
#   licences/ those of the browser libraries corvane.exe serves (corvane ui)
#   README.md, LICENSE (the MIT licence; also in python/)
# A zip archive when zip is installed, else a .tar.gz.
# Usage: scripts/package-windows.sh [OUTPUT_DIR]   (default build/package)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ccache-env.sh
jobs=$(nproc)
out=${1:-build/package}
version=$(sed -n 's/^project(corvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=corvane-$version-windows-x64
stage=$out/$name

for preset in mingw mingw-shared; do
    [[ -f build/$preset/CMakeCache.txt ]] || cmake --preset "$preset" >/dev/null
done
cmake --build build/mingw-shared -j"$jobs" --target corvane corvane_sim >&2
cmake --build build/mingw -j"$jobs" --target corvane corvane_sim corvane_tool corvane_pacing >&2

rm -rf "$stage" "$out/$name.zip" "$out/$name.tar.gz"
mkdir -p "$stage"
cmake --install build/mingw-shared --prefix "$stage" --strip >/dev/null
cmake --install build/mingw --prefix "$stage/static" --strip >/dev/null
mv "$stage/static/bin/corvane.exe" "$stage/bin/"
# Measures the pauses that pace bus transfers on the machine it runs on.
x86_64-w64-mingw32-strip -o "$stage/bin/corvane_pacing.exe" build/mingw/bench/corvane_pacing.exe
# Not for Windows: the manual page; pkg-config files name the build's own prefix.
rm -rf "$stage/static/bin" "$stage/static/share" "$stage/lib/pkgconfig" "$stage/static/lib/pkgconfig"
x86_64-w64-mingw32-strip --strip-debug "$stage"/static/lib/*.a

mkdir -p "$stage/python"
cp -r python/corvane python/setup.py python/README.md "$stage/python/"
find "$stage/python" -name __pycache__ -prune -exec rm -rf {} +
cp "$stage"/bin/corvane.dll "$stage"/bin/corvane_sim.dll "$stage/python/corvane/"
cp README.md LICENSE "$stage/"
cp LICENSE "$stage/python/"
mkdir -p "$stage/licences"
cp tools/ui/page/vendor/LICENSE.* tools/ui/page/vendor/VERSIONS "$stage/licences/"

if command -v zip >/dev/null 2>&1; then
    archive=$out/$name.zip
    (cd "$out" && zip -qr9 "$name.zip" "$name")
else
    archive=$out/$name.tar.gz
    tar -C "$out" -czf "$archive" "$name"
fi
echo "$archive"
