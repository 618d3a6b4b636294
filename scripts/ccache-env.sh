# SPDX-License-Identifier: MIT
# Sourced by the build scripts: compile through ccache when it is installed.
# The cache lives in ccache's own place (~/.cache/ccache); paths are taken
# relative to the source tree, so another clone of the tree hits the same
# entries. Without ccache everything builds as before.
if command -v ccache >/dev/null 2>&1; then
    export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
    export CCACHE_NOHASHDIR=1
fi
