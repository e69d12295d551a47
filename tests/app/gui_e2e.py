#!/usr/bin/env python3
"""Runs tolvane.exe under wine on a private Xvfb and drives it like a user,
with xdotool: menu keys, accelerators, clicks and typing. The program's log is
read from wine's debug channel (every log message goes to OutputDebugStringA,
and so does every note of the notes line, marked "note: "), the controls'
states and the ink on the window with the small gui_probe.exe, and screenshots
are kept as artefacts for a person to look at.

    gui_e2e.py --exe tolvane.exe --probe gui_probe.exe --prefix DIR --out DIR
               [--devsim tolvane-devsim] SCENARIO
"""

import argparse
import fcntl
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from harness import free_port  # noqa: E402



def read_control_ids():
    """The dialog's control ids by name (IDC_ left off), from the header the
    resource script and the settings form include."""
    header = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "app",
                          "settings_controls.h")
    with open(header) as f:
        return {m.group(1): int(m.group(2))
                for m in re.finditer(r"^#define IDC_(\w+) (\d+)$", f.read(), re.MULTILINE)}


ID = read_control_ids()
SCREEN = (1024, 768)
STEP_TIMEOUT = 30.0  # bound of every single wait; a hang fails instead of stalling
EXIT_TIMEOUT = 20.0  # Exit may have to wait out a 3000 ms pause of the worker
LOOKUP_TIMEOUT = 120.0  # a name lookup that fails


class Failure(Exception):
    pass


def wait_for(condition, what, timeout=STEP_TIMEOUT):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure("timed out waiting for " + what)
        time.sleep(0.1)


def check(condition, what):
    if not condition:
        raise Failure(what)


