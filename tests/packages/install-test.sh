#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the packages that scripts/package-debian.sh made with apt, as the
# README tells users to, into a throw-away overlay of the test run's root (only
# Debian's base system and install-deps.sh's packages; scripts/fresh-root.sh),
# and runs installed-checks.sh there. The cached root stays as it was.
# Usage: tests/packages/install-test.sh [PACKAGE_DIR]   (default build/packages)
set -euo pipefail
cd "$(dirname "$0")/../.."
dir=${1:-build/packages}
debs=("$dir"/*.deb)
[[ -e ${debs[0]} ]] || { echo "install-test: no packages in $dir (scripts/package-debian.sh makes them)" >&2 && exit 1; }
root=$(scripts/fresh-root.sh $(scripts/install-deps.sh --list all))
scripts/fresh-root.sh --run "$root" --writable --bind "$PWD" -- bash -c '
    set -euo pipefail
    export DEBIAN_FRONTEND=noninteractive
    # The manual pages index is not needed to read a page, and takes long to make.
    echo "man-db man-db/auto-update boolean false" | debconf-set-selections
    apt-get install -y -qq --no-install-recommends "$@" >/dev/null
    tests/packages/installed-checks.sh "$PWD"' install-test "${debs[@]/#/$PWD/}"
