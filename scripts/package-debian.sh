#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian packages libcorvane0, libcorvane-dev, corvane-tools and
# python3-corvane with dpkg-buildpackage and checks them with lintian (errors
# and warnings fail, but for those debian/*.lintian-overrides accepts, each
# with its reason). Install them with: apt install ./build/packages/*.deb
# Usage: scripts/package-debian.sh [OUTPUT_DIR]   (default build/packages)
# The compile flags are the shared tree's (debian/rules): after
# `cmake --build --preset shared` ccache hands the library's objects over.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/packages}
scripts/install-deps.sh
source scripts/ccache-env.sh
if command -v ccache >/dev/null 2>&1; then
    # debhelper gives the build a HOME of its own, and with it another cache.
    CCACHE_DIR=$(ccache -k cache_dir)
    export CCACHE_DIR
fi

version=$(sed -n 's/^project(corvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
packaged=$(dpkg-parsechangelog -S Version)
if [[ ${packaged%%[-+~]*} != "$version" ]]; then
    echo "package-debian.sh: debian/changelog says $packaged, the project is $version: add an entry (dch -v $version)" >&2
    exit 1
fi

rm -rf "$out"
mkdir -p "$out"
out=$(cd "$out" && pwd)
changes=$out/corvane_${packaged}_$(dpkg-architecture -qDEB_HOST_ARCH).changes
CORVANE_DEB_DIR=$out dpkg-buildpackage -us -uc -b --post-clean -j"$(nproc)" \
    --buildinfo-option=-u"$out" --buildinfo-file="${changes%.changes}.buildinfo" \
    --changes-option=-u"$out" --changes-file="$changes" >"$out/build.log" 2>&1 ||
    { tail -n 40 "$out/build.log" >&2 && echo "package-debian.sh: dpkg-buildpackage failed; the log: $out/build.log" >&2 && exit 1; }
lintian --fail-on error,warning "$changes"
ls "$out"/*.deb
