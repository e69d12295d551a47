#!/usr/bin/env bash
# The main job: the whole bridge on a simulated device, until Ctrl+C.
#
# Builds what it runs first (the bridge, the simulator, the probe) into
# build/demo/bin; then, in a scratch folder, starts the simulator (preset C),
# writes a "tolv.conf" that points at it with the LAN server and WebSocket
# on, starts the bridge and lets the probe ask for four measurements a
# second. The bridge's event log and the values the probe receives are shown
# as they come. Meanwhile the other programs (tolvane-config, tolvane-decode,
# tolvane-publish, the man pages) build at low priority; the demo waits for
# them when it ends, so that every program is there afterwards.
#
# Usage: scripts/demo.sh [--view] [SECONDS]   (without SECONDS: until Ctrl+C)
# --view: no probe; the bridge's one client is the live view page it prints.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
    echo "usage: scripts/demo.sh [--view] [SECONDS]"
    echo "Builds the bridge, the simulator and the probe into build/demo/bin (installing"
    echo "the build packages first if any is missing), then runs the bridge on the"
    echo "simulated device with the probe asking for four values a second, for SECONDS"
    echo "or until Ctrl+C. The other programs build meanwhile at low priority; the demo"
    echo "waits for them at its end."
    echo "With --view there is no probe: the bridge's one client is the live view page,"
    echo "whose address it prints (open it in a browser)."
    echo
    echo "Examples: scripts/demo.sh 10"
    echo "          scripts/demo.sh --view"
}
view=0
case "${1:-}" in
-h | --help)
    usage
    exit 0
    ;;
--view)
    view=1
    shift
    ;;
