#!/usr/bin/env python3
"""Real clients against the LAN server.

    lan_interop.py CLIENT [EMULATOR...] SERVER
    lan_interop.py CLIENT --bridge DEVSIM HEADLESS

CLIENT is one of: plain (raw socket), raw-websocket (hand-made frames of every
shape, and frames no client may send), websockets (the Python library, pinging
every 0.5 s), node (the "ws" library from web/node_modules: pings, then a
normal close), browser (headless Chromium), and with --bridge also port-zero.

Without --bridge the server is lan_peer_server, which serves a fixed output.
With --bridge it is the headless bridge on the device simulator, in a scratch
folder of its own; its event log is checked as well.
Exits 77 when the client's tool is missing, so that CTest marks a skip.
Every wait is bounded; a hang fails the test.
"""
import asyncio
import json
import os
import queue
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from harness import free_port  # noqa: E402

SKIP = 77
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
HERE = os.path.dirname(os.path.abspath(__file__))
PLAIN_REPLY = b"  12.500,  -0.000,-180.000, 0.70711, 0.00000, 0.00000, 0.70711,1,0,0,0,1"
JSON_REPLY = ('{"d":[  12.500,  -0.000,-180.000],"q":[ 0.70711, 0.00000, 0.00000, 0.70711],'
              '"b":[1,0,0,0,1]}')
# What the bridge answers for the simulator's fixed values below.
DEVSIM_VALUES = ["--quat", "0.5,0.5,0.5,0.5", "--accel", "0.1,-0.2,0.97", "--buttons", "10001"]
BRIDGE_JSON_REPLY = ('{"d":[   0.000,  90.000,  90.000],'
                     '"q":[ 0.50000, 0.50000, 0.50000, 0.50000],"b":[1,0,0,0,1]}')
BOUND = 60  # seconds for anything to happen (wine starts slowly)
PING_SECONDS = 10  # how long the pinging clients keep asking
MASK = bytes([0x37, 0xFA, 0x21, 0x3D])
HEAD = (b"GET /chat HTTP/1.1\r\nHost: server.example.com\r\nUpgrade: websocket\r\n"
        b"Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
        b"Sec-WebSocket-Version: 13\r\n\r\n")
HEAD_REPLY = (b"HTTP/1.1 101 OK\r\nUpgrade: websocket\r\nConnection: upgrade\r\n"
              b"Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n")


def read_lines(stream, lines, transcript=None):
    for line in stream:
        lines.put(line.rstrip("\n"))
        if transcript is not None:
            transcript.append(line.rstrip("\n"))
    lines.put(None)


def next_line(lines):
    try:
        return lines.get(timeout=BOUND)
    except queue.Empty:
        return None


class Peer:
    """lan_peer_server: a fixed output, a number of sessions, no event log."""

    json_reply = JSON_REPLY

    def __init__(self, command, dialect, sessions):
        self.port = free_port()
        self.process = subprocess.Popen(command + [str(self.port), dialect, str(sessions)],
                                        stdout=subprocess.PIPE, text=True)
        self.lines = queue.Queue()
        threading.Thread(target=read_lines, args=(self.process.stdout, self.lines),
                         daemon=True).start()

    def session_ended(self):
        # Printed once both sockets are closed: a client that connected
        # earlier could land in the old listener's backlog and be dropped.
        line = next_line(self.lines)
        assert line is not None and line.startswith("session "), line
        print(line)

    def show(self):
        pass

    def finish(self):
        assert self.process.wait(timeout=BOUND) == 0, self.process.returncode
        for line in iter(self.lines.get, None):
            print(line)

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


