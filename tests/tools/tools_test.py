#!/usr/bin/env python3
"""What the tools tell their users, end to end (Linux build).

    tools_test.py BIN_DIR

The probe against a port where nothing listens and against a bridge of the
other dialect; tolvane-decode --cursor against the air mouse's documented
positions and button events; every "cannot read" with the system's reason.
Every run is bounded in time.
"""
import math
import os
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from harness import free_port  # noqa: E402

BOUND = 30


def device_line(q, buttons, accel=(0.0, 0.0, 1.0)):
    body = "TOL," + "".join("%8.3f," % a for a in accel) + \
        "".join("%8.5f," % c for c in q) + buttons + ","
    return (body + "%02d" % (sum(body.encode()[:73]) % 100) + "\r").encode()


def turn(axis, degrees):
    q = [0.0, 0.0, 0.0, math.cos(math.radians(degrees) / 2)]
    q[axis] = math.sin(math.radians(degrees) / 2)
    return q


def product(a, b):
    """The quaternion a * b (x, y, z, w)."""
    ax, ay, az, aw = a
    bx, by, bz, bw = b
    return [aw * bx + ax * bw + ay * bz - az * by, aw * by - ax * bz + ay * bw + az * bx,
            aw * bz + ax * by - ay * bx + az * bw, aw * bw - ax * bx - ay * by - az * bz]


class Checks:
    def __init__(self):
        self.failures = []

    def __call__(self, condition, what):
        if not condition:
            self.failures.append(what)


def probe_cases(bin_dir, check):
    program = os.path.join(bin_dir, "tolvane-probe")
    port = free_port()
    started = time.monotonic()
    result = subprocess.run([program, "--port", str(port)], capture_output=True, text=True,
                            timeout=BOUND)
    check(result.returncode == 1 and time.monotonic() - started < 5 and
          f"cannot connect to 127.0.0.1 port {port}: Connection refused" in result.stderr,
          f"refused: {result.returncode} {result.stderr!r}")

    # A bridge of each dialect, and the probe of the other one.
    with tempfile.TemporaryDirectory() as scratch:
        devsim = subprocess.Popen([os.path.join(bin_dir, "tolvane-devsim")],
                                  stdout=subprocess.PIPE, text=True)
        try:
            device = devsim.stdout.readline().strip()
            for web_socket in (0, 1):
                port = free_port()
                with open(os.path.join(scratch, "tolv.conf"), "w") as conf:
                    conf.write(f"{device}\n1.000000\n4\n32\n1\n{port}\n0\n0\n1\n{web_socket}\n0\n")
                bridge = subprocess.Popen([os.path.join(bin_dir, "tolvane-headless")],
                                          cwd=scratch, stdout=subprocess.DEVNULL,
                                          stderr=subprocess.DEVNULL)
                try:
                    args = [program, "--port", str(port), "--connect-wait", "10", "--count", "2",
                            "--timeout", "200"]
                    if not web_socket:
                        args.append("--websocket")
                    result = subprocess.run(args, capture_output=True, text=True, timeout=BOUND)
                finally:
                    bridge.terminate()
                    bridge.wait(timeout=BOUND)
                if web_socket:
                    check(result.returncode == 1 and "replies 0, no reply 2" in result.stdout and
                          "no reply within 200 ms: is WebSocket on in the bridge's tolv.conf? "
                          "Then add --websocket" in result.stderr,
                          f"plain probe, WebSocket bridge: {result.returncode} "
                          f"{result.stdout!r} {result.stderr!r}")
                else:
                    check(result.returncode == 1 and result.stderr ==
                          "tolvane-probe: no WebSocket handshake reply: is WebSocket off in "
                          "the bridge's tolv.conf?\n",
                          f"WebSocket probe, plain bridge: {result.returncode} {result.stderr!r}")
        finally:
            devsim.terminate()
            devsim.wait(timeout=BOUND)


