#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Fails when a C or C++ file of the tree differs from what clang-format makes
# of it (.clang-format), or a file lacks the licence's SPDX line.
# Fix with: git ls-files '*.cpp' '*.hpp' '*.h' '*.c' | xargs clang-format -i; scripts/spdx.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh format >/dev/null
git ls-files -z '*.cpp' '*.hpp' '*.h' '*.c' | xargs -0 clang-format --dry-run --Werror
echo "format check: $(git ls-files '*.cpp' '*.hpp' '*.h' '*.c' | wc -l) files formatted"
scripts/spdx.sh --check