class Session:
    """One Xvfb, one wine prefix, at most one running program."""

    def __init__(self, args, scenario):
        self.args = args
        self.scenario = scenario
        self.xvfb = None
        self.program = None
        self.messages = []
        self.notes = []
        self.cleanups = []
        self.lock = threading.Lock()
        self.workdir = os.path.join(args.out, scenario)
        shutil.rmtree(self.workdir, ignore_errors=True)
        os.makedirs(self.workdir)
        self.env = dict(os.environ)
        self.env.update(WINEPREFIX=args.prefix, WINEARCH="win64",
                        WINEDLLOVERRIDES="mscoree,mshtml=", WINEDEBUG="-all")

    # ---- display and prefix ----

    def start_display(self):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
             "%dx%dx24" % SCREEN, "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        with os.fdopen(read_end, "rb") as pipe:
            number = pipe.readline().strip()
        check(number, "Xvfb did not report its display")
        self.env["DISPLAY"] = ":" + number.decode()

    def prepare_prefix(self):
        prefix = self.args.prefix
        os.makedirs(prefix, exist_ok=True)
        with open(prefix + ".lock", "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            marker = os.path.join(prefix, ".tolvane-gui-ready")
            if not os.path.exists(marker):
                self.wine_tool(["wineboot", "-i"], 300)
                # The dialog fonts do not exist in a fresh prefix; without a
                # replacement the Japanese texts draw as empty boxes. A virtual
                # desktop gives the windows their captions (there is no window
                # manager) and the program a fixed screen size.
                reg = os.path.join(prefix, "tolvane-gui.reg")
                with open(reg, "w") as out:
                    out.write("REGEDIT4\n\n"
                              "[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\n"
                              "\"Yu Gothic UI\"=\"Noto Sans CJK JP\"\n"
                              "\"MS UI Gothic\"=\"Noto Sans CJK JP\"\n\n"
                              "[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\n"
                              "\"Desktop\"=\"Default\"\n\n"
                              "[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\n"
                              "\"Default\"=\"%dx%d\"\n" % SCREEN)
                self.wine_tool(["wine", "regedit", "/S", reg], 120)
                self.wine_tool(["wineserver", "-w"], 120)
                open(marker, "w").close()

    def wine_tool(self, command, timeout):
        subprocess.run(command, env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=timeout, check=False)

    def close(self):
        for cleanup in reversed(self.cleanups):
            try:
                cleanup()
            except Exception as error:
                print("cleanup:", error)
        if self.program is not None and self.program.poll() is None:
            self.program.kill()
            self.program.wait(timeout=STEP_TIMEOUT)
        # Ends what is left of this run in our private prefix (the desktop
        # process, the server), so that the next run starts on its own display.
        self.wine_tool(["wineserver", "-k"], 60)
        self.wine_tool(["wineserver", "-w"], 60)
        if self.xvfb is not None:
            self.xvfb.terminate()
            self.xvfb.wait(timeout=STEP_TIMEOUT)

    # ---- the program ----

    def write_settings(self, lines):
        with open(os.path.join(self.workdir, "tolv.conf"), "w", newline="\r\n") as out:
            out.write("".join(line + "\n" for line in lines))

    def read_settings(self):
        path = os.path.join(self.workdir, "tolv.conf")
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read().decode("latin-1").replace("\r\n", "\n")

    def launch(self):
        env = dict(self.env)
        env["WINEDEBUG"] = "-all,+debugstr"
        return subprocess.Popen(["wine", self.args.exe], cwd=self.workdir, env=env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)

    def start_program(self):
        self.messages = []
        self.notes = []
        self.program = self.launch()
        threading.Thread(target=self.read_debug_channel,
                         args=(self.program.stderr, self.messages, self.notes),
                         daemon=True).start()
        return self.wait_window("tolvane")

    ESCAPE = re.compile(rb'\\(x[0-9a-fA-F]{2}|.)')

    @classmethod
    def unescape(cls, raw):
        """wine's escaped debug string as text: \\n, \\\\, \\xNN (UTF-8 bytes)."""
        def one(match):
            code = match.group(1)
            if code.startswith(b"x") and len(code) == 3:
                return bytes([int(code[1:], 16)])
            return {b"n": b"\n", b"t": b"\t", b"r": b"\r"}.get(code, code)
        return cls.ESCAPE.sub(one, raw).decode("utf-8", "replace")

    def read_debug_channel(self, stream, messages, notes):
        pattern = re.compile(rb'OutputDebugStringA "(.*)"')
        for raw in stream:
            match = pattern.search(raw.rstrip(b"\n"))
            if not match:
                continue
            text = self.unescape(match.group(1)).rstrip("\n")
            with self.lock:
                if text.startswith("note: "):
                    notes.append(text[len("note: "):])
                else:
                    messages.append(text)

    def log(self):
        with self.lock:
            return list(self.messages)

    def said(self):
        with self.lock:
            return list(self.notes)

    def wait_note(self, beginning, start=0, notes=None, timeout=STEP_TIMEOUT):
        source = self.notes if notes is None else notes
        def seen():
            with self.lock:
                return any(n.startswith(beginning) for n in source[start:])
        wait_for(seen, "a note beginning %r (notes so far: %r)" % (beginning, source[-4:]),
                 timeout)

    def ink_at_foot(self, height=30):
        """Pixels not of the background in the lowest part of the client area."""
        client = self.probe("client", MAIN)
        check(client is not None, "no client area")
        width, full = (int(v) for v in client.split()[2:4])
        ink = self.probe("ink", MAIN, "0", str(full - height), str(width), str(height))
        check(ink is not None and int(ink) >= 0, "cannot read the window's pixels")
        return int(ink)

    def wait_message(self, text, count=1, start=0):
        wait_for(lambda: self.log()[start:].count(text) >= count,
                 "%d x log message %r (log so far: %r)" % (count, text, self.log()[-8:]))

    def wait_exit(self, timeout=EXIT_TIMEOUT):
        try:
            return self.program.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure("the program did not end within %.0f s" % timeout)

    # ---- looking and acting ----

    def probe(self, *args):
        result = subprocess.run(["wine", self.args.probe] + list(args), env=self.env,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                timeout=STEP_TIMEOUT)
        if result.returncode != 0:
            return None
        return result.stdout.decode("utf-8", "replace").strip()

    def window(self, title):
        line = self.probe("window", title)
        if line is None:
            return None
        parts = line.split()
        if len(parts) != 6 or parts[5] != "1":
            return None
        return {"class": parts[0], "rect": tuple(int(p) for p in parts[1:5])}

    def wait_window(self, title):
        return wait_for(lambda: self.window(title), "window %r" % title)

    def wait_window_gone(self, title):
        wait_for(lambda: self.window(title) is None, "window %r to close" % title)

    def control(self, title, control_id):
        # A dialog's window can be seen a moment before its controls are.
        line = wait_for(lambda: self.probe("control", title, str(control_id)),
                        "control %d of %r" % (control_id, title))
        parts = line.split(" ", 6)
        return {"rect": tuple(int(p) for p in parts[0:4]), "enabled": parts[4] == "1",
                "checked": parts[5] == "1", "text": parts[6] if len(parts) > 6 else ""}

    def xdotool(self, *args):
        subprocess.run(["xdotool"] + list(args), env=self.env, check=True,
                       timeout=STEP_TIMEOUT, stdout=subprocess.PIPE)

    def click_at(self, x, y):
        # No --sync: it waits for a motion that never comes when the pointer
        # is already there.
        self.xdotool("mousemove", str(x), str(y), "click", "1")

    def click_control(self, title, control_id):
        x, y, w, h = self.control(title, control_id)["rect"]
        # Buttons react at their box or text; the left part is always inside.
        self.click_at(x + min(w // 2, 8), y + h // 2)

    def focus_main_window(self):
        x, y, w, h = self.wait_window("tolvane")["rect"]
        self.click_at(x + w // 2, y + h - 20)

    def keys(self, *names):
        for name in names:
            self.xdotool("key", "--clearmodifiers", name)

    def type_into(self, title, control_id, text):
        self.click_control(title, control_id)
        self.keys("End", "shift+Home")
        if text:
            self.xdotool("type", "--delay", "20", text)
        else:
            self.keys("Delete")
        wait_for(lambda: self.control(title, control_id)["text"] == text,
                 "text %r in control %d" % (text, control_id))

    def pointer(self):
        out = subprocess.run(["xdotool", "getmouselocation"], env=self.env, check=True,
                             stdout=subprocess.PIPE, timeout=STEP_TIMEOUT).stdout.decode()
        fields = dict(item.split(":") for item in out.split() if ":" in item)
        return int(fields["x"]), int(fields["y"])

    def screenshot(self, name):
        path = os.path.join(self.args.out, name)
        subprocess.run(["import", "-window", "root", path], env=self.env, check=True,
                       timeout=STEP_TIMEOUT)
        print("screenshot:", path)


# ---- scenarios ----

MAIN = "tolvane"
ABOUT = "バージョン情報 tolvane"
SETTINGS = "設定"


def open_settings(s):
    s.focus_main_window()
    s.keys("alt+f", "c")
    s.wait_window(SETTINGS)


def exit_from_menu(s):
    s.focus_main_window()
    s.keys("alt+f", "x")
    return s.wait_exit()


def scenario_start_about_exit(s):
    main = s.start_program()
    check(main["class"] == "TOLVANE", "window class %r" % main["class"])
    check(main["rect"][2:] == (400, 250), "window size %r" % (main["rect"][2:],))
    s.screenshot("main_empty.png")

    for accelerator in ("alt+question", "alt+slash"):
        s.focus_main_window()
        s.keys(accelerator)
        s.wait_window(ABOUT)
        if accelerator == "alt+question":
            s.screenshot("about.png")
        s.keys("Escape")
        s.wait_window_gone(ABOUT)

    # The menu item, closed with its OK button.
    s.focus_main_window()
    s.keys("alt+h", "a")
    s.wait_window(ABOUT)
    s.keys("Return")
    s.wait_window_gone(ABOUT)

    # Nothing runs before Run: after all of the above, still no log message
    # and no file written.
    check(s.log() == [], "log before Run: %r" % s.log())
    check(s.read_settings() is None, "tolv.conf written without a confirm")

    code = exit_from_menu(s)
    check(code == 0, "exit code %d" % code)


def scenario_run_without_device(s):
    s.write_settings(["COM42", "1.000000", "4", "32", "1", "8096", "1", "0", "0", "0", "0"])
    s.start_program()
    s.focus_main_window()
    s.keys("alt+f", "r")
    error = "open serial (COM42) :  error"
    # A new attempt every three seconds: the same line again, nothing else.
    s.wait_message(error, count=2)
    check(set(s.log()) == {error}, "unexpected log: %r" % s.log())
    s.screenshot("main_log.png")

    # Run again: the old worker is stopped and a new one starts.
    before = len(s.log())
    s.focus_main_window()
    s.keys("alt+f", "r")
    s.wait_message(error, count=2, start=before)

    # Exit during the pause after a failed open: ends with code 0.
    code = exit_from_menu(s)
    check(code == 0, "exit code %d" % code)


def scenario_settings_dialog(s):
    s.start_program()
    open_settings(s)
    c = lambda i: s.control(SETTINGS, i)
    # Start-up without a file: preset C shown, LAN details disabled.
    check(c(ID["PRESET_C"])["checked"] and not c(ID["PRESET_B"])["checked"], "preset C not shown")
    texts = [c(i)["text"] for i in (
            ID["COM_PORT"], ID["SCREEN_DISTANCE"], ID["SCROLL_SPEED"], ID["MOUSE_AVERAGING"], ID["LAN_AVERAGING"], ID["LAN_PORT"])]
    check(texts == ["COM19", "1.000", "4", "32", "1", "8096"], "opening texts %r" % texts)
    check(not any(c(i)["enabled"] for i in (
            ID["WEBSOCKET_ENABLED"], ID["LAN_AVERAGING"], ID["LAN_PORT"])), "LAN details enabled")

    # Enabling rules, clicked like a user.
    s.click_control(SETTINGS, ID["LAN_ENABLED"])
    wait_for(lambda: all(c(i)["enabled"] for i in (
            ID["WEBSOCKET_ENABLED"], ID["LAN_AVERAGING"], ID["LAN_PORT"])), "LAN details enabled")
    s.click_control(SETTINGS, ID["PRESET_B"])
    wait_for(lambda: not any(c(i)["enabled"] for i in (
            ID["LAN_ENABLED"], ID["WEBSOCKET_ENABLED"], ID["LAN_AVERAGING"], ID["LAN_PORT"])),
             "LAN controls disabled by preset B")
    check(c(ID["LAN_ENABLED"])["checked"], "disabling changed the LAN switch")
    s.click_control(SETTINGS, ID["PRESET_C"])
    wait_for(lambda: all(c(i)["enabled"] for i in (
            ID["LAN_ENABLED"], ID["WEBSOCKET_ENABLED"], ID["LAN_AVERAGING"], ID["LAN_PORT"])),
             "LAN controls enabled again by preset C")
    s.click_control(SETTINGS, ID["WEBSOCKET_ENABLED"])
    wait_for(lambda: c(ID["WEBSOCKET_ENABLED"])["checked"], "WebSocket switch")
    s.click_control(SETTINGS, ID["ACCELERATION_OUTPUT"])
    wait_for(lambda: c(ID["ACCELERATION_OUTPUT"])["checked"] and not c(ID["ROTATION_OUTPUT"])["checked"], "acceleration output")
    check(c(ID["PRESET_C"])["checked"], "the output pair changed the preset pair")

    s.type_into(SETTINGS, ID["COM_PORT"], "COM7" + "x" * 36)  # 40 characters
    s.type_into(SETTINGS, ID["SCREEN_DISTANCE"], "0.05")
    s.type_into(SETTINGS, ID["SCROLL_SPEED"], "100")
    s.type_into(SETTINGS, ID["MOUSE_AVERAGING"], "12abc")
    s.type_into(SETTINGS, ID["LAN_AVERAGING"], "300")
    s.type_into(SETTINGS, ID["LAN_PORT"], "70000")
    s.screenshot("settings.png")
    s.click_control(SETTINGS, 1)
    s.wait_window_gone(SETTINGS)
    expected = ("COM7" + "x" * 27 + "\n0.100000\n64\n12\n255\n70000\n1\n0\n1\n1\n1\n")
    wait_for(lambda: s.read_settings() == expected,
             "tolv.conf %r, got %r" % (expected, s.read_settings()))

    # The next opening shows the stored values.
    open_settings(s)
    check(c(ID["SCREEN_DISTANCE"])["text"] == "0.100", "distance shown as %r" % c(ID["SCREEN_DISTANCE"])["text"])
    check(c(ID["LAN_PORT"])["text"] == "70000" and c(ID["MOUSE_AVERAGING"])["text"] == "12", "stored values shown")
    # Cancel after edits changes nothing.
    s.type_into(SETTINGS, ID["SCROLL_SPEED"], "7")
    s.click_control(SETTINGS, ID["LAN_ENABLED"])
    s.click_control(SETTINGS, 2)
    s.wait_window_gone(SETTINGS)
    check(s.read_settings() == expected, "cancel changed tolv.conf")
    open_settings(s)
    check(c(ID["SCROLL_SPEED"])["text"] == "64" and c(ID["LAN_ENABLED"])["checked"], "cancel changed the settings")
    s.keys("Escape")
    s.wait_window_gone(SETTINGS)

    # Closing the window from its frame takes the same way out as Exit.
    s.focus_main_window()
    s.keys("alt+F4")
    code = s.wait_exit()
    check(code == 0, "exit code %d" % code)


STOPPED = "設定を保存し、測定を止めました。"
SECOND_PROGRAM = "別の tolvane がすでに動いています。"


def scenario_notes_line(s):
    # A UDP target whose name does not resolve, and no device: the event log
    # shows the serial port's failure as always, the notes line why nothing
    # goes out over UDP.
    s.write_settings(["COM42", "1.000000", "4", "32", "1", "8096", "0", "0", "0", "0", "0",
                      "udpTarget=no-such-host.invalid:4242"])
    s.start_program()
    check(s.ink_at_foot() == 0, "the notes line is drawn before anything was said")
    s.focus_main_window()
    s.keys("alt+f", "r")
    # wine's resolver can take a while to say that a name does not exist.
    s.wait_note("UDP output off: cannot resolve 'no-such-host.invalid'", timeout=LOOKUP_TIMEOUT)
    wait_for(lambda: s.ink_at_foot() > 0, "the UDP note at the foot of the window")
    s.screenshot("notes_udp.png")
    error = "open serial (COM42) :  error"
    s.wait_message(error)
    check(set(s.log()) == {error}, "the event log changed: %r" % s.log())

    # OK in the settings dialog stops the measurement: the log keeps its
    # lines, the notes line says to choose Run.
    open_settings(s)
    s.click_control(SETTINGS, 1)
    s.wait_window_gone(SETTINGS)
    s.wait_note(STOPPED)
    s.screenshot("notes_stopped.png")
    # Run forgets it, and the UDP output says its kept failure again.
    before = len(s.said())
    s.focus_main_window()
    s.keys("alt+f", "r")
    s.wait_note("UDP output off: cannot resolve 'no-such-host.invalid'", start=before)
    check(not any(n.startswith(STOPPED) for n in s.said()[before:]), "stopped said again")

    # A second program starts as before and says that another one runs.
    second = s.launch()
    second_notes = []
    threading.Thread(target=s.read_debug_channel, args=(second.stderr, [], second_notes),
                     daemon=True).start()
    s.wait_note(SECOND_PROGRAM, notes=second_notes)
    s.screenshot("notes_second_program.png")
    check(not any(n.startswith(SECOND_PROGRAM) for n in s.said()), "the first program said it")
    # Once the first program has gone, the second one's note goes too (the
    # two windows share a title: the first goes without its menu).
    s.program.kill()
    s.program.wait(timeout=STEP_TIMEOUT)
    s.program = second
    wait_for(lambda: s.ink_at_foot() == 0, "the second program's note to go")

    code = exit_from_menu(s)
    check(code == 0, "exit code %d" % code)


class LanClient:
    """The plain protocol: one request byte "D", a reply without a line end."""

    REPLY = re.compile(r"^ *-?[0-9.]+(, *-?[0-9.]+){6}(,-?[0-9]+){5}$")

    def __init__(self, port):
        self.sock = wait_for(lambda: self.try_connect(port), "LAN server on port %d" % port)
        self.sock.settimeout(STEP_TIMEOUT)

    @staticmethod
    def try_connect(port):
        try:
            return socket.create_connection(("127.0.0.1", port), timeout=2)
        except OSError:
            return None

    def request(self):
        self.sock.sendall(b"D")
        reply = b""
        # The reply has no end mark: it is complete with its twelve fields.
        while not self.REPLY.match(reply.decode("ascii", "replace")):
            try:
                chunk = self.sock.recv(256)
            except socket.timeout:
                raise Failure("no complete reply, got %r" % reply)
            if not chunk:
                raise Failure("LAN server closed the connection after %r" % reply)
            reply += chunk
        return reply.decode("ascii")

    def close(self):
        self.sock.close()


class DeviceSimulator:
    """The native device simulator on a pseudo-terminal, seen by wine as COM19."""

    def __init__(self, session, program):
        self.log_path = os.path.join(session.workdir, "device-lines.txt")
        # Buttons stay released: pressed ones would click around our own windows.
        self.process = subprocess.Popen([program, "--buttons", "00000", "--log", self.log_path],
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        path = self.process.stdout.readline().decode().strip()
        check(path.startswith("/"), "device simulator gave no terminal path")
        self.path = path
        self.com_port = [os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support", "com_port.sh"),
                         session.args.prefix, "COM19"]
        subprocess.run(self.com_port + [path], check=True, timeout=STEP_TIMEOUT)

    def held(self):
        """Whether any process has the terminal open (wine takes no share
        mode into account for a port, so another program's open tells nothing)."""
        for pid in os.listdir("/proc"):
            try:
                fds = os.listdir("/proc/%s/fd" % pid)
            except OSError:
                continue
            for fd in fds:
                try:
                    if os.readlink("/proc/%s/fd/%s" % (pid, fd)) == self.path:
                        return True
                except OSError:
                    pass
        return False

    def lines_sent(self):
        if not os.path.exists(self.log_path):
            return 0
        with open(self.log_path) as f:
            return sum(1 for line in f if line.startswith("TOL"))

    def close(self):
        subprocess.run(self.com_port + ["--remove"], timeout=STEP_TIMEOUT)
        self.process.terminate()
        self.process.wait(timeout=STEP_TIMEOUT)


def scenario_run_with_device(s):
    if not s.args.devsim or not os.path.exists(s.args.devsim):
        print("SKIPPED: the native device simulator is not built (%s)" % s.args.devsim)
        raise SystemExit(77)
    device = DeviceSimulator(s, s.args.devsim)
    s.cleanups.append(device.close)
    port = free_port()
    # Keyed settings after the eleven lines, which the dialog does not show
    # (the air mouse's feel; no button is pressed here, so they change nothing).
    keyed = ["mouseMinCutoff=2.5", "mouseRecenter=left-right", "mouseClutch=middle"]
    s.write_settings(["COM19", "1.000000", "4", "32", "1", str(port),
                      "1", "0", "1", "0", "0"] + keyed)
    s.start_program()
    s.xdotool("mousemove", "5", "5")
    # Before Run the port stays closed: the About box round trip gives the
    # program time to misbehave, and still no line has been asked for.
    s.focus_main_window()
    s.keys("alt+question")
    s.wait_window(ABOUT)
    s.keys("Escape")
    s.wait_window_gone(ABOUT)
    check(s.log() == [] and device.lines_sent() == 0, "measuring before Run")

    s.xdotool("mousemove", "5", "5")
    wait_for(lambda: s.pointer() == (5, 5), "the pointer at 5, 5")
    s.keys("alt+f", "r")
    for message in ("open serial (COM19) :  success", "enable lan", "enable mouse"):
        s.wait_message(message)
    # Run while the worker waits for a LAN client: closing the listener
    # releases it, and the new worker listens again.
    before = len(s.log())
    s.focus_main_window()
    s.keys("alt+f", "r")
    s.wait_message("enable mouse", start=before)
    client = LanClient(port)
    s.cleanups.append(client.close)
    s.wait_message("OpenSocket port(%d) : success" % port)
    replies = [client.request() for _ in range(20)]
    check(device.lines_sent() >= 20, "one device line per request")
    print("LAN reply:", replies[-1])
    # Each request also placed the cursor where the device points.
    wait_for(lambda: s.pointer() != (5, 5), "the pointer to move")
    s.screenshot("main_device_log.png")

    # New settings during the measurement: confirm stops the worker (after the
    # client's next request); the next Run uses them.
    port2 = free_port()
    open_settings(s)
    s.type_into(SETTINGS, ID["LAN_PORT"], str(port2))
    s.click_control(SETTINGS, 1)
    s.wait_window_gone(SETTINGS)
    wait_for(lambda: ("\n%d\n" % port2) in (s.read_settings() or ""), "new port in tolv.conf")
    # The dialog's save keeps the keyed lines, and an eleven-line reader still
    # finds its eleven values in their places.
    saved = s.read_settings().split("\n")
    check(saved[:11] == ["COM19", "1.000000", "4", "32", "1", str(port2), "1", "0", "1", "0",
                         "0"], "the eleven lines after the dialog: %r" % saved[:11])
    check(saved[11:] == keyed + [""], "the keyed lines after the dialog: %r" % saved[11:])
    # OK stops as Run's stop does: the port is free for another program, no
    # listener takes a client, and the client is let go.
    check(not device.held(), "COM19 still open after OK")
    check(LanClient.try_connect(port) is None, "a LAN listener on port %d after OK" % port)
    try:
        client.request()
        answered = True
    except (Failure, OSError):
        answered = False
    check(not answered, "a reply after OK")
    client.close()

    # A keyed line set from outside (as tolvane-config set does) takes effect
    # at Run; the eleven lines stay what the dialog set, whatever the file says.
    udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.cleanups.append(udp.close)
    udp.bind(("127.0.0.1", 0))
    udp.settimeout(STEP_TIMEOUT)
    s.write_settings(saved[:5] + [str(free_port())] + saved[6:11] + keyed +
                     ["udpTarget=127.0.0.1:%d" % udp.getsockname()[1]])
    before = len(s.log())
    s.focus_main_window()
    s.keys("alt+f", "r")
    s.wait_message("open serial (COM19) :  success", start=before)
    check(device.held(), "COM19 not open after Run")
    client2 = LanClient(port2)
    s.cleanups.append(client2.close)
    s.wait_message("OpenSocket port(%d) : success" % port2, start=before)
    client2.request()
    try:
        udp.recvfrom(512)
    except socket.timeout:
        raise Failure("no datagram to the udpTarget of the file after Run")

    # Exit while a client is connected and the worker waits for its request.
    code = exit_from_menu(s)
    check(code == 0, "exit code %d" % code)


SCENARIOS = {
    "start_about_exit": scenario_start_about_exit,
    "run_without_device": scenario_run_without_device,
    "settings_dialog": scenario_settings_dialog,
    "run_with_device": scenario_run_with_device,
    "notes_line": scenario_notes_line,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--devsim", help="the native device simulator")
    parser.add_argument("scenario", choices=sorted(SCENARIOS))
    args = parser.parse_args()
    for name in ("exe", "probe", "prefix", "out", "devsim"):
        if getattr(args, name):
            setattr(args, name, os.path.abspath(getattr(args, name)))
    for tool in ("Xvfb", "xdotool", "wine", "import"):
        if shutil.which(tool) is None:
            print("missing tool:", tool)
            return 1
    os.makedirs(args.out, exist_ok=True)
    session = Session(args, args.scenario)
    try:
        session.start_display()
        session.prepare_prefix()
        SCENARIOS[args.scenario](session)
    except Failure as failure:
        try:
            session.screenshot("failed_%s.png" % args.scenario)
        except Exception:
            pass
        print("FAILED:", failure)
        print("log:", session.log())
        return 1
    finally:
        session.close()
    print("passed:", args.scenario)
    return 0


if __name__ == "__main__":
    sys.exit(main())
