#!/usr/bin/env python3
"""tolvane-publish against a real mosquitto broker, the headless bridge and the
device simulator, with mosquitto_sub subscribers and oscdump as OSC receiver.

    publish_e2e.py options PUBLISH
    publish_e2e.py plain|websocket PUBLISH HEADLESS DEVSIM DECODE
    publish_e2e.py login PUBLISH

Exits 77 (a skip) when the mosquitto broker or its clients are not installed.
Every wait is bounded; a hang fails the test.
"""
import json
import math
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from harness import descriptor_count, free_port  # noqa: E402

import getpass  # noqa: E402

SKIP = 77
BOUND = 30  # seconds for anything to happen
PREFIX = "tolv/e2e"


def wait_until(condition, what, bound=BOUND):
    deadline = time.monotonic() + bound
    while not condition():
        assert time.monotonic() < deadline, "timed out waiting for " + what
        time.sleep(0.02)


class Lines:
    """A child whose standard output is collected line by line."""

    def __init__(self, argv, cwd=None, stderr=subprocess.DEVNULL):
        self.lines = []
        self.process = subprocess.Popen(argv, cwd=cwd, stdout=subprocess.PIPE, stderr=stderr,
                                        text=True, bufsize=1)
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.append(line.rstrip("\n"))

    def wait_for(self, condition, what, bound=BOUND):
        wait_until(lambda: condition(list(self.lines)), what, bound)
        return list(self.lines)

    def stop(self, sig=signal.SIGTERM):
        if self.process.poll() is None:
            self.process.send_signal(sig)
        try:
            return self.process.wait(timeout=BOUND)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise AssertionError(f"{self.process.args[0]} did not end on signal {sig}")


class Setup:
    def __init__(self, tools, scratch):
        self.tools, self.scratch = tools, scratch
        self.children = []
        self.broker = None
        self.broker_port = free_port()

    def start(self, argv, **kwargs):
        child = Lines(argv, **kwargs)
        self.children.append(child)
        return child

    def start_broker(self):
        conf = os.path.join(self.scratch, "mosquitto.conf")
        with open(conf, "w") as f:
            f.write(f"listener {self.broker_port} 127.0.0.1\nallow_anonymous true\n")
        log = open(os.path.join(self.scratch, "mosquitto.log"), "a")
        self.broker = self.start([self.tools["mosquitto"], "-c", conf], stderr=log)

        def listening():
            try:
                socket.create_connection(("127.0.0.1", self.broker_port), timeout=1).close()
                return True
            except OSError:
                return False
        wait_until(listening, "the broker to listen")

    def subscriber(self, topic=PREFIX + "/#", extra=()):
        return self.start([self.tools["mosquitto_sub"], "-h", "127.0.0.1", "-p",
                           str(self.broker_port), "-q", "1", "-t", topic,
                           "-F", "%r %t %p", *extra])

    def subscribed(self, subscribers):
        """Publishes a marker until every subscriber has seen it."""
        def all_seen():
            subprocess.run([self.tools["mosquitto_pub"], "-h", "127.0.0.1", "-p",
                            str(self.broker_port), "-t", PREFIX + "/hello", "-m", "x"],
                           timeout=BOUND, check=True)
            time.sleep(0.05)
            return all(any(" /hello " in line.replace(PREFIX, "") for line in s.lines)
                       for s in subscribers)
        wait_until(all_seen, "the subscribers")

    def retained(self, topic):
        """The retained message of topic, as 'retain-flag payload'."""
        out = subprocess.run([self.tools["mosquitto_sub"], "-h", "127.0.0.1", "-p",
                              str(self.broker_port), "-t", topic, "-C", "1", "-W", "5",
                              "-F", "%r %p"], capture_output=True, text=True, timeout=BOUND)
        return out.stdout.strip()

    def publisher(self, args, name):
        err = open(os.path.join(self.scratch, name + ".err"), "w")
        child = self.start([self.tools["publish"], *args], stderr=err)
        child.err_path = err.name
        return child

    def close(self):
        for child in reversed(self.children):
            if child.process.poll() is None:
                child.process.kill()
            child.process.wait()


def messages(lines, topic):
    """The payloads on PREFIX/topic, in order of arrival."""
    head = f"{PREFIX}/{topic} "
    return [line.split(" ", 2)[2] for line in lines if line[2:].startswith(head)]