def decode_cases(bin_dir, check):
    # Screen 1920 x 1080, distance 1 unless stated: the air mouse's own examples.
    lines = [
        (turn(1, 0), "10000", "cursor 960,540 | left down"),
        (turn(1, 10), "10000", "cursor 621,540"),
        (turn(1, -10), "00100", "cursor 1298,540 | left up, wheel +4"),
        (turn(0, 10), "00100", "cursor 960,201 | wheel +4"),
        (turn(0, -10), "20001", "cursor 960,878 | left up, middle down"),
        # 2 then 0 is another change of a released button: one more up event.
        (turn(1, 45), "00001", "cursor 0,540 | left up"),
        (turn(1, 170), "00000", "cursor 1298,540 | middle up"),
    ]
    capture = b"xy" + b"\n".join(device_line(q, b) for q, b, _ in lines) + b"\n"
    command = [os.path.join(bin_dir, "tolvane-decode"), "--cursor", "1920x1080",
               "--mouse-averaging", "1"]
    result = subprocess.run(command, input=capture, capture_output=True, timeout=BOUND)
    got = [line.split(" | ", 1)[1] if " | " in line else line
           for line in result.stdout.decode().splitlines()]
    check(got == [expected for _, _, expected in lines], f"--cursor: {got}")

    capture = device_line(turn(1, 10), "00010")
    result = subprocess.run(command + ["--screen-distance", "2", "--scroll-speed", "7"],
                            input=capture, capture_output=True, timeout=BOUND)
    check(result.stdout.decode().endswith(" | cursor 282,540 | wheel -7\n"),
          f"--screen-distance 2: {result.stdout!r}")

    # The feel: two lines a second, so the third line of a held middle button
    # is one second into the press and recenters; the right button clutches.
    # Neither gesture clicks.
    lines = [
        (turn(1, 10), "00001", "cursor 621,540"),
        (turn(1, 10), "00001", "cursor 621,540"),
        (turn(1, 10), "00001", "cursor 960,540"),
        (turn(1, 10), "00000", "cursor 960,540"),
        (turn(1, 20), "01000", "cursor stays"),
        (turn(1, 20), "00000", "cursor 960,540"),
        (turn(1, 15), "00000", "cursor 1127,540"),
    ]
    capture = b"\n".join(device_line(q, b) for q, b, _ in lines) + b"\n"
    result = subprocess.run(command + ["--rate", "2", "--recenter", "middle-hold", "--clutch",
                                       "right"], input=capture, capture_output=True, timeout=BOUND)
    got = [line.split(" | ", 1)[1] for line in result.stdout.decode().splitlines()]
    check(got == [expected for _, _, expected in lines], f"--recenter, --clutch: {got}")

    # The same from a settings file (its averaging of 1 too) and --set, which
    # changes what the file holds wherever --config stands.
    with tempfile.TemporaryDirectory() as scratch:
        conf = os.path.join(scratch, "tolv.conf")
        with open(conf, "w") as f:
            f.write("COM1\n1.000000\n4\n1\n1\n8096\n1\n0\n0\n0\n0\n"
                    "mouseRecenter=middle-hold\nmouseClutch=left\n")
        result = subprocess.run(command[:3] + ["--rate", "2", "--set", "mouseClutch=right",
                                               "--config", conf],
                                input=capture, capture_output=True, timeout=BOUND)
    got = [line.split(" | ", 1)[1] for line in result.stdout.decode().splitlines()]
    check(got == [expected for _, _, expected in lines], f"--config, --set: {got}")

    # The same lines as a capture: the records' own times (half a second
    # apart) rule, not --rate.
    records = "".join("%.6f %s\n" % (n * 0.5, device_line(q, b).decode().replace("\r", "\\r"))
                      for n, (q, b, _) in enumerate(lines))
    result = subprocess.run(command + ["--rate", "1000", "--recenter", "middle-hold", "--clutch",
                                       "right"], input=("# tolvane capture 1\n" + records).encode(),
                            capture_output=True, timeout=BOUND)
    got = [line.split(" | ", 1)[1] for line in result.stdout.decode().splitlines()]
    check(got == [expected for _, _, expected in lines], f"capture times: {got}")

    # The presenter preset at ten lines a second: the left button's key goes
    # at its press; the wheel button held half a second is a long press, the
    # chord's modifier first and last; a mapped wheel button never scrolls.
    chord = "key Shift down, key F5 down, key F5 up, key Shift up"
    states = (["00000", "10000"] + ["00000"] * 3 + ["00100"] * 6 + ["00000"] * 2)
    expected = ["cursor 960,540"] * len(states)
    expected[1] += " | key PageDown down, key PageDown up"
    expected[10] += " | " + chord
    capture = b"".join(device_line(turn(1, 0), b) + b"\n" for b in states)
    result = subprocess.run(command + ["--rate", "10", "--button-preset", "presenter"],
                            input=capture, capture_output=True, timeout=BOUND)
    got = [line.split(" | ", 1)[1] for line in result.stdout.decode().splitlines()]
    check(got == expected, f"--button-preset presenter: {got}")
    # Motion as commands at a hundred lines a second. Button 1 held as Scroll,
    # the tip raised 13 degrees: 10 notches a second past the dead zone of 3,
    # the cursor held still; after the release it moves on from where it
    # stayed, and a flick to the right (300 degrees a second for 0.1 s) sends
    # its key and leaves the cursor there too.
    lines = ([(turn(0, 0), "00000")] * 5 + [(turn(0, 0), "01000")] +
             [(turn(0, 13), "01000")] * 50 + [(turn(0, 13), "00000")] * 5)
    flick = [(product(turn(0, 13), turn(1, -3 * (n + 1))), "00000") for n in range(10)]
    lines += flick + [(flick[-1][0], "00000")] * 10
    capture = b"".join(device_line(q, b) + b"\n" for q, b in lines)
    result = subprocess.run(command + ["--rate", "100", "--set", "button1=Scroll", "--set",
                                       "flickRight=PageDown", "--set", "flickWhen=always"],
                            input=capture, capture_output=True, timeout=BOUND)
    got = [line.split(" | ", 1)[1] for line in result.stdout.decode().splitlines()]
    wheel = sum(int(event[len("wheel "):]) for line in got
                for event in line.split(" | ")[-1].split(", ") if event.startswith("wheel "))
    check(got[:5] == ["cursor 960,540"] * 5 and 4 * 120 <= wheel <= 6 * 120 and
          all(line.startswith("cursor stays") for line in got[5:58]) and
          got[58] == "cursor 960,540" and got[-1] == "cursor 960,540" and
          sum("flick right: key PageDown down, key PageDown up" in line for line in got) == 1,
          f"Scroll and a flick: {got}")

    result = subprocess.run(command + ["--button0", "press:PgDn"], input=capture,
                            capture_output=True, text=False, timeout=BOUND)
    check(result.returncode == 2 and b"'PgDn' is no name the buttons know: keys A-Z" in
          result.stderr, f"--button0 press:PgDn: {result.returncode} {result.stderr!r}")


