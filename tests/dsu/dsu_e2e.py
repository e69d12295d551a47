#!/usr/bin/env python3
"""The DSU (cemuhook) server end to end: the device simulator replays a
scripted capture (preset B), the headless bridge serves it, and DSU clients
written here (zlib.crc32 and struct) talk to it on loopback.

    dsu_e2e.py HEADLESS DEVSIM

The capture: one line, a pause in which the clients set up, then the five
buttons in turn, a steady turn of 90 degrees a second about each device axis
and a long rest. Checked: the version and port answers; a wrong CRC, a short
packet, a wrong magic and a long packet go unanswered and are counted; one
pad-data packet per accepted line with its counter; the gyroscope's rate (as a
client integrates it) within 1 % and its sign per axis; the accelerometer in g; the buttons; and a
subscription that is not renewed ends while a renewed one goes on; a fifth
subscriber is refused.
Every wait is bounded; a hang fails the test.
"""
import math
import os
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from harness import free_port  # noqa: E402

BOUND = 30  # seconds for anything to happen
RATE = 90.0  # degrees a second of each turn
ACCEL = (0.1, -0.98, 0.2)
VERSION, PORTS, PAD = 0x100000, 0x100001, 0x100002
LAST_BUTTONS = bytes([0x50, 0x70])  # D-pad up and down; A, B and X


def device_line(values, buttons):
    body = "TOL," + "".join(("%8.5f," if i >= 3 else "%8.3f,") % v
                             for i, v in enumerate(values)) + buttons + ","
    total = sum(b - 256 if b >= 128 else b for b in body.encode()[:73])
    return (body + "%02d" % (total % 100) + "\r").encode()


def escaped(data):
    out = ""
    for b in data:
        c = chr(b)
        out += {"\\": "\\\\", "\r": "\\r", "\n": "\\n"}.get(c) or (
            c if 0x20 <= b <= 0x7E else "\\x%02x" % b)
    return out


def write_capture(path):
    """The records; returns how many lines are accepted."""
    records = [(0.0, device_line(ACCEL + (0, 0, 0, 1), "00000"))]
    t = 1.5
    accepted = 1
    # The buttons in turn, 20 lines each, then a line with a wrong checksum.
    for j in range(5):
        for _ in range(20):
            records.append((t, device_line(ACCEL + (0, 0, 0, 1),
                                           "".join("1" if i == j else "0" for i in range(5)))))
            t += 0.01
            accepted += 1
    bad = bytearray(device_line(ACCEL + (0, 0, 0, 1), "00000"))
    bad[74] = ord("0") + (bad[74] - ord("0") + 1) % 10
    records.append((t, bytes(bad)))
    t += 0.01
    for axis in range(3):
        for k in range(100):
            half = math.radians(RATE * k * 0.01) / 2
            q = [0.0, 0.0, 0.0, math.cos(half)]
            q[axis] = math.sin(half)
            records.append((t, device_line(ACCEL + tuple(q), "00000")))
            t += 0.01
            accepted += 1
    for k in range(700):  # longer than a subscription lives; the last line has every button
        records.append((t, device_line(ACCEL + (0, 0, 0, 1), "11111" if k == 699 else "00000")))
        t += 0.01
        accepted += 1
    with open(path, "w") as f:
        f.write("# tolvane capture 1\n")
        for seconds, data in records:
            f.write("%.6f %s\n" % (seconds, escaped(data)))
    return accepted


def packet(kind, payload=b"", magic=b"DSUC", version=1001, spoil_crc=False):
    body = struct.pack("<I", kind) + payload
    p = bytearray(magic + struct.pack("<HHII", version, len(body), 0, 0x1234) + body)
    crc = zlib.crc32(bytes(p))
    struct.pack_into("<I", p, 8, crc ^ (1 if spoil_crc else 0))
    return bytes(p)


def check_server_packet(data, kind, size):
    assert len(data) == size, (len(data), size)
    assert data[:4] == b"DSUS", data[:4]
    version, length, crc = struct.unpack_from("<HHI", data, 4)
    assert (version, length) == (1001, size - 16), (version, length)
    assert zlib.crc32(data[:8] + b"\0\0\0\0" + data[12:]) == crc, "wrong CRC"
    assert struct.unpack_from("<I", data, 16)[0] == kind


