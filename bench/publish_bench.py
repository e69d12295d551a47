#!/usr/bin/env python3
"""Throughput, latency and CPU cost of tolvane-publish (a benchmark, not a test).

    bench/publish_bench.py [MESSAGES] [BUILD_DIR]

Starts a mosquitto broker on a free loopback port, the simulator in preset C
(answering each poll at once), the headless bridge and one mosquitto_sub
subscriber, then the gateway: as fast as replies come, once plain and once
over a WebSocket, and then plain at 150 requests a second (about what a real
device on a 115200-baud line can answer), where the latency is not that of a
queue. Prints per run:
  - motion messages per second (from the gateway's own receive times t),
  - latency from t to the subscriber's receipt (mosquitto_sub's %U), p50/p99/max,
  - the gateway's CPU time (user + system, from wait4) per message.
MESSAGES defaults to 20000, BUILD_DIR to build/native (built if missing).
"""
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
from harness import free_port  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def percentile(sorted_values, p):
    rank = max(1, min(len(sorted_values), int(p / 100 * len(sorted_values) + 0.999999)))
    return sorted_values[rank - 1]


def wait_listening(port, bound=10):
    deadline = time.monotonic() + bound
    while time.monotonic() < deadline:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.02)
    raise SystemExit(f"nothing listens on port {port}")


def run(build, scratch, dialect, count, device, rate=0):
    broker_port, lan_port = free_port(), free_port()
    conf = os.path.join(scratch, "mosquitto.conf")
    with open(conf, "w") as f:
        f.write(f"listener {broker_port} 127.0.0.1\nallow_anonymous true\n")
    mosquitto = shutil.which("mosquitto", path=os.environ["PATH"] + ":/usr/sbin:/sbin")
    broker = subprocess.Popen([mosquitto, "-c", conf], stderr=subprocess.DEVNULL)
    websocket = "1" if dialect == "websocket" else "0"
    with open(os.path.join(scratch, "tolv.conf"), "w") as f:
        f.write(f"{device}\n1.000000\n4\n32\n1\n{lan_port}\n0\n0\n1\n{websocket}\n0\n")
    bridge = subprocess.Popen([os.path.join(build, "bin/tolvane-headless")], cwd=scratch,
                              stdout=subprocess.DEVNULL)
    wait_listening(broker_port)
    received = os.path.join(scratch, f"{dialect}.txt")
    sub = subprocess.Popen(["mosquitto_sub", "-p", str(broker_port), "-t", "bench/motion",
                            "-C", str(count), "-F", "%U %p"], stdout=open(received, "w"))
    time.sleep(0.3)  # the subscription is in place
    args = ["--bridge", f"127.0.0.1:{lan_port}", "--mqtt", f"127.0.0.1:{broker_port}",
            "--topic", "bench"] + ["--websocket"] * (dialect == "websocket")
    if rate:
        args += ["--rate", str(rate)]
    gateway = subprocess.Popen([os.path.join(build, "bin/tolvane-publish"), *args],
                               stderr=subprocess.PIPE, text=True)
    sub.wait(timeout=600)
    gateway.send_signal(signal.SIGINT)
    _, status, usage = os.wait4(gateway.pid, 0)
    summary = gateway.stderr.read().strip().splitlines()[-1]
    gateway.returncode = os.waitstatus_to_exitcode(status)
    replies = int(summary.split("tolvane-publish: ")[1].split()[0])
    for p in (bridge, broker):
        p.send_signal(signal.SIGINT)
        p.wait(timeout=10)

    latencies, times = [], []
    with open(received) as f:
        for line in f:
            at, payload = line.split(" ", 1)
            t = json.loads(payload)["t"]
            times.append(t)
            latencies.append(float(at) * 1000.0 - t)
    latencies.sort()
    per_second = (len(times) - 1) / ((times[-1] - times[0]) / 1000.0)
    cpu = usage.ru_utime + usage.ru_stime
    pace = f"--rate {rate}" if rate else "as fast as replies come"
    print(f"== {dialect}, {pace}: {len(times)} messages received, {replies} replies")
    print(f"messages per second: {per_second:.0f}")
    print("latency t -> subscriber, ms: p50 {:.3f}  p99 {:.3f}  max {:.3f}".format(
        percentile(latencies, 50), percentile(latencies, 99), latencies[-1]))
    print(f"gateway CPU: {cpu:.2f} s user+system, {cpu / replies * 1e6:.1f} us per message")


def main():
    if len(sys.argv) > 1 and sys.argv[1] in ("-h", "--help"):
        print(__doc__.strip())
        return
    if len(sys.argv) > 3 or (len(sys.argv) > 1 and not sys.argv[1].isdigit()):
        sys.stderr.write("publish_bench.py: MESSAGES is a whole number\n"
                         "Try 'bench/publish_bench.py --help'.\n")
        sys.exit(2)
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 20000
    build = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else os.path.join(ROOT, "build/native"))
    if not os.path.exists(os.path.join(build, "bin/tolvane-publish")):
        subprocess.run(["cmake", "--preset", "native"], cwd=ROOT, check=True,
                       stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", build, "-j2", "--target", "tolvane-publish",
                        "tolvane-headless", "tolvane-devsim"], check=True)
    scratch = tempfile.mkdtemp(prefix="tolv-publish-bench-")
    os.chmod(scratch, 0o755)
    devsim = subprocess.Popen([os.path.join(build, "bin/tolvane-devsim")],
                              stdout=subprocess.PIPE, text=True)
    try:
        device = devsim.stdout.readline().strip()
        print(f"{os.cpu_count()} cores; {count} messages per run")
        for dialect in ("plain", "websocket"):
            run(build, scratch, dialect, count, device)
        run(build, scratch, "plain", min(count, 1500), device, rate=150)
    finally:
        devsim.send_signal(signal.SIGTERM)
        devsim.wait(timeout=10)
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
