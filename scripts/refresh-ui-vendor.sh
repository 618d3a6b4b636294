#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Copies the browser libraries of the web interface (corvane ui) from the npm
# registry into tools/ui/page/vendor/, with their licences. The build embeds
# what lies there and needs no network; this script is only run to take a new
# version: change it in tools/ui/package.json, run the script with --update
# (which rewrites tools/ui/package-lock.json), check the pages
# (tests/ui/browser.test.mjs) and commit the lock and the vendored files.
# Without --update it installs exactly what the lock file names, so it can
# check that the vendored files are the lock's: `git diff` stays empty.
set -euo pipefail
cd "$(dirname "$0")/.."
ui=tools/ui
vendor=$ui/page/vendor
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$ui/package.json" "$ui/package-lock.json" "$work/"
if [[ ${1-} == --update ]]; then
    (cd "$work" && npm install --ignore-scripts --no-audit --no-fund)
    cp "$work/package-lock.json" "$ui/package-lock.json"
else
    (cd "$work" && npm ci --ignore-scripts --no-audit --no-fund)
fi
modules=$work/node_modules
rm -rf "$vendor"
mkdir -p "$vendor"
cp "$modules/preact/dist/preact.module.js" "$vendor/"
# The hooks import "preact" by its package name, which only a bundler or an
# import map resolves; the page loads the file beside it instead.
sed 's|from"preact"|from"./preact.module.js"|g' "$modules/preact/hooks/dist/hooks.module.js" \
    >"$vendor/hooks.module.js"
grep -q 'from"./preact.module.js"' "$vendor/hooks.module.js" ||
    { echo "refresh-ui-vendor.sh: preact's hooks no longer import \"preact\" as expected" >&2; exit 1; }
cp "$modules/htm/dist/htm.module.js" "$vendor/"
cp "$modules/uplot/dist/uPlot.iife.min.js" "$modules/uplot/dist/uPlot.min.css" "$vendor/"
# No source maps: the page has no use for them, and the browser would ask for them.
sed -i '/^\/\/# sourceMappingURL=/d' "$vendor"/*.js
for package in preact htm uplot; do
    cp "$modules/$package/LICENSE" "$vendor/LICENSE.$package"
done
{
    echo "The web interface's browser libraries, from the npm registry (scripts/refresh-ui-vendor.sh)."
    for package in preact htm uplot; do
        node -e 'const p = require(process.argv[1]); console.log(`${p.name} ${p.version} (${p.license})`)' \
            "$modules/$package/package.json"
    done
} >"$vendor/VERSIONS"
ls -l "$vendor"