def motions(lines):
    return [json.loads(p) for p in messages(lines, "motion")]


def close_to(a, b):
    return math.isclose(a, b, rel_tol=1e-6, abs_tol=2e-6)


def check_osc(receiver, motion_list):
    """The OSC messages are a run of the motion messages, value for value."""
    osc = [line.split()[1:] for line in receiver.lines[:60]]
    assert len(osc) >= 20, osc
    for path, types, *values in osc:
        assert path == "/tolvane/motion" and types == "fffffffiiiii", (path, types)
    tuples = [[float(v) for v in values[:7]] + [int(v) for v in values[7:]]
              for _, _, *values in osc]
    expected = [m["d"] + m["q"] + m["b"] for m in motion_list]

    # Either side may have started first: the OSC receiver may see a reply
    # published before a subscriber's subscription took effect, and the other
    # way round. Where both hold messages they must agree, for 20 at least.
    def run_from(start):
        pairs = [(tuples[i], expected[start + i]) for i in range(len(tuples))
                 if 0 <= start + i < len(expected)]
        return len(pairs) >= 20 and all(close_to(a, b) for t, e in pairs for a, b in zip(t, e))
    assert any(run_from(s) for s in range(-len(tuples) + 1, len(expected))), \
        (tuples[:3], expected[:3])


def bridge_replies(tools, log, dialect):
    """What the bridge answers for each line the simulator sent."""
    argv = [tools["decode"]] + (["--json"] if dialect == "websocket" else []) + [log]
    out = subprocess.run(argv, capture_output=True, text=True, timeout=BOUND, check=True)
    replies = []
    for line in out.stdout.splitlines():
        if dialect == "websocket":
            replies.append(json.loads(line))
        else:
            v = line.split(",")
            replies.append({"d": [float(x) for x in v[:3]], "q": [float(x) for x in v[3:7]],
                            "b": [int(x) for x in v[7:]]})
    return replies


