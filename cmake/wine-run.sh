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
# A server that stays 30 s after its last client: without it, a test that
# starts just as the server of the test before is exiting finds it gone
# ("wine client error: recvmsg: Connection reset by peer"). A server already
# running makes this a no-op.
wineserver -p30 >/dev/null 2>&1
exec wine "$@"
