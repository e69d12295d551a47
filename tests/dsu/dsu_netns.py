#!/usr/bin/env python3
"""The DSU server as another machine sees it, in two private network
namespaces joined by a veth pair: the headless bridge listens on 10.77.0.1
(dsuAddress, not loopback) in one, DSU clients written here send from the
other, and tolvane-probe --dsu asks from there too.

    dsu_netns.py HEADLESS DEVSIM PROBE

Checked: an unpadded version request (20 bytes, smaller than its answer) is
answered; a port request for the four slots gets one answer, the device's
slot, and one for slot 2 alone its "not connected" answer; one pad-data
request with a sender that is not the client's own (10.77.0.3, where the
test counts what arrives) gets pad data for about 2 s by the bridge's own
timestamps, not for the 5 s a client on loopback gets. Exit 77 (skipped),
with the reason, where namespaces cannot be made (a normal user).
Every wait is bounded.
"""
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

BOUND = 30
VERSION, PORTS, PAD = 0x100000, 0x100001, 0x100002
SERVER, CLIENT, FORGED = "10.77.0.1", "10.77.0.2", "10.77.0.3"


def packet(kind, payload=b""):
    body = struct.pack("<I", kind) + payload
    p = bytearray(b"DSUC" + struct.pack("<HHII", 1001, len(body), 0, 0x4E53) + body)
    struct.pack_into("<I", p, 8, zlib.crc32(bytes(p)))
    return bytes(p)


def server_packet(data):
    """(type, data) of a server packet whose header and CRC are right."""
    assert data[:4] == b"DSUS", data[:8]
    version, length, crc = struct.unpack_from("<HHI", data, 4)
    assert (version, length) == (1001, len(data) - 16), (version, length)
    assert zlib.crc32(data[:8] + bytes(4) + data[12:]) == crc, "wrong CRC"
    return struct.unpack_from("<I", data, 16)[0]


def replies(s, quiet):
    """What comes to s until quiet seconds pass without a packet."""
    got = []
    s.settimeout(quiet)
    try:
        while True:
            got.append(s.recv(512))
    except socket.timeout:
        return got


def client(port):
    """Runs inside the clients' namespace; raises on a failed check."""
    server = (SERVER, port)
    asker = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    asker.bind((CLIENT, 0))
    deadline = time.monotonic() + BOUND
    request = packet(VERSION)
    assert len(request) == 20
    while True:
        assert time.monotonic() < deadline, "the server never answered the version"
        asker.sendto(request, server)
        asker.settimeout(0.2)
        try:
            reply = asker.recv(512)
            break
        except socket.timeout:
            pass
    assert len(reply) == 22 and server_packet(reply) == VERSION, reply
    print("version answered to an unpadded request")

    # The four slots: one answer (32 bytes to 28), the device's.
    asker.sendto(packet(PORTS, struct.pack("<i", 4) + bytes([0, 1, 2, 3])), server)
    got = replies(asker, 1.0)
    assert len(got) == 1, [g[20:23] for g in got]
    assert server_packet(got[0]) == PORTS and got[0][20:22] == bytes([0, 2]), got[0][20:32]
    # Slot 2 alone, unpadded (25 bytes): its answer.
    asker.sendto(packet(PORTS, struct.pack("<i", 1) + bytes([2])), server)
    got = replies(asker, 1.0)
    assert len(got) == 1 and got[0][20:22] == bytes([2, 0]), [g[20:23] for g in got]
    print("ports answered: one answer per request from another machine")

    # One pad-data request whose sender is the forged address: what arrives
    # there, by the bridge's own timestamps (the lines' receive times).
    victim = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    victim.bind((FORGED, 0))
    victim.sendto(packet(PAD, bytes([1, 0]) + bytes(6)), server)
    stamps = []
    victim.settimeout(1.0)
    end = time.monotonic() + 8
    try:
        while time.monotonic() < end:
            data = victim.recv(512)
            assert len(data) == 100 and server_packet(data) == PAD
            stamps.append(struct.unpack_from("<Q", data, 68)[0])
    except socket.timeout:
        pass
    assert stamps, "no pad data came at all"
    span = (stamps[-1] - stamps[0]) / 1e6
    print(f"pad data to the forged address: {len(stamps)} packets over {span:.3f} s")
    assert 1.0 < span < 3.5, span


def ip(*args):
    subprocess.run(["ip", *args], check=True, capture_output=True, text=True)