def run_scenario(tools, dialect, scratch):
    s = Setup(tools, scratch)
    try:
        s.start_broker()
        # Button 0 goes down and up every 0.1 s: buttons messages to check.
        devsim = s.start([tools["devsim"], "--log", os.path.join(scratch, "device.log"),
                          "--press", "0@0+0.05/0.1"])
        device = devsim.wait_for(lambda lines: lines, "the simulator")[0]
        lan_port = free_port()
        websocket = "1" if dialect == "websocket" else "0"
        # port, distance, scroll, averaging 32 and 1, LAN port, no mouse,
        # preset C, LAN on, WebSocket, angles
        with open(os.path.join(scratch, "tolv.conf"), "w") as f:
            f.write(f"{device}\n1.000000\n4\n32\n1\n{lan_port}\n0\n0\n1\n{websocket}\n0\n")
        bridge = s.start([tools["headless"]], cwd=scratch)
        subs = [s.subscriber() for _ in range(3)]
        s.subscribed(subs)
        osc_ports = [free_port(socket.SOCK_DGRAM) for _ in range(2)]
        receivers = [s.start([tools["oscdump"], "-L", str(p)]) for p in osc_ports]
        args = ["--bridge", f"127.0.0.1:{lan_port}", "--mqtt", f"127.0.0.1:{s.broker_port}",
                "--topic", PREFIX, "--rate", "400"] + (["--websocket"] * (dialect == "websocket"))
        for p in osc_ports:
            args += ["--osc", f"127.0.0.1:{p}"]
        if dialect == "websocket":
            # A gateway of the other dialect is never answered: it says what to
            # change at once, and never shows as online.
            wrong = s.publisher([a for a in args if a != "--websocket"], "gateway0")
            wait_until(lambda: "Then add --websocket" in open(wrong.err_path).read(),
                       "the dialect hint", bound=10)
            assert wrong.stop(signal.SIGINT) == 0
            assert "online" not in messages(subs[0].lines, "status"), subs[0].lines[-5:]
        gateway = s.publisher(args, "gateway1")

        # Fan-out: three subscribers, one sequence, the bridge's own values.
        # (A reply may come before the broker has taken the gateway in.)
        count = 160
        for sub in subs:
            sub.wait_for(lambda lines: len(messages(lines, "motion")) >= count, "motion")
        first = [motions(sub.lines)[:count] for sub in subs]
        assert first[0] == first[1] == first[2]
        start = first[0][0]["seq"]
        # Replies before the broker took the gateway in are not kept for it:
        # under load that can be a few hundred lines, never the whole run.
        assert start <= 400 and [m["seq"] for m in first[0]] == list(range(start, start + count))
        replies = bridge_replies(tools, os.path.join(scratch, "device.log"), dialect)
        for m in first[0]:
            reply = replies[m["seq"] - 1]
            assert (m["d"], m["q"], m["b"]) == (reply["d"], reply["q"], reply["b"]), (m, reply)
        assert all(m["t"] > 1.5e12 for m in first[0])

        # One buttons message per change of the buttons, and only then.
        last = first[0][-1]["seq"]
        changes = [k + 1 for k in range(last) if k == 0 or replies[k]["b"] != replies[k - 1]["b"]]
        assert len(changes) >= 3, changes
        for sub in subs:
            sent = [json.loads(p) for p in messages(sub.lines, "buttons")]
            assert [b["seq"] for b in sent if b["seq"] <= last] == changes, sent
            # (Messages past those checked may come from replies the decoded
            # log does not hold yet.)
            assert all(b["b"] == replies[b["seq"] - 1]["b"] for b in sent if b["seq"] <= last)
        # "online" reaches every subscriber before the first motion message.
        for sub in subs:
            topics = [line.split(" ", 2)[1] + " " + line.split(" ", 2)[2][:6] for line in sub.lines]
            assert f"{PREFIX}/status online" in topics, topics[:5]
            first_motion = next(i for i, t in enumerate(topics) if t.startswith(PREFIX + "/motion"))
            assert topics.index(f"{PREFIX}/status online") < first_motion, topics[:5]

        for receiver in receivers:
            receiver.wait_for(lambda lines: len(lines) >= 60, "OSC messages")
        # The subscriber a little further on than what OSC has delivered.
        seen = len(subs[0].lines)
        subs[0].wait_for(lambda lines: len(lines) > seen + 40, "more motion")
        for receiver in receivers:
            check_osc(receiver, motions(subs[0].lines))

        # The bridge goes away and comes back: publishing resumes by itself,
        # with no socket left behind.
        held = descriptor_count(gateway.process.pid)
        bridge.stop(signal.SIGKILL)
        subs[0].wait_for(lambda lines: messages(lines, "status")[-1:] == ["offline"], "offline")
        for _ in range(5):
            assert descriptor_count(gateway.process.pid) <= held
            time.sleep(0.1)
        last_seq = motions(subs[0].lines)[-1]["seq"]
        bridge = s.start([tools["headless"]], cwd=scratch)
        subs[0].wait_for(lambda lines: motions(lines)[-1:] and motions(lines)[-1]["seq"] > last_seq + 20, "resumed")
        assert messages(subs[0].lines, "status")[-1] == "online"
        assert descriptor_count(gateway.process.pid) == held

        # The broker goes away and comes back: the gateway reconnects and
        # publishes its retained state again.
        for sub in subs:
            sub.stop()
        s.broker.stop()
        s.start_broker()
        sub = s.subscriber()
        sub.wait_for(lambda lines: len(motions(lines)) >= 20, "motion after the broker restart")
        assert messages(sub.lines, "status") == ["online"]
        assert len(messages(sub.lines, "buttons")) >= 1

        # Killed: the broker's last will says offline.
        gateway.stop(signal.SIGKILL)
        sub.wait_for(lambda lines: messages(lines, "status")[-1:] == ["offline"], "the last will")

        # A new gateway that finds neither broker nor bridge (the bridge takes
        # a new client 3 s after the last one left) waits for both, saying so
        # once each; Ctrl+C then ends it cleanly with status offline.
        sub.stop()
        s.broker.stop()
        gateway = s.publisher(args, "gateway2")
        wait_until(lambda: "waiting for the MQTT broker" in open(gateway.err_path).read(),
                   "the broker wait")
        s.start_broker()
        sub = s.subscriber()
        sub.wait_for(lambda lines: len(motions(lines)) >= 20, "motion from the new gateway")
        assert messages(sub.lines, "status")[-1] == "online"
        assert gateway.stop(signal.SIGINT) == 0
        sub.wait_for(lambda lines: messages(lines, "status")[-1:] == ["offline"], "offline")
        assert s.retained(PREFIX + "/status") == "1 offline"
        last_buttons = messages(sub.lines, "buttons")[-1]
        assert s.retained(PREFIX + "/buttons") == "1 " + last_buttons
        err = open(gateway.err_path).read()
        assert err.count("waiting for the MQTT broker") == 1, err
        assert err.count("waiting for the bridge") <= 1, err
        assert err.count("connected to the bridge") == 1, err
        print(open(gateway.err_path).read().strip())
    except AssertionError:
        for name in sorted(os.listdir(scratch)):
            if name.endswith((".err", ".log")) and name != "device.log":
                print(f"--- {name}\n" + open(os.path.join(scratch, name)).read()[-3000:])
        raise
    finally:
        s.close()


