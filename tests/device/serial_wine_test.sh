#!/usr/bin/env bash
# Runs the Windows serial link test under wine against three simulators, each
# registered as a COM port of a private wine prefix.
# Usage: serial_wine_test.sh WINE_RUNNER TEST_EXE DEVSIM PREFIX
# Exit 77 (skipped) when no simulator can be built here.
set -u
runner=$1 exe=$2 devsim=$3 prefix=$4
here=$(cd "$(dirname "$0")" && pwd)
[ -x "$devsim" ] || {
    echo "no simulator at $devsim"
    exit 77
}
com_ports="COM41 COM42 COM43"
. "$here/../support/wine_bridge.sh"
wine_test_scratch serial

# Starts one simulator; its link is the COM port's target.
start() {
    local port=$1
    shift
    mkfifo "$tmp/$port.out"
    "$devsim" --link "$tmp/$port" "$@" >"$tmp/$port.out" &
    pids+=($!)
    local path
    read -r -t 10 path <"$tmp/$port.out" || {
        echo "simulator for $port did not start"
        exit 1
    }
    # Keep the pipe drained in case the simulator prints again.
    cat "$tmp/$port.out" >/dev/null &
    "$here/../support/com_port.sh" "$prefix" "$port" "$tmp/$port"
    echo "$port -> $path ($*)"
}

wine_test_boot

start COM41 --garbage 3 --bad-checksum 3 --cut 4:61
start COM42 --silence-after 0
# At 100 lines a second line k is the motion's step k exactly.
start COM43 --stream 100

TOLVANE_COM_POLLED=COM41 TOLVANE_COM_SILENT=COM42 TOLVANE_COM_STREAM=COM43 \
    timeout 400 "$runner" "$exe"