def make_namespaces(tag):
    servers, clients = f"tolv-dsu-s{tag}", f"tolv-dsu-c{tag}"
    try:
        ip("netns", "add", servers)
    except (OSError, subprocess.CalledProcessError) as e:
        reason = getattr(e, "stderr", None) or str(e)
        print(f"skipped: cannot make a network namespace ({reason.strip()}); run as root")
        sys.exit(77)
    ip("netns", "add", clients)
    ip("link", "add", f"tds{tag}", "netns", servers, "type", "veth", "peer", "name", f"tdc{tag}",
       "netns", clients)
    for ns, dev, addresses in ((servers, f"tds{tag}", [SERVER]),
                               (clients, f"tdc{tag}", [CLIENT, FORGED])):
        for a in addresses:
            ip("-n", ns, "addr", "add", a + "/24", "dev", dev)
        ip("-n", ns, "link", "set", dev, "up")
        ip("-n", ns, "link", "set", "lo", "up")
    return servers, clients


def bridge_said(scratch):
    """What the bridge wrote on standard error, for a failure's message."""
    with open(os.path.join(scratch, "headless.err")) as f, \
         open(os.path.join(scratch, "headless.log")) as g:
        return "\nthe bridge said:\n" + f.read() + "its event log:\n" + g.read()


def run(tools, scratch, servers, clients):
    # The simulator stands in for hardware, which keeps its pace however busy
    # the machine is: a late line would restart the bridge in the middle of
    # the count (this test runs as root, which may raise its priority).
    devsim = subprocess.Popen(["nice", "-n", "-10", tools["devsim"], "--stream", "200", "--quat",
                               "0.1,0,0,0.99498744", "--accel", "0.1,-0.98,0.2"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    bridge = None
    try:
        device = devsim.stdout.readline().strip()
        assert device, "the simulator printed no terminal"
        threading.Thread(target=devsim.stdout.read, daemon=True).start()
        port = 26760
        with open(os.path.join(scratch, "tolv.conf"), "w") as f:
            f.write(f"{device}\n1.000000\n4\n32\n1\n8096\n0\n1\n0\n0\n0\n"
                    f"dsuServer=on\ndsuAddress={SERVER}\ndsuPort={port}\n")
        errors = open(os.path.join(scratch, "headless.err"), "w")
        log = open(os.path.join(scratch, "headless.log"), "w")
        bridge = subprocess.Popen(["ip", "netns", "exec", servers, tools["headless"]],
                                  cwd=scratch, stdout=log, stderr=errors)
        result = subprocess.run(["ip", "netns", "exec", clients, sys.executable, __file__,
                                 "--client", str(port)], capture_output=True, text=True,
                                timeout=120)
        print(result.stdout, end="")
        assert result.returncode == 0, result.stdout + result.stderr + bridge_said(scratch)

        # The probe from the other machine: version, the device's slot, pad data.
        probe = subprocess.run(["ip", "netns", "exec", clients, tools["probe"], "--dsu",
                                "--host", SERVER, "--count", "3"],
                               capture_output=True, text=True, timeout=60)
        assert probe.returncode == 0, probe.stdout + probe.stderr + bridge_said(scratch)
        lines = probe.stdout.splitlines() + bridge_said(scratch).splitlines()
        assert lines[0].startswith(f"DSU server at {SERVER}:{port}: protocol version 1001"), lines
        assert lines[1].startswith("slot 0 (pad 1): connected, full gyro, MAC "), lines
        assert sum(line.startswith("pad 1: #") for line in lines) == 3, lines
        assert " accel 0.100 -0.980 0.200 g " in lines[2], lines
        assert any(line.startswith("pad data 3 packets, 0 empty waits") for line in lines), lines
        print("tolvane-probe --dsu from the other machine")
    finally:
        devsim.send_signal(signal.SIGTERM)
        devsim.wait(timeout=BOUND)
        if bridge is not None:
            bridge.send_signal(signal.SIGINT)
            try:
                bridge.wait(timeout=BOUND)
            except subprocess.TimeoutExpired:
                bridge.kill()
                raise AssertionError("the bridge did not end on SIGINT")
    with open(os.path.join(scratch, "headless.err")) as f:
        said = f.read()
    assert f"DSU server: listening on {SERVER} port {port}; " in said, said
    assert "a forged request has pad data sent elsewhere for 2 s" in said, said


def main():
    if sys.argv[1] == "--client":
        client(int(sys.argv[2]))
        return 0
    tools = dict(headless=sys.argv[1], devsim=sys.argv[2], probe=sys.argv[3])
    if os.geteuid() != 0:
        print("skipped: network namespaces need root (this test runs as a normal user)")
        return 77
    tag = str(os.getpid() % 100000)
    servers, clients = make_namespaces(tag)
    try:
        with tempfile.TemporaryDirectory(prefix="tolvane-dsu-netns-") as scratch:
            run(tools, scratch, servers, clients)
    finally:
        for ns in (servers, clients):
            subprocess.run(["ip", "netns", "del", ns], capture_output=True)
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