# A reply of the plain dialect, as the bridge sends it for every "D".
PLAIN_REPLY = b"  12.500,  -0.000,-180.000, 0.70711, 0.00000, 0.00000, 0.70711,1,0,0,0,1"


class FakeBridge:
    """The bridge's plain dialect on a loopback port: enough for the gateway
    to have replies to publish."""

    def __init__(self):
        self.server = socket.create_server(("127.0.0.1", 0))
        self.port = self.server.getsockname()[1]
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        while True:
            try:
                connection, _ = self.server.accept()
            except OSError:
                return
            threading.Thread(target=self._answer, args=(connection,), daemon=True).start()

    @staticmethod
    def _answer(connection):
        with connection:
            try:
                while (request := connection.recv(1)):
                    if request == b"D":
                        connection.sendall(PLAIN_REPLY)
            except OSError:
                pass


def make_certificates(openssl, folder):
    """A CA, the broker's certificate for the name localhost only (and one of
    them that expired yesterday), a client certificate, and a second CA that
    signed none of them but a stranger's client certificate."""
    def run(*args):
        subprocess.run([openssl, *args], cwd=folder, check=True, capture_output=True,
                       timeout=BOUND)

    for ca in ("ca", "other-ca"):
        run("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
            f"/CN=tolvane test {ca}", "-keyout", f"{ca}.key", "-out", f"{ca}.crt")
    for name, extension, ca, days in (("server", "subjectAltName=DNS:localhost", "ca", "2"),
                                      ("expired", "subjectAltName=DNS:localhost", "ca", "-1"),
                                      ("client", "extendedKeyUsage=clientAuth", "ca", "2"),
                                      ("stranger", "extendedKeyUsage=clientAuth", "other-ca",
                                       "2")):
        run("req", "-newkey", "rsa:2048", "-nodes", "-subj", f"/CN={name}",
            "-keyout", f"{name}.key", "-out", f"{name}.csr")
        with open(os.path.join(folder, f"{name}.ext"), "w") as f:
            f.write(extension + "\n")
        run("x509", "-req", "-in", f"{name}.csr", "-CA", f"{ca}.crt", "-CAkey", f"{ca}.key",
            "-CAcreateserial", "-days", days, "-extfile", f"{name}.ext", "-out", f"{name}.crt")


PASSWORD = "c0rrect-h0rse"


