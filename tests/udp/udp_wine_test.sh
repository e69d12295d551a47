#!/usr/bin/env bash
# The Windows headless bridge under wine sends opentrack poses: the native
# simulator streams (preset B) on a COM port with a fixed turn of 10 degrees
# about each device axis in turn, and a native receiver checks the 48-byte
# datagrams (that one angle, the others and x, y, z 0).
# Usage: udp_wine_test.sh WINE_RUNNER HEADLESS_EXE DEVSIM PREFIX
# Exit 77 (skipped) when the native simulator is not built.
set -u
runner=$1 exe=$2 devsim=$3 prefix=$4
here=$(cd "$(dirname "$0")" && pwd)
[ -x "$devsim" ] || {
    echo "no native tolvane-devsim at $devsim"
    exit 77
}
com_ports="COM18"
. "$here/../support/wine_bridge.sh"
wine_test_start udp

# The receiver holds its port from the start and checks the turns in order.
python3 - "$tmp/port.txt" >"$tmp/receiver.txt" 2>&1 <<'PY' &
import math, socket, struct, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 0))
with open(sys.argv[1] + ".new", "w") as f:
    f.write(str(s.getsockname()[1]))
import os
os.rename(sys.argv[1] + ".new", sys.argv[1])
s.settimeout(120)
expected = [(0, 10, 0), (-10, 0, 0), (0, 0, 10)]
for axis, want in enumerate(expected):
    run = 0
    while run < 20:
        data = s.recv(200)
        assert len(data) == 48, len(data)
        x, y, z, *angles = struct.unpack("<6d", data)
        assert (x, y, z) == (0, 0, 0), (x, y, z)
        if all(abs(a - b) < 1e-3 for a, b in zip(angles, want)):
            run += 1
        else:
            # Only the previous turn's poses may still come before this one's.
            assert run == 0 and axis > 0 and all(
                abs(a - b) < 1e-3 for a, b in zip(angles, expected[axis - 1])), (axis, angles)
    print("turn", axis, "ok")
    sys.stdout.flush()
PY
receiver=$!
pids+=($receiver)
for _ in $(seq 1 100); do [ -f "$tmp/port.txt" ] && break; sleep 0.1; done
port=$(cat "$tmp/port.txt") || fail "the receiver did not start"

# COM18, preset B, no LAN, no mouse; the output on.
printf 'COM18\n1.000000\n4\n32\n1\n8096\n0\n1\n0\n0\n0\nudpTarget=127.0.0.1:%s\nudpFormat=opentrack\n' \
    "$port" >"$tmp/tolv.conf"

half=$(python3 -c 'import math; print(math.sin(math.radians(5)), math.cos(math.radians(5)))')
set -- $half
quats=("$1,0,0,$2" "0,$1,0,$2" "0,0,$1,$2")
bridge=
for axis in 0 1 2; do
    mkfifo "$tmp/devsim$axis.fifo"
    "$devsim" --link "$tmp/dev$axis" --stream 100 --quat "${quats[$axis]}" \
        >"$tmp/devsim$axis.fifo" &
    sim=$!
    pids+=($sim)
    read -r -t 10 _ <"$tmp/devsim$axis.fifo" || fail "the simulator did not start"
    cat "$tmp/devsim$axis.fifo" >/dev/null &
    "$here/../support/com_port.sh" "$prefix" COM18 "$tmp/dev$axis"
    if [ -z "$bridge" ]; then
        (cd "$tmp" && exec "$runner" "$exe" >"$tmp/log.txt" 2>"$tmp/err.txt") &
        bridge=$!
        pids+=($bridge)
    fi
    for _ in $(seq 1 1800); do
        grep -q "turn $axis ok" "$tmp/receiver.txt" && break
        # It may have printed the last turn and ended since the grep above.
        kill -0 "$receiver" 2>/dev/null || grep -q "turn $axis ok" "$tmp/receiver.txt" ||
            fail "turn $axis: the receiver failed"
        sleep 0.1
    done
    grep -q "turn $axis ok" "$tmp/receiver.txt" || fail "turn $axis: no poses"
    # The next simulator: the bridge loses the port, restarts and opens the new one.
    kill "$sim"
done

kill -INT "$bridge"
timeout 30 tail --pid="$bridge" -f /dev/null || fail "Ctrl+C did not end the bridge"
wait "$bridge"
status=$?
[ "$status" = 0 ] || fail "exit status $status"
grep -q "UDP output: sending opentrack poses to 127.0.0.1:$port" "$tmp/err.txt" ||
    fail "no note about the UDP output"
grep -q UDP "$tmp/log.txt" && fail "the event log mentions the UDP output"
echo "three turns passed"
