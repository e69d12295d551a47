#!/usr/bin/env python3
"""The bridge's UDP output end to end: the device simulator, the headless
bridge and receivers on loopback.

    udp_e2e.py opentrack|osc|polled|unreachable|silent-resolver HEADLESS DEVSIM DECODE

opentrack: preset B, a fixed turn of 10 degrees about each device axis in
turn; one 48-byte pose per accepted line, that one angle, the others 0.
osc: preset B, the simulator's motion; the values equal tolvane-decode's
replies for the simulator's log, line for line. polled: preset C, one
datagram per answered poll. unreachable: a closed port and a name that does
not resolve; the LAN client is served exactly as without the output, one note.
silent-resolver: a name server that never answers, in a private user, mount
and network namespace with its own resolv.conf (skipped where namespaces are
not to be had); the LAN client is served while the name is still being looked
up, and Ctrl+C ends the bridge without waiting for the lookup.
Every wait is bounded; a hang fails the test.
"""
import math
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from harness import free_port  # noqa: E402

BOUND = 30  # seconds for anything to happen
QUIET = 1.5  # seconds without a datagram that end a count


class Child:
    """A program whose standard output is collected line by line."""

    def __init__(self, argv, cwd, errors):
        self.lines = []
        self.errors_path = errors
        with open(errors, "w") as err:
            self.process = subprocess.Popen(argv, cwd=cwd, stdout=subprocess.PIPE, stderr=err,
                                            text=True, bufsize=1)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.append(line.rstrip("\n"))

    def first_line(self):
        deadline = time.monotonic() + BOUND
        while not self.lines:
            assert time.monotonic() < deadline, "no first line from " + self.process.args[0]
            time.sleep(0.02)
        return self.lines[0]

    def stop(self, sig=signal.SIGINT):
        if self.process.poll() is None:
            self.process.send_signal(sig)
        try:
            status = self.process.wait(timeout=BOUND)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise AssertionError(f"{self.process.args[0]} did not end on signal {sig}")
        assert status == 0, (self.process.args[0], status, self.errors())
        return status

    def errors(self):
        with open(self.errors_path) as f:
            return f.read()


class Receiver:
    def __init__(self):
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.socket.bind(("127.0.0.1", 0))
        self.port = self.socket.getsockname()[1]

    def take(self, count=None):
        """Datagrams until count have come, or until none came for a while."""
        got = []
        deadline = time.monotonic() + BOUND
        while count is None or len(got) < count:
            assert time.monotonic() < deadline, f"only {len(got)} datagrams"
            self.socket.settimeout(QUIET if count is None else BOUND)
            try:
                got.append(self.socket.recv(200))
            except socket.timeout:
                assert count is None, f"only {len(got)} of {count} datagrams"
                break
        return got


class Rig:
    def __init__(self, tools, scratch):
        self.tools, self.scratch = tools, scratch
        self.children = []

    def device(self, *options):
        log = os.path.join(self.scratch, "device.log")
        devsim = Child([self.tools["devsim"], "--log", log, *options], self.scratch,
                       os.path.join(self.scratch, "devsim.err"))
        self.children.append(devsim)
        return devsim, devsim.first_line(), log

    def bridge(self, port, mode, target, fmt, lan_port=8096, lan=0, averaging=1):
        # port, distance, scroll, mouse averaging 32, LAN averaging, LAN port,
        # no mouse, preset, LAN, no WebSocket, angles; then the keyed settings.
        with open(os.path.join(self.scratch, "tolv.conf"), "w") as f:
            f.write(f"{port}\n1.000000\n4\n32\n{averaging}\n{lan_port}\n0\n{mode}\n{lan}\n0\n0\n"
                    f"udpTarget={target}\nudpFormat={fmt}\n")
        bridge = Child([self.tools["headless"]], self.scratch,
                       os.path.join(self.scratch, "headless.err"))
        self.children.append(bridge)
        return bridge

    def close(self):
        for child in reversed(self.children):
            if child.process.poll() is None:
                child.process.kill()
                child.process.wait()


def decoded(tools, log, averaging=1):
    """tolvane-decode's reply for each line of the log, None for a rejected one."""
    out = subprocess.run([tools["decode"], "--lan-averaging", str(averaging), log],
                         capture_output=True, text=True, timeout=BOUND, check=True).stdout
    return [None if line == "rejected" else line for line in out.splitlines()]


def osc_values(datagram):
    assert len(datagram) == 80, len(datagram)
    assert datagram[:32] == b"/tolvane/motion\0,fffffffiiiii\0\0\0", datagram[:32]
    return struct.unpack(">7f5i", datagram[32:])


