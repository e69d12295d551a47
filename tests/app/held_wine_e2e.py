#!/usr/bin/env python3
"""Nothing the Windows programs press stays pressed, whatever ends them. The
simulated device holds its left button (the air mouse's default) and a
button mapped to the right one; the program under wine presses both, and
after each end another program in wine's desktop sees both up.

    held_wine_e2e.py --exe tolvane.exe --probe gui_probe.exe
                     --held-probe held_probe.exe --prefix DIR --out DIR
                     --devsim tolvane-devsim
"""

import argparse
import os
import shutil
import subprocess
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gui_e2e import (MAIN, SETTINGS, STEP_TIMEOUT, DeviceSimulator, Failure,  # noqa: E402
                     LanClient, Session, check, free_port, wait_for)

# Menu commands and the dialog's OK (app/win32/resource.h, IDOK).
RUN, SETTINGS_COMMAND, OK = 32774, 32773, 1
BOTH_DOWN, NONE_DOWN = (1, 1, 0), (0, 0, 0)


def device_line(buttons):
    """A line the bridge accepts (without the simulator's CR): at rest,
    pointing straight ahead, with these five button digits."""
    body = "TOL," + "".join("%8.5f," % v for v in (0, 0, 1, 0, 0, 0, 1)) + buttons + ","
    return body + "%02d" % (sum(body.encode()[:73]) % 100)


class HoldingDevice(DeviceSimulator):
    """Released first, so that the mapped button (which waits for a release
    after a start) goes down too; then held for minutes."""

    def __init__(self, session, program, stream):
        script = os.path.join(session.workdir, "held.txt")
        with open(script, "w") as out:
            out.write("".join(device_line("00000") + "\n" for _ in range(20)))
            out.write("".join(device_line("10001") + "\n" for _ in range(30000)))
        command = [program, "--replay", script] + (["--stream", "100"] if stream else [])
        self.log_path = os.devnull
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL)
        self.path = self.process.stdout.readline().decode().strip()
        check(self.path.startswith("/"), "device simulator gave no terminal path")
        self.com_port = [os.path.join(os.path.dirname(os.path.abspath(__file__)), "..",
                                      "support", "com_port.sh"), session.args.prefix, "COM19"]
        subprocess.run(self.com_port + [self.path], check=True, timeout=STEP_TIMEOUT)

    def close(self):
        if self.process.poll() is None:
            super().close()
        else:
            subprocess.run(self.com_port + ["--remove"], timeout=STEP_TIMEOUT)


class AskingClient:
    """A LAN client that asks for a sample every few milliseconds until told
    to stop or let go, so that no quiet-client release comes first."""

    def __init__(self, port):
        self.client = LanClient(port)
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self.ask, daemon=True)
        self.thread.start()

    def ask(self):
        while not self.stopping.wait(0.02):
            try:
                self.client.request()
            except (Failure, OSError):
                return

    def close(self):
        self.stopping.set()
        self.thread.join(timeout=STEP_TIMEOUT)
        self.client.close()


def buttons(s):
    out = subprocess.run(["wine", s.args.held_probe, "buttons"], env=s.env,
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                         timeout=STEP_TIMEOUT).stdout.decode().split()
    return tuple(int(v) for v in out) if len(out) == 3 else None


def post(s, *args):
    result = subprocess.run(["wine", s.args.held_probe] + list(args), env=s.env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            timeout=STEP_TIMEOUT)
    check(result.returncode == 0, "cannot post %r" % (args,))


def wait_buttons(s, state, what):
    wait_for(lambda: buttons(s) == state, "%s (left, right, middle: %r)" % (what, buttons(s)))


# ---- the ends ----

def end_run(s, device):
    before = len(s.log())
    post(s, "command", MAIN, str(RUN))
    # The new worker waits for a LAN client, so the device's buttons act no more.
    s.wait_message("enable mouse", start=before)


def end_dialog_ok(s, device):
    post(s, "command", MAIN, str(SETTINGS_COMMAND))
    s.wait_window(SETTINGS)
    post(s, "command", SETTINGS, str(OK))
    s.wait_window_gone(SETTINGS)
    wait_for(lambda: not device.held(), "COM19 to close after OK")


def end_exit(s, device):
    post(s, "close", MAIN)
    code = s.wait_exit()
    check(code == 0, "exit code %d" % code)


def end_device_lost(s, device):
    device.process.kill()
    device.process.wait(timeout=STEP_TIMEOUT)
    s.wait_message("open serial (COM19) :  error")


# tag, name, end, over the LAN (preset C, a client asking) or preset B streaming
CASES = [
    ("run", "Run again", end_run, True),
    ("ok", "OK in the settings dialog", end_dialog_ok, False),
    ("exit", "Exit (WM_CLOSE)", end_exit, False),
    ("lost", "the device goes away", end_device_lost, False),
]


def run_case(s, name, end, lan):
    device = HoldingDevice(s, s.args.devsim, stream=not lan)
    s.cleanups.append(device.close)
    port = free_port()
    s.write_settings(["COM19", "1.000000", "4", "32", "1", str(port), "1",
                      "0" if lan else "1", "1" if lan else "0", "0", "0",
                      "button4=RightButton"])
    s.start_program()
    wait_buttons(s, NONE_DOWN, "no button down before Run")
    post(s, "command", MAIN, str(RUN))
    s.wait_message("open serial (COM19) :  success")
    client = None
    if lan:
        client = AskingClient(port)
        s.cleanups.append(client.close)
    wait_buttons(s, BOTH_DOWN, "both buttons down while the device holds them")
    end(s, device)
    if client is not None:
        client.close()
    wait_buttons(s, NONE_DOWN, "both buttons up after " + name)
    if s.program.poll() is None:
        end_exit(s, device)
    device.close()
    print("passed:", name)


def main():
    parser = argparse.ArgumentParser()
    for name in ("exe", "probe", "held-probe", "prefix", "out", "devsim"):
        parser.add_argument("--" + name, required=True)
    args = parser.parse_args()
    for name in ("exe", "probe", "held_probe", "prefix", "out", "devsim"):
        setattr(args, name, os.path.abspath(getattr(args, name)))
    if not os.path.exists(args.devsim):
        print("SKIPPED: the native device simulator is not built (%s)" % args.devsim)
        return 77
    for tool in ("Xvfb", "xdotool", "wine", "import"):
        if shutil.which(tool) is None:
            print("missing tool:", tool)
            return 1
    os.makedirs(args.out, exist_ok=True)
    failures = 0
    for tag, name, end, lan in CASES:
        session = Session(args, "held_" + tag)
        try:
            session.start_display()
            session.prepare_prefix()
            run_case(session, name, end, lan)
        except Failure as failure:
            try:
                session.screenshot("failed_held_%s.png" % tag)
            except Exception:
                pass
            print("FAILED: %s: %s" % (name, failure))
            print("log:", session.log())
            failures += 1
        finally:
            session.close()
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