def login_cases(broker):
    """(what, arguments, environment, the one line said that is not about the
    bridge: the end (exit status 1), or when it starts with WARNING, a note
    of a gateway that publishes; None: it publishes without a word).
    broker: the ports of the listeners."""
    tls = ["--tls", "--cafile", "ca.crt"]
    login = ["--username", "gw", "--password-file", "password"]
    plain, secure, mutual, expired = broker
    return [
        ("login and CA", ["--mqtt", f"localhost:{secure}", *login, *tls], {}, None),
        ("client certificate", ["--mqtt", f"localhost:{mutual}", "--username", "gw", *tls,
                                "--cert", "client.crt", "--key", "client.key"],
         {"TOLVANE_MQTT_PASSWORD": PASSWORD}, None),
        ("password for all", ["--mqtt", f"localhost:{secure}", "--username", "gw",
                              "--password-file", "password-for-all", *tls], {},
         "WARNING: the password file password-for-all can be read by every user of the "
         "machine (mode 644): make it yours alone with chmod 600 password-for-all"),
        ("NUL in the password", ["--mqtt", f"localhost:{secure}", "--username", "gw",
                                 "--password-file", "password-with-nul", *tls], {},
         "the first line of the password file password-with-nul holds a NUL byte (byte 5), "
         "where the password would end: save the password as plain text"),
        ("no login", ["--mqtt", f"127.0.0.1:{plain}"], {},
         f"the MQTT broker at 127.0.0.1:{plain} refused the login (Connection Refused: not "
         "authorised): it wants a login: give --username, and the password in "
         "TOLVANE_MQTT_PASSWORD or a --password-file"),
        ("wrong password", ["--mqtt", f"localhost:{secure}", "--username", "gw", *tls],
         {"TOLVANE_MQTT_PASSWORD": "wrong"},
         f"the MQTT broker at localhost:{secure} refused the login as 'gw' (Connection Refused: "
         "not authorised): check --username and the password (TOLVANE_MQTT_PASSWORD)"),
        ("wrong CA", ["--mqtt", f"localhost:{secure}", *login, "--tls", "--cafile", "other-ca.crt"],
         {}, f"the MQTT broker at localhost:{secure} shows a certificate of an unknown CA ("),
        ("system CAs", ["--mqtt", f"localhost:{secure}", *login, "--tls"], {},
         f"the MQTT broker at localhost:{secure} shows a certificate of an unknown CA ("),
        ("wrong name", ["--mqtt", f"127.0.0.1:{secure}", *login, *tls], {},
         f"the MQTT broker at 127.0.0.1:{secure} shows a certificate that is not for the name "
         "'127.0.0.1': give --mqtt a name the certificate holds"),
        ("expired certificate", ["--mqtt", f"localhost:{expired}", *login, *tls], {},
         f"the MQTT broker at localhost:{expired} shows a certificate that fails the check "
         "(certificate has expired): the broker needs a renewed certificate"),
        ("no client certificate", ["--mqtt", f"localhost:{mutual}", *login, *tls], {},
         f"the MQTT broker at localhost:{mutual} asks for a client certificate ("),
        ("stranger's certificate", ["--mqtt", f"localhost:{mutual}", *login, *tls,
                                    "--cert", "stranger.crt", "--key", "stranger.key"], {},
         f"the MQTT broker at localhost:{mutual} refused the client certificate given to "
         "--cert (tlsv1 alert unknown ca): the broker's cafile does not hold the CA"),
    ]


def gateway_said(err_path):
    """What the gateway said that is not about the bridge."""
    return [line for line in open(err_path).read().splitlines() if " the bridge at " not in line]


