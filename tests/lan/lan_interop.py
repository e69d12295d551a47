#!/usr/bin/env python3
"""Real clients against the LAN server program (lan_peer_server).

    lan_interop.py CLIENT SERVER [EMULATOR...]

CLIENT is one of: plain (raw socket), websockets (the Python library),
node (the "ws" library from web/node_modules), browser (headless Chromium).
Exits 77 when the client's tool is missing, so that CTest marks a skip.
Every wait is bounded; a hang fails the test.
"""
import asyncio
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

SKIP = 77
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PLAIN_REPLY = b"  12.500,  -0.000,-180.000, 0.70711, 0.00000, 0.00000, 0.70711,1,0,0,0,1"
JSON_REPLY = ('{"d":[  12.500,  -0.000,-180.000],"q":[ 0.70711, 0.00000, 0.00000, 0.70711],'
              '"b":[1,0,0,0,1]}')
BOUND = 60  # seconds for anything to happen (wine starts slowly)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def check_sample(sample):
    assert sample == json.loads(JSON_REPLY), sample
    assert sample["d"] == [12.5, -0.0, -180.0] and sample["b"] == [1, 0, 0, 0, 1], sample


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
    rest = b""
    while True:
        chunk = s.recv(4096)
        if not chunk:
            return rest
        rest += chunk


def run_plain(port):
    s = connect_plain(port)
    s.sendall(b"D\r\n")
    assert receive(s, 72) == PLAIN_REPLY
    s.sendall(b"xdDDD")
    assert receive(s, 216) == PLAIN_REPLY * 3
    assert drain(s) == b""
    s.close()


def run_raw_websocket(port):
    """A hand-made handshake and frames, byte for byte (the native client of
    the wine test: it needs no library)."""
    s = connect_plain(port)
    mask = bytes([0x37, 0xFA, 0x21, 0x3D])
    frame = bytes([0x81, 0x81]) + mask + bytes([ord("D") ^ mask[0]])
    s.sendall(b"GET /chat HTTP/1.1\r\nHost: server.example.com\r\nUpgrade: websocket\r\n"
              b"Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
              b"Sec-WebSocket-Version: 13\r\n\r\n" + frame)
    head = (b"HTTP/1.1 101 OK\r\nUpgrade: websocket\r\nConnection: upgrade\r\n"
            b"Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n")
    assert receive(s, len(head)) == head
    reply = receive(s, 94)
    assert reply[:2] == bytes([0x81, 92]) and reply[2:].decode() == JSON_REPLY, reply
    s.sendall(frame)
    assert receive(s, 94) == reply
    assert drain(s) == b""
    s.close()


async def websockets_client(port):
    import websockets

    deadline = time.monotonic() + BOUND
    while True:
        try:
            ws = await websockets.connect(f"ws://127.0.0.1:{port}", open_timeout=BOUND,
                                          close_timeout=1)
            break
        except OSError:
            if time.monotonic() > deadline:
                raise
            await asyncio.sleep(0.05)  # until the server listens
    for _ in range(3):
        await ws.send("D")
        message = await asyncio.wait_for(ws.recv(), BOUND)
        assert isinstance(message, str) and message == JSON_REPLY, message
        check_sample(json.loads(message))
    # The server answers no close frame; this side gives up after close_timeout.
    await ws.close()


def run_websockets(port):
    try:
        import websockets  # noqa: F401
    except ImportError:
        return SKIP
    asyncio.run(asyncio.wait_for(websockets_client(port), BOUND * 2))


def run_node(port):
    node = shutil.which("node")
    if node is None or not os.path.isdir(os.path.join(ROOT, "web", "node_modules", "ws")):
        return SKIP
    deadline = time.monotonic() + BOUND
    while True:
        result = subprocess.run([node, os.path.join(ROOT, "web", "ws_client.mjs"),
                                 f"ws://127.0.0.1:{port}", "3"],
                                capture_output=True, text=True, timeout=BOUND)
        if result.returncode != 2 or time.monotonic() > deadline:
            break
        time.sleep(0.05)  # refused: the server does not listen yet
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines == [JSON_REPLY] * 3, lines
    for line in lines:
        check_sample(json.loads(line))


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


def run_browser(port):
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
            browser_evaluate(debug_port, page, f"requestSamples({port}, 3, {BOUND * 20})"),
            BOUND * 2))
        assert len(samples) == 3, samples
        for sample in samples:
            check_sample(sample)
    finally:
        process.terminate()
        try:
            process.wait(timeout=BOUND)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
        shutil.rmtree(profile, ignore_errors=True)


CLIENTS = {
    "plain": ("plain", run_plain),
    "raw-websocket": ("websocket", run_raw_websocket),
    "websockets": ("websocket", run_websockets),
    "node": ("websocket", run_node),
    "browser": ("websocket", run_browser),
}


def main():
    client, server = sys.argv[1], sys.argv[2:]
    dialect, run = CLIENTS[client]
    if client == "node" and shutil.which("node") is None:
        return SKIP
    if client == "browser" and find_browser() is None:
        return SKIP
    port = free_port()
    process = subprocess.Popen(server + [str(port), dialect, "1"], stdout=subprocess.PIPE,
                               text=True)
    try:
        outcome = run(port)
        if outcome == SKIP:
            return SKIP
        out, _ = process.communicate(timeout=BOUND)
        assert process.returncode == 0, process.returncode
        print(out.strip())
        return 0
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()


if __name__ == "__main__":
    sys.exit(main())