def unreadable_cases(bin_dir, check):
    with tempfile.TemporaryDirectory() as scratch:
        missing = os.path.join(scratch, "missing")
        for args, expected in (
                (["tolvane-decode", missing], f"cannot read {missing}: No such file or directory"),
                (["tolvane-decode", scratch], f"cannot read {scratch}: Is a directory"),
                (["tolvane-devsim", "--replay", missing],
                 f"cannot read {missing}: No such file or directory"),
                (["tolvane-devsim", "--replay", scratch], f"cannot read {scratch}: Is a directory"),
                (["tolvane-devsim", "--log", missing + "/log"],
                 f"cannot write {missing}/log: No such file or directory")):
            result = subprocess.run([os.path.join(bin_dir, args[0])] + args[1:],
                                    capture_output=True, text=True, timeout=BOUND)
            # A file that cannot be read is a failure (1), not a usage error (2).
            status = 1 if args[0] == "tolvane-decode" else 2
            check(result.returncode == status and result.stderr == f"{args[0]}: {expected}\n",
                  f"{' '.join(args)}: {result.returncode} {result.stderr!r}")


def main():
    bin_dir = os.path.abspath(sys.argv[1])
    check = Checks()
    probe_cases(bin_dir, check)
    decode_cases(bin_dir, check)
    unreadable_cases(bin_dir, check)
    for failure in check.failures:
        print("FAILED:", failure)
    print(f"{len(check.failures)} failures")
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main())