def run_login(tools, scratch):
    make_certificates(tools["openssl"], scratch)
    for name, text, mode in (("password", PASSWORD + "\n", 0o600),
                             ("password-for-all", PASSWORD + "\n", 0o644),
                             ("password-with-nul", PASSWORD[:4] + "\0" + PASSWORD[4:] + "\n",
                              0o600)):
        with open(os.path.join(scratch, name), "w") as f:
            f.write(text)
        os.chmod(os.path.join(scratch, name), mode)
    subprocess.run([tools["mosquitto_passwd"], "-c", "-b", "broker-passwords", "gw", PASSWORD],
                   cwd=scratch, check=True, capture_output=True, timeout=BOUND)
    ports = [free_port() for _ in range(4)]

    def files(certificate):
        return (f"cafile {scratch}/ca.crt\ncertfile {scratch}/{certificate}.crt\n"
                f"keyfile {scratch}/{certificate}.key\n")
    conf = os.path.join(scratch, "mosquitto.conf")
    with open(conf, "w") as f:
        # Run as root, the broker would switch to its own user, who cannot
        # read the test's files.
        f.write(f"user {getpass.getuser()}\nper_listener_settings false\nallow_anonymous false\n"
                f"password_file {scratch}/broker-passwords\n"
                f"listener {ports[0]} 127.0.0.1\n"
                f"listener {ports[1]} 127.0.0.1\n{files('server')}"
                f"listener {ports[2]} 127.0.0.1\n{files('server')}require_certificate true\n"
                f"listener {ports[3]} 127.0.0.1\n{files('expired')}")
    s = Setup(tools, scratch)
    bridge = FakeBridge()
    # A port that takes connections and never answers, as a broker that hangs
    # does: the gateway says what it waits for (and keeps waiting).
    silent = socket.create_server(("127.0.0.1", 0))
    try:
        log = open(os.path.join(scratch, "mosquitto.log"), "a")
        s.start([tools["mosquitto"], "-c", conf], stderr=log)

        def listening():
            try:
                for port in ports:
                    socket.create_connection(("127.0.0.1", port), timeout=1).close()
                return True
            except OSError:
                return False
        wait_until(listening, "the broker to listen")
        sub = s.start([tools["mosquitto_sub"], "-h", "127.0.0.1", "-p", str(ports[0]),
                       "-u", "gw", "-P", PASSWORD, "-t", PREFIX + "/motion", "-F", "%r %t %p"])
        silent_port = silent.getsockname()[1]
        waiting = s.publisher(["--bridge", f"127.0.0.1:{bridge.port}", "--mqtt",
                               f"127.0.0.1:{silent_port}"], "silent-broker")
        for what, args, environment, expected in login_cases(ports):
            err_path = os.path.join(scratch, what.replace(" ", "-") + ".err")
            with open(err_path, "w") as err:
                gateway = subprocess.Popen(
                    [tools["publish"], "--bridge", f"127.0.0.1:{bridge.port}", "--topic", PREFIX,
                     "--rate", "50", *args], cwd=scratch, stdout=subprocess.DEVNULL, stderr=err,
                    env=dict(os.environ, **environment))
            try:
                if expected is None or expected.startswith("WARNING"):
                    seen = len(sub.lines)
                    sub.wait_for(lambda lines: len(lines) > seen + 3, what)
                    with open(f"/proc/{gateway.pid}/cmdline", "rb") as f:
                        assert PASSWORD.encode() not in f.read(), what
                    gateway.send_signal(signal.SIGINT)
                    assert gateway.wait(timeout=BOUND) == 0, what
                    warned = [line for line in gateway_said(err_path) if "WARNING" in line]
                    assert warned == ([] if expected is None else [
                        "tolvane-publish: " + expected]), (what, warned)
                    continue
                # Said once, and the end: waiting cannot mend it.
                try:
                    assert gateway.wait(timeout=BOUND) == 1, what
                except subprocess.TimeoutExpired:
                    raise AssertionError(f"{what}: still running after {BOUND} s")
                said = gateway_said(err_path)
                assert len(said) == 1 and said[0].startswith("tolvane-publish: " + expected), \
                    (what, said)
            finally:
                if gateway.poll() is None:
                    gateway.kill()
                    gateway.wait()
        wait_until(lambda: "MQTT" in open(waiting.err_path).read(), "the silent broker's line")
        assert waiting.process.poll() is None
        said = gateway_said(waiting.err_path)
        assert said == [f"tolvane-publish: waiting for the MQTT broker at 127.0.0.1:{silent_port} "
                        "(no answer within 10 s: is this port its MQTT listener?)"], said
    except AssertionError:
        for name in sorted(os.listdir(scratch)):
            if name.endswith((".err", ".log")):
                print(f"--- {name}\n" + open(os.path.join(scratch, name)).read()[-3000:])
        raise
    finally:
        bridge.server.close()
        silent.close()
        s.close()


OPTION_ERRORS = [
    ([], "--bridge: missing"),
    (["--bridge", "127.0.0.1:8096"], "--mqtt: missing"),
    (["--bridge", "localhost", "--mqtt", "h:1"], "--bridge: expects HOST:PORT"),
    (["--bridge", "h:0", "--mqtt", "h:1"], "--bridge: expects a port from 1 to 65535"),
    (["--bridge", "h:1", "--mqtt", "h:65536"], "--mqtt: expects a port from 1 to 65535"),
    (["--bridge", "h:1", "--mqtt", "h:1x"], "--mqtt: expects a port"),
    (["--bridge", "::1:8096", "--mqtt", "h:1"], "--bridge: an IPv6 address goes in brackets"),
    (["--bridge", "h:1", "--mqtt", "h:1", "--rate", "2000"], "--rate: expects"),
    (["--bridge", "h:1", "--mqtt", "h:1", "--rate", "-1"], "--rate: expects"),
    (["--bridge", "h:1", "--mqtt", "h:1", "--topic", "a/+/b"], "--topic: 'a/+/b'"),
    (["--bridge", "h:1", "--mqtt", "h:1", "--osc", "h"], "--osc: expects HOST:PORT"),
    (["--bridge", "h:1", "--mqtt", "h:1", "--websocket=1"], "--websocket takes no value"),
    (["--bridge", "h:1", "--mqtt", "h:1", "--colour"], "unknown option '--colour'"),
    (["--bridge", "h:1", "--mqtt"], "--mqtt needs a value"),
    (["--bridge", "h:1", "--mqtt", "h:1", "--password", "s3cret"],
     "--password: a password on the command line is seen by every user"),
    (["--bridge", "h:1", "--mqtt", "h:1", "--password=s3cret"], "--password: a password"),
    (["--bridge", "h:1", "--mqtt", "h:1", "--password-file", "f"],
     "--password-file: a password goes with a user name: add --username"),
    (["--bridge", "h:1", "--mqtt", "h:1", "--cafile", "ca.crt"],
     "--cafile: acts on TLS to the broker: add --tls"),
    (["--bridge", "h:1", "--mqtt", "h:1", "--insecure"], "--insecure: acts on TLS"),
    (["--bridge", "h:1", "--mqtt", "h:1", "--tls", "--cert", "c.crt"],
     "--cert: a client certificate needs both --cert and --key"),
]