class Bridge:
    """The headless bridge on the simulated device, in a folder of its own."""

    json_reply = BRIDGE_JSON_REPLY

    def __init__(self, devsim, headless, dialect, lan_port=None):
        self.folder = tempfile.mkdtemp(prefix="tolvane-interop-")
        self.port = free_port() if lan_port is None else lan_port
        headless = [os.path.abspath(p) if os.path.exists(p) else p for p in headless]
        self.devsim = subprocess.Popen([os.path.abspath(devsim)] + DEVSIM_VALUES, stdout=subprocess.PIPE,
                                       stderr=subprocess.DEVNULL, text=True, cwd=self.folder)
        self.bridge = None
        self.log = queue.Queue()
        self.transcript = []  # the whole event log, shown when the test fails
        device = queue.Queue()
        threading.Thread(target=read_lines, args=(self.devsim.stdout, device), daemon=True).start()
        self.tty = next_line(device)
        assert self.tty, "the simulator gave no terminal"
        webSocket = 1 if dialect == "websocket" else 0
        with open(os.path.join(self.folder, "tolv.conf"), "w") as conf:
            conf.write(f"{self.tty}\n1.000000\n4\n32\n1\n{self.port}\n0\n0\n1\n{webSocket}\n0\n")
        self.bridge = subprocess.Popen(headless, stdout=subprocess.PIPE, text=True,
                                       stderr=open(os.path.join(self.folder, "err"), "w"),
                                       cwd=self.folder)
        threading.Thread(target=read_lines, args=(self.bridge.stdout, self.log, self.transcript),
                         daemon=True).start()
        self.opening = [f"open serial ({self.tty}) :  success", "enable lan"]
        if webSocket:
            self.opening.append("enable websocket")
        self.expect(self.opening)

    def expect(self, wanted):
        got = []
        while len(got) < len(wanted) and (line := next_line(self.log)) is not None:
            got.append(line)
        assert got == wanted, (got, wanted)

    def session_ended(self):
        """The client is gone: the cycle restarts and listens again."""
        self.expect([f"OpenSocket port({self.port}) : success", "ReadSocket error",
                     "Restart...."] + self.opening)

    def listening_sockets(self):
        """The bridge's sockets that listen, from /proc."""
        inodes = set()
        fds = f"/proc/{self.bridge.pid}/fd"
        for fd in os.listdir(fds):
            try:
                target = os.readlink(os.path.join(fds, fd))
            except OSError:
                continue
            if target.startswith("socket:["):
                inodes.add(target[8:-1])
        found = []
        for table in ("/proc/net/tcp", "/proc/net/tcp6"):
            with open(table) as rows:
                for row in list(rows)[1:]:
                    fields = row.split()
                    if fields[3] == "0A" and fields[9] in inodes:  # 0A: LISTEN
                        found.append(fields[1])
        return found

    def finish(self):
        self.bridge.send_signal(signal.SIGINT)
        assert self.bridge.wait(timeout=BOUND) == 0
        errors = open(os.path.join(self.folder, "err")).read()
        assert "ERROR" not in errors and "WARNING" not in errors, errors

    def show(self):
        # The line that tells why a connection ended may still be on its way.
        time.sleep(0.5)
        print("event log:\n" + "\n".join(self.transcript), file=sys.stderr)
        print("standard error:\n" + open(os.path.join(self.folder, "err")).read(),
              file=sys.stderr)

    def kill(self):
        for process in (self.bridge, self.devsim):
            if process is not None and process.poll() is None:
                process.terminate()
                try:
                    process.wait(timeout=BOUND)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        shutil.rmtree(self.folder, ignore_errors=True)


def check_sample(sample, server):
    assert sample == json.loads(server.json_reply), sample


def connect_plain(port):
    deadline = time.monotonic() + BOUND
    while time.monotonic() < deadline:
        try:
            s = socket.create_connection(("127.0.0.1", port), timeout=BOUND)
            return s
        except OSError:
            time.sleep(0.05)  # until the server listens
    raise AssertionError("server never listened")


def receive(s, count):
    data = b""
    while len(data) < count:
        chunk = s.recv(count - len(data))
        if not chunk:
            break
        data += chunk
    return data


def drain(s):
    s.shutdown(socket.SHUT_WR)
    return until_closed(s)


def until_closed(s):
    rest = b""
    while True:
        try:
            chunk = s.recv(4096)
        except ConnectionResetError:
            return rest
        if not chunk:
            return rest
        rest += chunk


def run_plain(server):
    s = connect_plain(server.port)
    s.sendall(b"D\r\n")
    assert receive(s, 72) == PLAIN_REPLY
    s.sendall(b"xdDDD")
    assert receive(s, 216) == PLAIN_REPLY * 3
    assert drain(s) == b""
    s.close()


def frame(payload, first=0x81, mask=MASK, length_form=None):
    """A client frame, masked unless mask is None; the length in the shortest
    form, or in the one given (7, 16 or 64 bits)."""
    n = len(payload)
    if length_form is None:
        length_form = 7 if n < 126 else (16 if n < 65536 else 64)
    mask_bit = 0x80 if mask is not None else 0
    if length_form == 7:
        head = bytes([first, mask_bit | n])
    elif length_form == 16:
        head = bytes([first, mask_bit | 126]) + struct.pack("!H", n)
    else:
        head = bytes([first, mask_bit | 127]) + struct.pack("!Q", n)
    if mask is None:
        return head + payload
    return head + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(payload))