def as_reply(values):
    """The plain reply text the LAN server would send for these values."""
    d = ",".join(f"{v:8.3f}" for v in values[:3])
    q = ",".join(f"{v:8.5f}" for v in values[3:7])
    return d + "," + q + "," + ",".join(str(b) for b in values[7:])


def notes(bridge, about="UDP output"):
    return [line for line in bridge.errors().splitlines() if about in line]


def opentrack(rig):
    # Each turn in a cycle of its own: a new simulator (and so a restart).
    expected = {0: (0, 10, 0), 1: (-10, 0, 0), 2: (0, 0, 10)}
    receiver = Receiver()
    half = math.radians(10) / 2
    for axis in range(3):
        quat = [0.0, 0.0, 0.0, math.cos(half)]
        quat[axis] = math.sin(half)
        devsim, port, log = rig.device("--stream", "100", "--quat", ",".join(map(str, quat)),
                                       "--bad-checksum", "4", "--silence-after", "40")
        bridge = rig.bridge(port, 1, f"127.0.0.1:{receiver.port}", "opentrack")
        # 30 good lines of the 40 (every fourth is bad), counted first as in
        # osc; then none more.
        datagrams = receiver.take(30)
        datagrams += receiver.take()
        devsim.stop(signal.SIGTERM)
        accepted = [r for r in decoded(rig.tools, log) if r is not None]
        assert len(accepted) == 30, len(accepted)
        assert len(datagrams) == len(accepted), (axis, len(datagrams), len(accepted))
        for datagram in datagrams:
            assert len(datagram) == 48, len(datagram)
            x, y, z, yaw, pitch, roll = struct.unpack("<6d", datagram)
            assert (x, y, z) == (0, 0, 0)
            for got, want in zip((yaw, pitch, roll), expected[axis]):
                assert abs(got - want) < 1e-3, (axis, yaw, pitch, roll)
        bridge.stop()
        said = notes(bridge)
        assert said == [f"tolvane-headless: UDP output: sending opentrack poses to "
                        f"127.0.0.1:{receiver.port}, one datagram per line",
                        f"tolvane-headless: UDP output: {len(datagrams)} datagrams sent, "
                        f"0 failed"], said
        assert not [line for line in bridge.lines if "UDP" in line], bridge.lines