def run_options(publish):
    def run(args):
        return subprocess.run([publish, *args], capture_output=True, text=True, timeout=BOUND)
    for args in (["--help"], ["-h"]):
        r = run(args)
        assert r.returncode == 0 and "Example:" in r.stdout and r.stderr == "", r
    r = run(["--version"])
    assert r.returncode == 0 and re.fullmatch(r"tolvane-publish \d+\.\d+(\.\d+)?\n", r.stdout), r
    for args, message in OPTION_ERRORS:
        r = run(args)
        lines = r.stderr.splitlines()
        assert r.returncode == 2 and r.stdout == "" and len(lines) == 2, (args, r)
        assert lines[0].startswith("tolvane-publish: " + message), (args, lines)
        assert lines[1] == "Try 'tolvane-publish --help'.", (args, lines)
        assert "s3cret" not in r.stderr, (args, lines)
    # Files that cannot be read end it before anything connects.
    for args, message in [(["--username", "u", "--password-file", "/nonexistent/pw"],
                           "cannot read the password file /nonexistent/pw: No such file"),
                          (["--tls", "--cafile", "/nonexistent/ca.crt"],
                           "cannot read the CA file /nonexistent/ca.crt: No such file")]:
        r = run(["--bridge", "h:1", "--mqtt", "h:1", *args])
        assert r.returncode == 1 and r.stderr.startswith("tolvane-publish: " + message), r
        assert len(r.stderr.splitlines()) == 1, r
    r = run(["--bridge", "[::1]:8096", "--mqtt", "h:1", "--rate", "0.5", "--help"])
    assert r.returncode == 0, r
    # The longest topic decides: PREFIX/buttons must fit MQTT's 65535 bytes.
    r = run(["--bridge", "h:1", "--mqtt", "h:1", "--topic", "t" * 65527, "--help"])
    assert r.returncode == 0, r
    r = run(["--bridge", "h:1", "--mqtt", "h:1", "--topic", "t" * 65528])
    assert r.returncode == 2 and r.stderr.splitlines() == [
        "tolvane-publish: --topic: a prefix of 65528 bytes is too long: MQTT topics hold at "
        "most 65535 bytes, so the prefix at most 65527", "Try 'tolvane-publish --help'."], r


def main():
    case, publish = sys.argv[1], sys.argv[2]
    if case == "options":
        run_options(publish)
        return 0
    path = os.environ.get("PATH", "") + ":/usr/sbin:/sbin"
    names = ("mosquitto", "mosquitto_sub", "mosquitto_pub")
    if case == "login":
        names += ("mosquitto_passwd", "openssl")
    tools = {name: shutil.which(name, path=path) for name in names}
    if not all(tools.values()):
        print("mosquitto, its clients or openssl are not installed:", tools)
        return SKIP
    if case == "login":
        tools["publish"] = publish
        scratch = tempfile.mkdtemp(prefix="tolvane-publish-")
        try:
            run_login(tools, scratch)
        finally:
            shutil.rmtree(scratch, ignore_errors=True)
        return 0
    tools.update(publish=publish, headless=sys.argv[3], devsim=sys.argv[4], decode=sys.argv[5],
                 oscdump=shutil.which("oscdump") or "oscdump")
    scratch = tempfile.mkdtemp(prefix="tolvane-publish-")
    os.chmod(scratch, 0o755)  # the broker may read its file as another user
    try:
        run_scenario(tools, case, scratch)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
