#!/usr/bin/env bash
# The main job: the whole bridge on a simulated device, until Ctrl+C.
#
# Builds the headless bridge, the device simulator and the probe; then, in a
# scratch folder, starts the simulator (preset C), writes a "tolv.conf" that
# points at it with the LAN server and WebSocket on, starts the bridge and
# lets the probe ask for four measurements a second. The bridge's event log
# and the values the probe receives are shown as they come.
#
# Usage: scripts/demo.sh [--view] [SECONDS]   (without SECONDS: until Ctrl+C)
# --view: no probe; the bridge's one client is the live view page it prints.
set -euo pipefail
cd "$(dirname "$0")/.."
view=0
if [ "${1:-}" = --view ]; then view=1; shift; fi
seconds=${1:-0}
rate=4

scripts/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc)" --target tolvane-headless tolvane-devsim tolvane-probe
bin=$PWD/build/native

scratch=$(mktemp -d /tmp/tolv-demo-XXXXXX)
devsim_pid="" bridge_pid=""
cleanup() {
    trap - EXIT INT TERM
    if [ -n "$bridge_pid" ] && kill -0 "$bridge_pid" 2>/dev/null; then
        kill -INT "$bridge_pid" 2>/dev/null || true
        timeout 10 tail --pid="$bridge_pid" -f /dev/null || kill -KILL "$bridge_pid" 2>/dev/null || true
    fi
    [ -n "$devsim_pid" ] && kill -TERM "$devsim_pid" 2>/dev/null || true
    sleep 0.2
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' TERM

# The simulator prints its terminal's path first.
mkfifo "$scratch/devsim.out"
"$bin/bin/tolvane-devsim" >"$scratch/devsim.out" 2>"$scratch/devsim.err" &
devsim_pid=$!
read -r -t 10 device <"$scratch/devsim.out" || {
    echo "the device simulator did not start:" >&2
    cat "$scratch/devsim.err" >&2
    exit 1
}
cat "$scratch/devsim.out" >/dev/null &

# The usual LAN port, or a free one if something else holds it.
port=$(python3 - <<'EOF'
import socket
s = socket.socket()
try:
    s.bind(("", 8096))
except OSError:
    s.bind(("", 0))
print(s.getsockname()[1])
EOF
)

# tolv.conf, line by line: serial port, screen distance, scroll speed, mouse
# averaging, LAN averaging, LAN port, air mouse (off: it would move your
# cursor), device preset (0 = C, polled), LAN on, WebSocket on, angles.
printf '%s\n1.000000\n4\n32\n1\n%s\n0\n0\n1\n1\n0\n' "$device" "$port" >"$scratch/tolv.conf"

echo
echo "Simulated device on $device; the bridge serves WebSocket clients on port $port."
echo "Working folder $scratch (its tolv.conf is the bridge's configuration)."
if [ "$seconds" -gt 0 ]; then echo "Running for $seconds s."; else echo "Ctrl+C ends it."; fi
# The live view: the page built here, else the committed one.
page=$PWD/web/view/dist/tolvane-view.html
[ -f "$bin/web/view/tolvane-view.html" ] && page=$bin/web/view/tolvane-view.html
echo "Live view: $(python3 -c 'import pathlib, sys; print(pathlib.Path(sys.argv[1]).as_uri())' "$page")?port=$port"
[ "$view" -eq 0 ] && echo "(the bridge serves one client, here the probe: scripts/demo.sh --view leaves it to the page)"
echo

cd "$scratch"
"$bin/bin/tolvane-headless" > >(sed -u 's/^/event log | /') 2>&1 &
bridge_pid=$!

if [ "$view" -eq 1 ]; then
    if [ "$seconds" -gt 0 ]; then sleep "$seconds"; else wait "$bridge_pid"; fi
    exit 0
fi

probe_args=(--websocket --port "$port" --rate "$rate")
[ "$seconds" -gt 0 ] && probe_args+=(--count "$((seconds * rate))")
"$bin/bin/tolvane-probe" "${probe_args[@]}" > >(sed -u 's/^/probe     | /') || true
sleep 0.2