esac
if [ $# -gt 1 ] || ! [[ "${1:-0}" =~ ^[0-9]{1,6}$ ]]; then
    echo "demo.sh: '$*' is not a number of seconds" >&2
    echo "Try 'scripts/demo.sh --help'." >&2
    exit 2
fi
seconds=$((10#${1:-0}))
rate=4

scripts/install-deps.sh build
# A build tree of its own without the tests, so that the demo needs none of
# the test packages and leaves build/native as scripts/test.sh configured it.
# One compiler run per program folder (a unity build) takes about a third
# less time than one per file; should the sources ever not allow it, the
# tree is configured file by file again.
bin=$PWD/build/demo
first=(tolvane-devsim tolvane-headless tolvane-probe)
configure() {
    cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
        -DCMAKE_UNITY_BUILD:BOOL="$1" >/dev/null
}
unity() { sed -n 's/^CMAKE_UNITY_BUILD:[A-Z]*=//p' build/demo/CMakeCache.txt 2>/dev/null || true; }
unity=$(unity)
configure "${unity:-ON}"
mkdir -p "$bin/log"
if ! cmake --build build/demo -j "$(nproc)" --target "${first[@]}" 2>&1 | tee "$bin/log/first.txt"; then
    [ "${unity:-ON}" = ON ] || exit 1
    echo "demo.sh: the unity build failed (see above); building file by file"
    configure OFF
    cmake --build build/demo -j "$(nproc)" --target "${first[@]}"
fi
echo "Built ${first[*]}; the other programs build meanwhile ($bin/log/rest.txt)."
build_rest() {
    cmake --build build/demo -j "$(nproc)" && return 0
    [ "$(unity)" = ON ] || return 1
    echo "demo.sh: the unity build failed; building file by file"
    configure OFF && cmake --build build/demo -j "$(nproc)"
}
# The rest at the lowest priority, for the processor and the disk, so that
# it takes no time from the demo. (A background job of a script ignores
# Ctrl+C: the build goes on.)
(
    renice -n 19 -p "$BASHPID" >/dev/null
    ionice -c 3 -p "$BASHPID" 2>/dev/null || true
    build_rest
) >"$bin/log/rest.txt" 2>&1 &
rest_pid=$!

scratch=$(mktemp -d /tmp/tolv-demo-XXXXXX)
devsim_pid="" bridge_pid=""
cleanup() {
    local rest_status=0
    trap - EXIT INT TERM
    if [ -n "$bridge_pid" ] && kill -0 "$bridge_pid" 2>/dev/null; then
        kill -INT "$bridge_pid" 2>/dev/null || true
        timeout 10 tail --pid="$bridge_pid" -f /dev/null || kill -KILL "$bridge_pid" 2>/dev/null || true
    fi
    [ -n "$devsim_pid" ] && kill -TERM "$devsim_pid" 2>/dev/null || true
    sleep 0.2
    rm -rf "$scratch"
    echo
    if kill -0 "$rest_pid" 2>/dev/null; then
        echo "Waiting for the build of the other programs ($bin/log/rest.txt) ..."
    fi
    wait "$rest_pid" || rest_status=$?
    if [ "$rest_status" -ne 0 ]; then
        tail -n 20 "$bin/log/rest.txt" >&2
        echo "demo.sh: building the other programs failed; all of it is in $bin/log/rest.txt" >&2
        exit 1
    fi
    echo "Every program is in $bin/bin; for example:"
    echo "  $bin/bin/tolvane-config --file samples/tolv.conf show"
    echo "  export PATH=\"$bin/bin:\$PATH\"   # then tolvane-config show, tolvane-probe --help, ..."
}
trap cleanup EXIT
trap 'exit 143' TERM

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

# The usual LAN port, or the next one that nothing listens on.
listening() {
    local hex
    hex=$(printf '%04X' "$1")
    cat /proc/net/tcp /proc/net/tcp6 2>/dev/null | awk -v p=":$hex" \
        '$4 == "0A" && substr($2, length($2) - 4) == p { found = 1 } END { exit !found }'
}
port=8096
while listening "$port" && [ "$port" -lt 8196 ]; do port=$((port + 1)); done

# tolv.conf, line by line: serial port, screen distance, scroll speed, mouse
# averaging, LAN averaging, LAN port, air mouse (off: it would move your
# cursor), device preset (0 = C, polled), LAN on, WebSocket on, angles.
printf '%s\n1.000000\n4\n32\n1\n%s\n0\n0\n1\n1\n0\n' "$device" "$port" >"$scratch/tolv.conf"

echo
echo "Simulated device on $device; the bridge serves WebSocket clients on port $port."
echo "Working folder $scratch (its tolv.conf is the bridge's configuration)."
echo "Each value: d = three angles in degrees (about x, y, z), q = the orientation quaternion (x, y, z, w), b = the five buttons (1 = pressed)."
if [ "$seconds" -gt 0 ]; then echo "Running for $seconds s."; else echo "Ctrl+C ends it."; fi
# The live view: the page built here, else the committed one.
page=$PWD/web/view/dist/tolvane-view.html
[ -f "$bin/web/view/tolvane-view.html" ] && page=$bin/web/view/tolvane-view.html
echo "Live view: file://${page// /%20}?port=$port"
[ "$view" -eq 0 ] && echo "(the bridge serves one client, here the probe: scripts/demo.sh --view leaves it to the page)"
echo

cd "$scratch"
# The prefixing filters ignore Ctrl+C, so that the probe's summary still gets through.
# Standard output is the event log; standard error the bridge's notes for people.
# (The notes' filter is set up first, so that it writes to the terminal and
# not into the event log's filter.)
"$bin/bin/tolvane-headless" 2> >(trap '' INT; sed -u 's/^tolvane-headless: /note      | /') \
    > >(trap '' INT; sed -u 's/^/event log | /') &
bridge_pid=$!

# Waits run in the background, so that SIGTERM is acted on at once (bash
# runs a trap only after a foreground command has ended).
if [ "$view" -eq 1 ]; then
    if [ "$seconds" -gt 0 ]; then
        sleep "$seconds" &
        wait $!
    else
        wait "$bridge_pid"
    fi
    exit 0
fi

probe_args=(--websocket --port "$port" --rate "$rate" --connect-wait 10)
[ "$seconds" -gt 0 ] && probe_args+=(--count "$((seconds * rate))")
# Ctrl+C (or SIGTERM) reaches the probe too: it prints its summary and ends,
# and so does the demo.
"$bin/bin/tolvane-probe" "${probe_args[@]}" > >(trap '' INT; sed -u 's/^/probe     | /') &
probe_pid=$!
status=0
trap 'status=130; kill -INT "$probe_pid" 2>/dev/null' INT
trap 'status=143; kill -TERM "$probe_pid" 2>/dev/null' TERM
while kill -0 "$probe_pid" 2>/dev/null; do wait "$probe_pid" || true; done
sleep 0.2
[ "$status" = 0 ] || exit "$status"
