#!/usr/bin/env bash
# The Windows headless bridge under wine serves DSU clients: the native
# simulator streams (preset B) on a COM port with a fixed turn, acceleration
# and button 0 down, and a native DSU client (zlib.crc32 and struct) checks
# the version and port answers, that packets with a wrong CRC, a short one
# and a wrong magic go unanswered, and the pad data: counters in a row, the
# acceleration in g, button A, no rate for a device that does not turn.
# Usage: dsu_wine_test.sh WINE_RUNNER HEADLESS_EXE DEVSIM PREFIX
# Exit 77 (skipped) when the native simulator is not built.
set -u
runner=$1 exe=$2 devsim=$3 prefix=$4
here=$(cd "$(dirname "$0")" && pwd)
[ -x "$devsim" ] || {
    echo "no native tolvane-devsim at $devsim"
    exit 77
}
com_ports="COM17"
. "$here/../support/wine_bridge.sh"
wine_test_start dsu

port=$(python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkfifo "$tmp/devsim.fifo"
"$devsim" --link "$tmp/dev" --stream 100 --quat 0.1,0,0,0.99498744 --accel 0.1,-0.98,0.2 \
    --buttons 10000 >"$tmp/devsim.fifo" &
pids+=($!)
read -r -t 10 _ <"$tmp/devsim.fifo" || fail "the simulator did not start"
cat "$tmp/devsim.fifo" >/dev/null &
"$here/../support/com_port.sh" "$prefix" COM17 "$tmp/dev"

# COM17, preset B, no LAN, no mouse; the DSU server on.
printf 'COM17\n1.000000\n4\n32\n1\n8096\n0\n1\n0\n0\n0\ndsuServer=on\ndsuPort=%s\n' \
    "$port" >"$tmp/tolv.conf"
(cd "$tmp" && exec "$runner" "$exe" >"$tmp/log.txt" 2>"$tmp/err.txt") &
bridge=$!
pids+=($bridge)

timeout 240 python3 - "$port" >"$tmp/client.txt" 2>&1 <<'PY' || fail "the DSU client failed"
import socket, struct, sys, time, zlib
port = int(sys.argv[1])

def packet(kind, payload=b"", magic=b"DSUC", spoil=False):
    body = struct.pack("<I", kind) + payload
    p = bytearray(magic + struct.pack("<HHII", 1001, len(body), 0, 7) + body)
    struct.pack_into("<I", p, 8, zlib.crc32(bytes(p)) ^ (1 if spoil else 0))
    return bytes(p)

def check(data, kind, size):
    assert len(data) == size and data[:4] == b"DSUS", data[:8]
    assert struct.unpack_from("<HH", data, 4) == (1001, size - 16)
    assert zlib.crc32(data[:8] + bytes(4) + data[12:]) == struct.unpack_from("<I", data, 8)[0]
    assert struct.unpack_from("<I", data, 16)[0] == kind

def client():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 0))
    return s

asker, ports, pad = client(), client(), client()
deadline = time.monotonic() + 200  # wine's first start is slow
while True:
    assert time.monotonic() < deadline, "the server never answered"
    asker.sendto(packet(0x100000), ("127.0.0.1", port))
    asker.settimeout(0.2)
    try:
        reply = asker.recv(512)
        break
    except socket.timeout:
        pass
check(reply, 0x100000, 22)
print("version ok")

ports.settimeout(30)
ports.sendto(packet(0x100001, struct.pack("<i", 1) + bytes([3]), spoil=True), ("127.0.0.1", port))
ports.sendto(packet(0x100000)[:12], ("127.0.0.1", port))
ports.sendto(packet(0x100001, struct.pack("<i", 1) + bytes([3]), magic=b"DSUS"), ("127.0.0.1", port))
ports.sendto(packet(0x100001, struct.pack("<i", 2) + bytes([0, 1])), ("127.0.0.1", port))
for slot in (0, 1):
    reply = ports.recv(512)
    check(reply, 0x100001, 32)
    assert reply[20] == slot and reply[21] == (2 if slot == 0 else 0), reply[20:32]
print("ports ok")

pad.settimeout(30)
pad.sendto(packet(0x100002, bytes([1, 0]) + bytes(6)), ("127.0.0.1", port))
counters = []
for _ in range(100):
    data = pad.recv(512)
    check(data, 0x100002, 100)
    counters.append(struct.unpack_from("<I", data, 32)[0])
    accel = struct.unpack_from("<3f", data, 76)
    gyro = struct.unpack_from("<3f", data, 88)
    assert all(abs(a - b) < 1e-6 for a, b in zip(accel, (0.1, -0.98, 0.2))), accel
    assert all(abs(g) < 1e-3 for g in gyro), gyro
    assert (data[36], data[37], data[50]) == (0, 0x20, 255), data[36:56]
assert counters == list(range(1, 101)), counters[:5]
print("pad data ok")
PY

kill -INT "$bridge"
timeout 30 tail --pid="$bridge" -f /dev/null || fail "Ctrl+C did not end the bridge"
wait "$bridge"
status=$?
[ "$status" = 0 ] || fail "exit status $status"
grep -q "DSU server: listening on 127.0.0.1 port $port" "$tmp/err.txt" || fail "no note about the server"
grep -q "3 bad packets ignored" "$tmp/err.txt" || fail "the bad packets were not counted"
grep -q DSU "$tmp/log.txt" && fail "the event log mentions the DSU server"
echo "the DSU client passed under wine"