class Client:
    def __init__(self, server_port):
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.socket.bind(("127.0.0.1", 0))
        self.server = ("127.0.0.1", server_port)
        self.packets = []

    def send(self, data):
        self.socket.sendto(data, self.server)

    def receive(self, timeout=BOUND):
        self.socket.settimeout(timeout)
        return self.socket.recv(512)

    def subscribe(self):
        self.send(packet(PAD, bytes([1, 0]) + bytes(6)))

    def collect(self, renew, until):
        """Pad data until the last line's packet (every button down) has come,
        or another client has seen it; renewing the subscription if asked."""
        deadline = time.monotonic() + 90
        last_renewal = 0.0
        while not until.is_set():
            assert time.monotonic() < deadline, "the last line never came"
            if renew and time.monotonic() - last_renewal > 0.5:
                self.subscribe()
                last_renewal = time.monotonic()
            self.socket.settimeout(0.25)
            try:
                data = self.socket.recv(512)
            except socket.timeout:
                continue
            self.packets.append(data)
            if len(data) == 100 and data[36:38] == LAST_BUTTONS:
                until.set()

    def drain(self):
        self.socket.setblocking(False)
        try:
            while True:
                self.packets.append(self.socket.recv(512))
        except BlockingIOError:
            pass


def pad_fields(data):
    check_server_packet(data, PAD, 100)
    assert data[20] == 0 and data[21] == 2 and data[31] == 1, data[20:32]
    counter, = struct.unpack_from("<I", data, 32)
    stamp, = struct.unpack_from("<Q", data, 68)
    accel = struct.unpack_from("<3f", data, 76)
    gyro = struct.unpack_from("<3f", data, 88)
    return counter, (data[36], data[37]), stamp, accel, gyro


def mean_rate(fields, index, sign):
    """The rate of one axis's turn as a client integrates it: the sum of each
    packet's rate times its own interval (the packets' timestamps are the
    lines' receive times), from the first to the last packet turning that way
    on that field alone, over the device's time for those lines (one line
    every 10 ms), so that the receive times' jitter does not count."""
    inside = [k for k in range(1, len(fields))
              if fields[k][4][index] * sign > 10
              and max(abs(g) for i, g in enumerate(fields[k][4]) if i != index) < 5]
    assert len(inside) > 50, (index, len(inside))
    turned = 0.0
    for k in range(inside[0], inside[-1] + 1):
        turned += fields[k][4][index] * (fields[k][2] - fields[k - 1][2]) / 1e6
    return turned / ((inside[-1] + 1 - inside[0]) * 0.01)