def greeted_client(server, behind=b""):
    s = connect_plain(server.port)
    s.sendall(HEAD + behind)
    assert receive(s, len(HEAD_REPLY)) == HEAD_REPLY
    return s


def run_raw_websocket(server):
    """Hand-made handshake and frames, byte for byte (the native client of the
    wine test: it needs no library)."""
    one = frame(b"D")
    assert len(one) == 7
    reply = bytes([0x81, len(server.json_reply)]) + server.json_reply.encode()
    s = greeted_client(server, one)  # a frame right behind the head
    assert receive(s, len(reply)) == reply
    # A two-byte message; fragments with a ping between them; a 16-bit and a
    # 64-bit length (the longest message); an empty binary message; the
    # 7-byte frames stay in step after all of them.
    s.sendall(frame(b"DD") + frame(b"D", 0x01) + frame(b"tolvane", 0x89) +
              frame(b"more", 0x00) + frame(b"", 0x80) + frame(b"D" + b"x" * 299) +
              frame(b"D" + b"y" * 65535, 0x82) + frame(b"", 0x82) + one + one)
    expected = reply + b"\x8a\x07tolvane" + reply * 5
    assert receive(s, len(expected)) == expected
    # A normal close is echoed, then the server ends the connection.
    s.sendall(frame(struct.pack("!H", 1000), 0x88))
    assert until_closed(s) == b"\x88\x02\x03\xe8"
    s.close()
    server.session_ended()
    # Frames no client may send: the connection ends with close 1002.
    for bad in (frame(b"D", mask=None), frame(b"p" * 126, 0x89)):
        s = greeted_client(server)
        s.sendall(bad + one)
        assert until_closed(s) == b"\x88\x02\x03\xea"
        s.close()
        server.session_ended()
    # The next client is served as ever.
    s = greeted_client(server, one)
    assert receive(s, len(reply)) == reply
    assert drain(s) == b""
    s.close()


async def websockets_client(server):
    import websockets

    deadline = time.monotonic() + BOUND
    while True:
        try:
            # Keep-alive pings every 0.5 s; a pong that does not come within
            # 5 s closes the connection and fails the test.
            ws = await websockets.connect(f"ws://127.0.0.1:{server.port}", open_timeout=BOUND,
                                          close_timeout=BOUND, ping_interval=0.5, ping_timeout=5)
            break
        except OSError:
            if time.monotonic() > deadline:
                raise
            await asyncio.sleep(0.05)  # until the server listens
    requests = pongs = 0
    start = next_ping = time.monotonic()
    while time.monotonic() - start < PING_SECONDS:
        if time.monotonic() >= next_ping:
            # One ping of our own every second, awaited, beside the keep-alive ones.
            await asyncio.wait_for(await ws.ping(b"tolvane %d" % pongs), 5)
            pongs += 1
            next_ping += 1
        await ws.send("D")
        message = await asyncio.wait_for(ws.recv(), 5)  # a stall fails here
        assert isinstance(message, str) and message == server.json_reply, message
        requests += 1
        # A steady pace rather than a flood: the simulated device must answer
        # each poll within the serial link's 100 ms, also on a busy machine.
        await asyncio.sleep(0.01)
    check_sample(json.loads(message), server)
    await ws.close()
    assert ws.close_code == 1000, ws.close_code
    print(f"websockets: {requests} requests in {PING_SECONDS} s, {pongs} pongs awaited")
    assert pongs >= PING_SECONDS - 1


def run_websockets(server):
    try:
        import websockets  # noqa: F401
    except ImportError:
        return SKIP
    asyncio.run(asyncio.wait_for(websockets_client(server), BOUND * 2))
    server.session_ended()


def run_node(server):
    node = shutil.which("node")
    if node is None or not os.path.isdir(os.path.join(ROOT, "web", "node_modules", "ws")):
        return SKIP
    deadline = time.monotonic() + BOUND
    while True:
        result = subprocess.run([node, os.path.join(HERE, "ws_ping_client.mjs"),
                                 os.path.join(ROOT, "web", "package.json"),
                                 f"ws://127.0.0.1:{server.port}", "3"],
                                capture_output=True, text=True, timeout=BOUND)
        if result.returncode != 2 or time.monotonic() > deadline:
            break
        time.sleep(0.05)  # refused: the server does not listen yet
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines == ["pong tolvane 0", server.json_reply, "pong tolvane 1", server.json_reply,
                     "pong tolvane 2", server.json_reply, "close 1000"], lines
    server.session_ended()


