#!/usr/bin/env bash
# Installs what is missing, builds, and runs the demo on a virtual bridge.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)"
./build/default/examples/corvane_sim_demo
