#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs a Windows program under Wine, in a prefix of the build tree's own.
# Usage: wine-run.sh PREFIX PROGRAM [ARGS...]
#
# Wine's session (its server and services) is started here with no output
# attached and kept for a few seconds after the last program: services that
# a program started would inherit its output and keep whoever reads it
# (ctest) waiting, and a session per program costs seconds. The lock keeps
# programs started in parallel from racing to create the prefix.
set -e
WINEPREFIX=$1
shift
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
wine=wine
command -v wine >/dev/null 2>&1 || wine=/usr/lib/wine/wine64
wineserver=wineserver
command -v wineserver >/dev/null 2>&1 || wineserver=/usr/lib/wine/wineserver
mkdir -p "$(dirname "$WINEPREFIX")"
(
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        "$wine" wineboot --init </dev/null >/dev/null 2>&1 9>&- || true
    fi
    # Neither may inherit the lock: the session outlives this script.
    "$wineserver" -p10 </dev/null >/dev/null 2>&1 9>&- || true  # fails when one runs already
    "$wine" wineboot </dev/null >/dev/null 2>&1 9>&- || true
) 9>"$WINEPREFIX.lock"
exec "$wine" "$@"