def osc(rig):
    receiver = Receiver()
    devsim, port, log = rig.device("--stream", "100", "--bad-checksum", "7",
                                   "--silence-after", "120")
    bridge = rig.bridge(port, 1, f"127.0.0.1:{receiver.port}", "osc", averaging=3)
    # Every good line of the 120 is one datagram; a busy machine may pause
    # longer than a quiet spell between them, so they are counted first.
    datagrams = receiver.take(120 - 120 // 7)
    datagrams += receiver.take()
    devsim.stop(signal.SIGTERM)
    bridge.stop()
    replies = [r for r in decoded(rig.tools, log, averaging=3) if r is not None]
    assert len(replies) == 120 - 120 // 7, len(replies)
    got = [as_reply(osc_values(d)) for d in datagrams]
    assert got == replies, (got[:3], replies[:3])


def polled_run(rig, target, fmt, count=25, until=None):
    """count polls, then more until until(bridge) holds (bounded)."""
    devsim, port, log = rig.device()
    lan_port = free_port()
    bridge = rig.bridge(port, 0, target, fmt, lan_port=lan_port, lan=1)
    deadline = time.monotonic() + BOUND
    while True:
        try:
            client = socket.create_connection(("127.0.0.1", lan_port), timeout=BOUND)
            break
        except OSError:
            assert time.monotonic() < deadline, "the LAN server never listened"
            time.sleep(0.05)
    replies = []
    deadline = time.monotonic() + BOUND
    while len(replies) < count or (until is not None and not until(bridge)):
        assert time.monotonic() < deadline, (len(replies), bridge.errors())
        client.sendall(b"D")
        reply = b""
        while len(reply) < 72:
            chunk = client.recv(72 - len(reply))
            assert chunk, "the bridge closed the connection"
            reply += chunk
        replies.append(reply.decode())
    client.close()
    devsim.stop(signal.SIGTERM)
    return bridge, replies, decoded(rig.tools, log)


def polled(rig):
    receiver = Receiver()
    bridge, replies, expected = polled_run(rig, f"127.0.0.1:{receiver.port}", "osc")
    datagrams = receiver.take()
    bridge.stop()
    assert replies == expected[:len(replies)]
    assert [as_reply(osc_values(d)) for d in datagrams] == replies


def unreachable(rig):
    # The port stays taken on another loopback address, so that no other
    # program's socket can get it while nothing listens at 127.0.0.1.
    holder = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    holder.bind(("127.0.0.2", 0))
    closed_target = f"127.0.0.1:{holder.getsockname()[1]}"
    for target, note in ((closed_target, f"UDP output: cannot send to {closed_target} ("),
                         ("no-such-host.invalid:4242",
                          "UDP output off: cannot resolve 'no-such-host.invalid'")):
        # The refusal comes back with a later datagram and the resolver
        # answers when it does: polls go on until the note is there.
        bridge, replies, expected = polled_run(
            rig, target, "opentrack", count=40,
            until=lambda b, note=note: any(note in line for line in notes(b)))
        assert replies == expected[:len(replies)], target
        bridge.stop()
        said = [line for line in notes(bridge)
                if "sending opentrack" not in line and "datagrams sent" not in line]
        # A lookup still under way at the first cycle is said first; how soon
        # the resolver answers is the machine's, not the bridge's.
        if len(said) == 2 and "UDP output: looking up 'no-such-host.invalid'" in said[0]:
            said.pop(0)
        assert len(said) == 1 and note in said[0], (target, notes(bridge))
        assert not [line for line in bridge.lines if "UDP" in line], bridge.lines
        rig.close()
        rig.children.clear()
    holder.close()


SKIPPED = 77
INSIDE = "TOLVANE_UDP_E2E_NAMESPACE"


def enter_namespace():
    """Runs this script again as root of a private user, mount and network
    namespace: nothing outside changes. Returns its status, or SKIPPED."""
    if shutil.which("unshare") is None or shutil.which("ip") is None:
        print("SKIPPED: unshare or ip is not installed")
        return SKIPPED
    probe = subprocess.run(["unshare", "-rmn", "true"], capture_output=True, text=True,
                           timeout=BOUND)
    if probe.returncode != 0:
        print("SKIPPED: no private namespaces for this user:", probe.stderr.strip())
        return SKIPPED
    env = dict(os.environ, **{INSIDE: "1"})
    return subprocess.run(["unshare", "-rmn", sys.executable] + sys.argv, env=env,
                          timeout=4 * BOUND).returncode


class SilentResolver:
    """The only name server of the namespace: takes every query, answers none."""

    def __init__(self, scratch):
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True, timeout=BOUND)
        for name, text in (("resolv.conf", "nameserver 127.0.0.1\n"
                                            "options timeout:30 attempts:5\n"),
                           ("nsswitch.conf", "hosts: files dns\n")):
            path = os.path.join(scratch, name)
            with open(path, "w") as f:
                f.write(text)
            subprocess.run(["mount", "--bind", path, "/etc/" + name], check=True, timeout=BOUND)
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.socket.bind(("127.0.0.1", 53))
        self.queries = 0
        threading.Thread(target=self._swallow, daemon=True).start()

    def _swallow(self):
        while True:
            self.socket.recv(4096)
            self.queries += 1


def silent_resolver(rig):
    resolver = SilentResolver(rig.scratch)
    name = "tolvane-receiver.example"
    bridge, replies, expected = polled_run(rig, f"{name}:4242", "opentrack", count=40)
    assert replies == expected[:len(replies)]
    deadline = time.monotonic() + BOUND
    while resolver.queries == 0:
        assert time.monotonic() < deadline, "the bridge never asked the name server"
        time.sleep(0.05)
    # Every request was answered while the lookup was still under way: the
    # name server has not answered, and the bridge has not given up.
    said = notes(bridge)
    assert [line for line in said if f"looking up '{name}'" in line], said
    assert not [line for line in said if "UDP output off" in line], said
    bridge.stop()


def main():
    scenario = sys.argv[1]
    if scenario == "silent-resolver" and not os.environ.get(INSIDE):
        return enter_namespace()
    tools = dict(headless=sys.argv[2], devsim=sys.argv[3], decode=sys.argv[4])
    with tempfile.TemporaryDirectory(prefix="tolvane-udp-") as scratch:
        rig = Rig(tools, scratch)
        try:
            {"opentrack": opentrack, "osc": osc, "polled": polled,
             "unreachable": unreachable, "silent-resolver": silent_resolver}[scenario](rig)
        finally:
            rig.close()
    print("ok", scenario)
    return 0


if __name__ == "__main__":
    sys.exit(main())
