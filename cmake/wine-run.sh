#!/usr/bin/env bash
# Runs a cross-built Windows program under wine, in a private prefix kept in the
# build tree (CTest starts tests in their build folder; TOLVANE_WINEPREFIX overrides).
set -u
prefix=${TOLVANE_WINEPREFIX:-}
if [ -z "$prefix" ]; then
    dir=$PWD
    while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
    [ "$dir" = / ] && dir=$PWD
    prefix=$dir/wineprefix
fi
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEARCH=win64
if [ ! -f "$WINEPREFIX/.tolvane-ready" ]; then
    mkdir -p "$WINEPREFIX"
    (
        flock 9
        if [ ! -f "$WINEPREFIX/.tolvane-ready" ]; then
            wineboot -i >/dev/null 2>&1
            wineserver -w
            touch "$WINEPREFIX/.tolvane-ready"
        fi
    ) 9>"$WINEPREFIX.lock"
fi
exec wine "$@"