def run(tools, scratch):
    capture = os.path.join(scratch, "turns.txt")
    accepted = write_capture(capture)
    devsim = subprocess.Popen([tools["devsim"], "--stream", "100", "--timed", "--replay", capture],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    bridge = None
    try:
        device = devsim.stdout.readline().strip()
        assert device, "the simulator printed no terminal"
        threading.Thread(target=devsim.stdout.read, daemon=True).start()
        port = free_port(socket.SOCK_DGRAM)
        with open(os.path.join(scratch, "tolv.conf"), "w") as f:
            f.write(f"{device}\n1.000000\n4\n32\n1\n8096\n0\n1\n0\n0\n0\n"
                    f"dsuServer=on\ndsuPort={port}\n")
        errors = open(os.path.join(scratch, "headless.err"), "w")
        bridge = subprocess.Popen([tools["headless"]], cwd=scratch, stdout=subprocess.DEVNULL,
                                  stderr=errors)

        # The version, asked until the server is there.
        # (Each client apart, so that a late answer to an early question
        # cannot stand in for another.)
        asker, ports, a, b = Client(port), Client(port), Client(port), Client(port)
        deadline = time.monotonic() + BOUND
        while True:
            assert time.monotonic() < deadline, "the server never answered"
            asker.send(packet(VERSION))
            try:
                reply = asker.receive(0.1)
                break
            except socket.timeout:
                pass
        check_server_packet(reply, VERSION, 22)
        assert struct.unpack_from("<H", reply, 20)[0] == 1001

        # Bad packets first, then a good port request: only its four answers come.
        ports.send(packet(PORTS, struct.pack("<i", 1) + bytes([3]), spoil_crc=True))
        ports.send(packet(VERSION)[:12])
        ports.send(packet(PORTS, struct.pack("<i", 1) + bytes([3]), magic=b"DSUS"))
        ports.send(packet(VERSION, bytes(200)))
        ports.send(packet(PORTS, struct.pack("<i", 4) + bytes([0, 1, 2, 3])))
        for slot in range(4):
            reply = ports.receive()
            check_server_packet(reply, PORTS, 32)
            assert reply[20] == slot, (slot, reply[20:32])
            want = (2, 2) if slot == 0 else (0, 0)
            assert (reply[21], reply[22]) == want, (slot, reply[20:32])
            assert reply[30] == 0, "battery"

        # A subscribes once, B renews: A's subscription ends, B's goes on.
        # Two more fill the table; the fifth client is refused.
        extra = [Client(port) for _ in range(3)]
        a.subscribe()
        extra[0].subscribe()
        extra[1].subscribe()
        b.subscribe()
        extra[2].subscribe()
        b.collect(True, threading.Event())
    finally:
        devsim.send_signal(signal.SIGTERM)
        devsim.wait(timeout=BOUND)
        if bridge is not None:
            bridge.send_signal(signal.SIGINT)
            try:
                status = bridge.wait(timeout=BOUND)
            except subprocess.TimeoutExpired:
                bridge.kill()
                raise AssertionError("the bridge did not end on SIGINT")
            assert status == 0, status

    for client in [a] + extra:
        client.drain()
    assert len(extra[0].packets) == len(extra[1].packets) > 0, "the third and fourth client"
    assert not extra[2].packets, "the fifth client was served"

    fields = [pad_fields(p) for p in b.packets]
    assert [f[0] for f in fields] == list(range(1, len(fields) + 1)), "counters"
    # One packet per accepted line (the first line may come before the subscription).
    assert len(fields) in (accepted - 1, accepted), (len(fields), accepted)
    stamps = [f[2] for f in fields]
    assert all(x < y for x, y in zip(stamps, stamps[1:])), "timestamps"
    assert len(a.packets) > 0 and len(a.packets) + 100 < len(fields), (len(a.packets), len(fields))

    for f in fields:
        assert all(abs(got - want) < 1e-6 for got, want in zip(f[3], ACCEL)), f[3]
    g = math.sqrt(sum(v * v for v in fields[0][3]))
    assert abs(g - 1.005) < 0.001, g

    buttons = []
    for f in fields:
        if not buttons or buttons[-1] != f[1]:
            buttons.append(f[1])
    want = [(0, 0x20), (0, 0x40), (0x10, 0), (0x40, 0), (0, 0x10), (0, 0), (0x50, 0x70)]
    assert buttons[-len(want):] == want, buttons

    # About the first axis the tip rises: pitch +; about the second it swings
    # left: yaw -; about the third it rolls left: roll -.
    for index, sign in ((0, 1), (1, -1), (2, -1)):
        rate = mean_rate(fields, index, sign)
        assert abs(rate - sign * RATE) < RATE * 0.01, (index, rate)

    with open(os.path.join(scratch, "headless.err")) as f:
        said = [line.rstrip("\n") for line in f if "DSU server" in line]
    assert said[0].startswith(f"tolvane-headless: DSU server: listening on 127.0.0.1 port {port};"), said
    closing = said[-1]
    assert "4 bad packets ignored, 1 requests refused" in closing, said
    assert "(0 failed)" in closing, said
    sent = len(a.packets) + len(b.packets) + 2 * len(extra[0].packets)
    assert f"{sent} pad-data packets sent" in closing, said


def main():
    tools = dict(headless=sys.argv[1], devsim=sys.argv[2])
    with tempfile.TemporaryDirectory(prefix="tolvane-dsu-") as scratch:
        run(tools, scratch)
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
