#!/usr/bin/env bash
# End-to-end latency: simulated device -> headless bridge -> LAN client.
# Runs the simulator (preset C, answering each poll at once), the headless
# bridge and the probe for a fixed number of requests, once plain and once
# over a WebSocket, and prints the probe's round-trip percentiles.
#
# Usage: bench/e2e_latency.sh [REQUESTS] [BUILD_DIR]
#   REQUESTS   requests per run (default 5000)
#   BUILD_DIR  a native build tree (default build/native, built if missing)
#
# For comparison: a real device on a polled 115200-baud line needs at least
# the poll byte and a 76-byte line on the wire, 77 bytes * 10 bits / 115200
# = about 6.7 ms per request, before any processing.
set -euo pipefail
cd "$(dirname "$0")/.."
requests=${1:-5000}
build=${2:-build/native}
if [ ! -x "$build/bin/tolvane-headless" ] || [ ! -x "$build/bin/tolvane-devsim" ] ||
    [ ! -x "$build/bin/tolvane-probe" ]; then
    cmake --preset native >/dev/null
    cmake --build "$build" -j2 --target tolvane-headless tolvane-devsim tolvane-probe
fi
build=$(cd "$build" && pwd)

work=$(mktemp -d /tmp/tolv-bench-XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill -INT "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do timeout 10 tail --pid="$pid" -f /dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

mkfifo "$work/devsim.fifo"
"$build/bin/tolvane-devsim" >"$work/devsim.fifo" 2>"$work/devsim.err" &
pids+=($!)
read -r -t 10 device <"$work/devsim.fifo"
cat "$work/devsim.fifo" >/dev/null &

run() {
    local ws=$1 name=$2 port bridge
    port=$(free_port)
    # preset C, LAN on, air mouse off, LAN averaging 1
    printf '%s\n1.000000\n4\n32\n1\n%s\n0\n0\n1\n%s\n0\n' "$device" "$port" "$ws" >"$work/tolv.conf"
    (cd "$work" && exec "$build/bin/tolvane-headless" >"$work/$name.log" 2>&1) &
    bridge=$!
    local args=(--port "$port" --count "$requests" --quiet --connect-wait 10)
    [ "$ws" = 1 ] && args+=(--websocket)
    echo "== $name, $requests requests"
    "$build/bin/tolvane-probe" "${args[@]}"
    kill -INT "$bridge"
    wait "$bridge"
}

run 0 plain
run 1 websocket
echo "(wire limit of a polled 115200-baud line: 77 bytes, about 6.7 ms per request)"
