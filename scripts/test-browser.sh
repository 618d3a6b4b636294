#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The web interface in a real browser: Debian's chromium, headless, driven by
# playwright-core from the npm registry (tests/ui/browser.test.mjs), against
# `corvane ui --sim` of a build tree. Screenshots of every page go to
# BUILD/ui-screenshots/.
# Usage: scripts/test-browser.sh [BUILD]     (default build/ci; it must hold the tool)
#
# playwright-core is installed from tests/ui/package-lock.json once per lock
# file, outside the clone (~/.cache/corvane/node/, like ccache's cache), so
# that every clone on the machine and CI's fresh one find it; the three used
# last are kept. Playwright's own browser download is never used.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh browser
build=${1:-build/ci}
if [[ ! -x $build/tools/corvane ]]; then
    echo "test-browser.sh: $build/tools/corvane is not built" >&2
    exit 1
fi

cache=${XDG_CACHE_HOME:-$HOME/.cache}/corvane/node
key=$(cat tests/ui/package.json tests/ui/package-lock.json | sha256sum | cut -c1-16)
modules=$cache/$key
if [[ ! -d $modules/node_modules ]]; then
    mkdir -p "$cache"
    work=$(mktemp -d "$cache/.new.XXXXXX")
    cp tests/ui/package.json tests/ui/package-lock.json "$work/"
    (cd "$work" && npm ci --ignore-scripts --no-audit --no-fund --cache "$cache/.npm")
    # Another run may have put the same one in place meanwhile.
    mv -T "$work" "$modules" 2>/dev/null || rm -rf "$work"
fi
touch "$modules"
ls -dt "$cache"/*/ | tail -n +4 | xargs -r rm -rf

export CORVANE_PLAYWRIGHT=$modules/node_modules/playwright-core/index.mjs
export CORVANE_TOOL=$PWD/$build/tools/corvane
export CORVANE_UI_SCREENSHOTS=$PWD/$build/ui-screenshots
# Node picks its reporter: readable on a terminal, TAP in a pipe.
exec node --test tests/ui/browser.test.mjs
