#!/usr/bin/env python3
"""Nothing the Windows programs press stays pressed, whatever ends them. The
simulated device holds its left button (the air mouse's default) and a
button mapped to the right one; the window program or the headless bridge
under wine presses both, and after each end another program in wine's
desktop sees both up.

    held_wine_e2e.py --exe tolvane.exe --headless tolvane-headless.exe
                     --probe gui_probe.exe --held-probe held_probe.exe
                     --prefix DIR --out DIR --devsim tolvane-devsim
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gui_e2e import (EXIT_TIMEOUT, MAIN, SETTINGS, STEP_TIMEOUT, DeviceSimulator,  # noqa: E402
                     Failure,
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

    def quiet(self):
        self.stopping.set()
        self.thread.join(timeout=STEP_TIMEOUT)

    def close(self):
        self.quiet()
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

class Held:
    """One case's device, LAN client and headless bridge (None when unused)."""
    device = client = bridge = None


def end_run(s, held):
    before = len(s.log())
    post(s, "command", MAIN, str(RUN))
    # The new worker waits for a LAN client, so the device's buttons act no more.
    s.wait_message("enable mouse", start=before)


def end_dialog_ok(s, held):
    post(s, "command", MAIN, str(SETTINGS_COMMAND))
    s.wait_window(SETTINGS)
    post(s, "command", SETTINGS, str(OK))
    s.wait_window_gone(SETTINGS)
    wait_for(lambda: not held.device.held(), "COM19 to close after OK")


def end_exit(s, held):
    post(s, "close", MAIN)
    code = s.wait_exit()
    check(code == 0, "exit code %d" % code)


def end_device_lost(s, held):
    held.device.process.kill()
    held.device.process.wait(timeout=STEP_TIMEOUT)
    s.wait_message("open serial (COM19) :  error")


def end_ctrl_c(s, held):
    held.bridge.send_signal(signal.SIGINT)
    try:
        code = held.bridge.wait(timeout=EXIT_TIMEOUT)
    except subprocess.TimeoutExpired:
        raise Failure("Ctrl+C did not end the bridge within %.0f s" % EXIT_TIMEOUT)
    check(code == 0, "exit code %d after Ctrl+C" % code)


def end_client_leaves(s, held):
    held.client.close()


def end_client_quiet(s, held):
    held.client.quiet()


def hold(s, lan):
    """The device and the settings: preset C with the LAN server, or preset
    B streaming; the fifth button mapped to the right one."""
    held = Held()
    held.device = HoldingDevice(s, s.args.devsim, stream=not lan)
    s.cleanups.append(held.device.close)
    held.port = free_port()
    s.write_settings(["COM19", "1.000000", "4", "32", "1", str(held.port), "1",
                      "0" if lan else "1", "1" if lan else "0", "0", "0",
                      "button4=RightButton"])
    return held


def ask(s, held):
    held.client = AskingClient(held.port)
    s.cleanups.append(held.client.close)


def run_window_case(s, name, end, lan):
    held = hold(s, lan)
    s.start_program()
    wait_buttons(s, NONE_DOWN, "no button down before Run")
    post(s, "command", MAIN, str(RUN))
    s.wait_message("open serial (COM19) :  success")
    if lan:
        ask(s, held)
    wait_buttons(s, BOTH_DOWN, "both buttons down while the device holds them")
    end(s, held)
    wait_buttons(s, NONE_DOWN, "both buttons up after " + name)
    if s.program.poll() is None:
        end_exit(s, held)


def run_headless_case(s, name, end, lan):
    held = hold(s, lan)
    wait_buttons(s, NONE_DOWN, "no button down before the bridge")
    errors_path = os.path.join(s.workdir, "headless-err.txt")
    with open(errors_path, "wb") as errors:
        held.bridge = subprocess.Popen(["wine", s.args.headless], cwd=s.workdir, env=s.env,
                                       stdout=subprocess.DEVNULL, stderr=errors)
    s.cleanups.append(lambda: held.bridge.poll() is None and (held.bridge.kill(),
                                                              held.bridge.wait()))
    if lan:
        ask(s, held)
    wait_buttons(s, BOTH_DOWN, "both buttons down while the device holds them")
    end(s, held)
    wait_buttons(s, NONE_DOWN, "both buttons up after " + name)
    if end is end_client_quiet:
        with open(errors_path, encoding="utf-8", errors="replace") as f:
            check("no fresh sample for 1 s" in f.read(), "no note of the quiet client")
    if held.bridge.poll() is None:
        end_ctrl_c(s, held)


# tag, name, the program and its end, over the LAN (preset C, a client
# asking) or with the device streaming (preset B)
CASES = [
    ("run", "Run again", run_window_case, end_run, True),
    ("ok", "OK in the settings dialog", run_window_case, end_dialog_ok, False),
    ("exit", "Exit (WM_CLOSE)", run_window_case, end_exit, False),
    ("lost", "the device goes away", run_window_case, end_device_lost, False),
    ("ctrl_c", "Ctrl+C of the headless bridge", run_headless_case, end_ctrl_c, False),
    ("leaves", "the LAN client leaves", run_headless_case, end_client_leaves, True),
    ("quiet", "the LAN client goes quiet", run_headless_case, end_client_quiet, True),
]


def main():
    parser = argparse.ArgumentParser()
    for name in ("exe", "headless", "probe", "held-probe", "prefix", "out", "devsim"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("only", nargs="*", help="the tags of the cases to run (all when none)")
    args = parser.parse_args()
    for name in ("exe", "headless", "probe", "held_probe", "prefix", "out", "devsim"):
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
    for tag, name, program, end, lan in CASES:
        if args.only and tag not in args.only:
            continue
        session = Session(args, "held_" + tag)
        try:
            session.start_display()
            session.prepare_prefix()
            program(session, name, end, lan)
            print("passed:", name)
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
