#!/usr/bin/env bash
# Runs the Windows build's tests under wine with one wine server for the
# default prefix kept up from the first test to the last. Left to itself,
# each test's server exits as the test ends, and a test whose wine connects
# in that moment fails at once ("recvmsg: Connection reset by peer").
# The server is started by a console that reads a FIFO nobody writes to, so
# the services wine starts with it hold none of a test's output pipes (a test
# that reads a program's output to its end would wait for them).
# Run on a display (xvfb-run): the desktop wine starts belongs to it.
# Usage: scripts/ctest-wine.sh [CTEST ARGS...]
set -u
cd "$(dirname "$0")/.."
build=build/windows
runner=$PWD/cmake/wine-run.sh
[ -f "$build/CMakeCache.txt" ] || {
    echo "ctest-wine.sh: $build is not configured (cmake --preset windows)" >&2
    exit 2
}
hold=$(mktemp -d)
keeper=
release() {
    if [ -n "$keeper" ]; then
        WINEPREFIX=$PWD/$build/wineprefix timeout 30 wineserver -k >/dev/null 2>&1
        timeout 10 tail --pid="$keeper" -f /dev/null
    fi
    exec 7>&- 2>/dev/null
    rm -rf "$hold"
}
trap release EXIT
# The prefix is made (and its first server ends) before the keeper starts.
(cd "$build" && timeout 300 "$runner" cmd /c exit >/dev/null 2>&1)
mkfifo "$hold/fifo"
exec 7<>"$hold/fifo"
(cd "$build" && exec "$runner" cmd <"$hold/fifo" >/dev/null 2>&1) &
keeper=$!
# The first test starts once the kept server answers another program.
(cd "$build" && timeout 120 "$runner" cmd /c exit >/dev/null 2>&1)
kill -0 "$keeper" 2>/dev/null || echo "ctest-wine.sh: the wine server could not be kept up" >&2
ctest --preset windows "$@"