def find_browser():
    for name in ("chromium", "chromium-browser", "google-chrome"):
        path = shutil.which(name)
        if path:
            return path
    return None


async def browser_evaluate(debug_port, page_url, expression):
    import websockets

    with urllib.request.urlopen(f"http://127.0.0.1:{debug_port}/json/list", timeout=BOUND) as r:
        targets = json.load(r)
    page = next(t for t in targets if t["type"] == "page")
    async with websockets.connect(page["webSocketDebuggerUrl"], max_size=None) as cdp:
        ids = iter(range(1, 1000))

        async def call(method, **params):
            ident = next(ids)
            await cdp.send(json.dumps({"id": ident, "method": method, "params": params}))
            while True:
                message = json.loads(await asyncio.wait_for(cdp.recv(), BOUND))
                if message.get("id") == ident:
                    assert "error" not in message, message
                    return message["result"]

        await call("Page.enable")
        await call("Page.navigate", url=page_url)
        # Wait until the page's script is there.
        for _ in range(BOUND * 20):
            probe = await call("Runtime.evaluate", expression="typeof requestSamples",
                               returnByValue=True)
            if probe["result"].get("value") == "function":
                break
            await asyncio.sleep(0.05)
        result = await call("Runtime.evaluate", expression=expression, awaitPromise=True,
                            returnByValue=True)
        assert "exceptionDetails" not in result, result
        return result["result"]["value"]


def run_browser(server):
    browser = find_browser()
    if browser is None:
        return SKIP
    try:
        import websockets  # noqa: F401
    except ImportError:
        return SKIP
    profile = tempfile.mkdtemp(prefix="tolvane-chromium-")
    process = subprocess.Popen(
        [browser, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
         "--no-first-run", "--disable-background-networking", "--disable-component-update",
         "--disable-sync", "--disable-dev-shm-usage", f"--user-data-dir={profile}",
         "--remote-debugging-port=0", "about:blank"],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        port_file = os.path.join(profile, "DevToolsActivePort")
        deadline = time.monotonic() + BOUND
        while not (os.path.exists(port_file) and open(port_file).read().strip()):
            assert time.monotonic() < deadline, "browser did not start"
            assert process.poll() is None, "browser ended"
            time.sleep(0.05)
        debug_port = int(open(port_file).read().split()[0])
        page = "file://" + os.path.join(ROOT, "web", "lan_client.html")
        samples = asyncio.run(asyncio.wait_for(
            browser_evaluate(debug_port, page,
                             f"requestSamples({server.port}, 3, {BOUND * 20})"),
            BOUND * 2))
        assert len(samples) == 3, samples
        for sample in samples:
            check_sample(sample, server)
    finally:
        process.terminate()
        try:
            process.wait(timeout=BOUND)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
        shutil.rmtree(profile, ignore_errors=True)
    server.session_ended()


def run_port_zero(bridge):
    """lanPort 65536 names no port: the open fails and is retried, and
    nothing listens meanwhile."""
    failed = "OpenSocket port(65536) : error"
    bridge.expect([failed])
    assert bridge.listening_sockets() == []
    bridge.expect([failed])  # the usual retry
    assert bridge.listening_sockets() == []


# Client: dialect, how to run it, sessions of lan_peer_server.
CLIENTS = {
    "plain": ("plain", run_plain, 1),
    "raw-websocket": ("websocket", run_raw_websocket, 4),
    "websockets": ("websocket", run_websockets, 1),
    "node": ("websocket", run_node, 1),
    "browser": ("websocket", run_browser, 1),
    "port-zero": ("websocket", run_port_zero, 0),
}


def main():
    client, rest = sys.argv[1], sys.argv[2:]
    dialect, run, sessions = CLIENTS[client]
    if client == "node" and shutil.which("node") is None:
        return SKIP
    if client == "browser" and find_browser() is None:
        return SKIP
    if rest[0] == "--bridge":
        server = Bridge(rest[1], rest[2:], dialect,
                        65536 if client == "port-zero" else None)
    else:
        server = Peer(rest, dialect, sessions)
    try:
        outcome = run(server)
        if outcome == SKIP:
            return SKIP
        server.finish()
        return 0
    except BaseException:
        server.show()
        raise
    finally:
        server.kill()


if __name__ == "__main__":
    sys.exit(main())
