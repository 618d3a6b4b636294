#!/usr/bin/env bash
# Fails when a C or C++ file of the tree differs from what clang-format makes
# of it (.clang-format). Fix with: git ls-files '*.cpp' '*.hpp' '*.h' '*.c' | xargs clang-format -i
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh format >/dev/null
git ls-files -z '*.cpp' '*.hpp' '*.h' '*.c' | xargs -0 clang-format --dry-run --Werror
echo "format check: $(git ls-files '*.cpp' '*.hpp' '*.h' '*.c' | wc -l) files formatted"
