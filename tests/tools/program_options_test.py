#!/usr/bin/env python3
"""Every program's options against the one convention, from a table.

    program_options_test.py BIN_DIR [EMULATOR...]

-h/--help: usage with an example on standard output, nothing on standard
error, status 0. --version: "PROGRAM VERSION", status 0. An unknown option or
a bad value: nothing on standard output, one line naming the option and the
problem followed by "Try 'PROGRAM --help'." on standard error, status 2.
Every program's --help, the bridge's and the MQTT gateway's too: no line over
80 columns (a console's width; a wider line wraps mid-word in cmd.exe), and
no program named that this build does not hold (the zip has no simulator).
Programs not built here (the simulator in the Windows build) are left out;
under an emulator (wine) a shorter table runs, for the same code.
"""
import os
import re
import subprocess
import sys
import tempfile
import unicodedata

BOUND = 60  # seconds per run (wine starts slowly)

# Program, arguments, the word the error line must contain.
BAD = [
    ("tolvane-probe", ["--port", "abc"], "--port 'abc'"),
    ("tolvane-probe", ["--port", "0"], "--port '0'"),
    ("tolvane-probe", ["--port", "65536"], "--port '65536'"),
    ("tolvane-probe", ["--count", "-5"], "--count '-5'"),
    ("tolvane-probe", ["--count", "1e300"], "--count '1e300'"),
    ("tolvane-probe", ["--rate", "1e-300"], "--rate '1e-300'"),
    ("tolvane-probe", ["--timeout", "0"], "--timeout '0'"),
    ("tolvane-probe", ["--connect-wait", "12abc"], "--connect-wait '12abc'"),
    ("tolvane-probe", ["--rate"], "--rate needs a value"),
    ("tolvane-probe", ["extra"], "'extra'"),
    ("tolvane-decode", ["--lan-averaging", "0"], "--lan-averaging '0'"),
    ("tolvane-decode", ["--lan-averaging=256"], "--lan-averaging '256'"),
    ("tolvane-decode", ["--mouse-averaging", "3"], "--mouse-averaging acts on the air mouse"),
    ("tolvane-decode", ["--cursor", "1920"], "--cursor '1920'"),
    ("tolvane-decode", ["--cursor", "0x5"], "--cursor '0x5'"),
    ("tolvane-decode", ["--cursor", "9x9", "--screen-distance", "20"], "--screen-distance '20'"),
    ("tolvane-decode", ["--cursor", "9x9", "--scroll-speed", "65"], "--scroll-speed '65'"),
    ("tolvane-decode", ["a", "b"], "more than one input file"),
    ("tolvane-decode", ["--clutch", "left"], "--clutch acts on the air mouse"),
    ("tolvane-decode", ["--cursor", "9x9", "--mouse-smoothing", "fast"], "--mouse-smoothing 'fast'"),
    ("tolvane-decode", ["--cursor", "9x9", "--click-hold", "1001"], "--click-hold '1001'"),
    ("tolvane-decode", ["--cursor", "9x9", "--rate", "0"], "--rate '0'"),
    ("tolvane-decode", ["--set", "port=1"], "--set 'port' is no setting"),
    ("tolvane-decode", ["--set", "comPort"], "--set 'comPort' is not NAME=VALUE"),
    ("tolvane-decode", ["--set", "mouseClutch=up"], "--set mouseClutch: 'up'"),
    ("tolvane-decode", ["--set", "mouseAveraging=0"], "--set mouseAveraging: '0' is outside"),
    ("tolvane-decode", ["--set", "mouseEnabled=2"], "--set mouseEnabled: '2'"),
    ("tolvane-decode", ["--config", "missing.conf"], "--config missing.conf cannot be read"),
    ("tolvane-decode", ["--config", "a", "--config", "b"], "--config given twice"),
    ("tolvane-devsim", ["--stream", "0"], "--stream '0'"),
    ("tolvane-devsim", ["--stream", "1001"], "--stream '1001'"),
    ("tolvane-devsim", ["--quat", "1,2,3"], "--quat '1,2,3'"),
    ("tolvane-devsim", ["--quat", "0,0,0,1000"], "does not fit"),
    ("tolvane-devsim", ["--buttons", "1x000"], "--buttons '1x000'"),
    ("tolvane-devsim", ["--cut", "3:80"], "--cut '3:80'"),
    ("tolvane-devsim", ["--delay", "5ms"], "--delay '5ms'"),
    ("tolvane-devsim", ["extra"], "'extra'"),
    ("tolvane-config", [], "no command given"),
    ("tolvane-config", ["frobnicate"], "unknown command 'frobnicate'"),
    ("tolvane-config", ["set"], "set needs at least one NAME=VALUE"),
    ("tolvane-config", ["set", "port=ttyUSB0"], "unknown setting 'port'"),
    ("tolvane-config", ["set", "comPort"], "'comPort' is not NAME=VALUE"),
    ("tolvane-config", ["set", "scrollSpeed=12abc"], "scrollSpeed: '12abc'"),
    ("tolvane-config", ["set", "screenDistance=1,5"], "screenDistance: '1,5'"),
    ("tolvane-config", ["set", "mouseEnabled=2"], "mouseEnabled: '2'"),
    ("tolvane-config", ["set", "deviceMode=2"], "deviceMode: '2'"),
    ("tolvane-config", ["set", "lanPort=99999999999"], "lanPort: '99999999999'"),
    ("tolvane-config", ["set", "comPort=" + "x" * 32], "longer than 31 characters"),
    ("tolvane-config", ["show", "--file"], "--file needs a value"),
    ("tolvane-config", ["show", "nothing"], "unknown setting 'nothing'"),
]
# Each program's own options take the same path through getopt_long as these.
PROGRAMS = ["tolvane-probe", "tolvane-decode", "tolvane-devsim", "tolvane-config"]
# Every program with a --help (the window program has none).
ALL_PROGRAMS = PROGRAMS + ["tolvane-headless", "tolvane-publish"]
COLUMNS = 80


def columns(line):
    return sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in line)


def run(command, cwd):
    result = subprocess.run(command, cwd=cwd, stdin=subprocess.DEVNULL, capture_output=True,
                            timeout=BOUND)
    # Windows programs write CR LF.
    return (result.returncode, result.stdout.decode().replace("\r\n", "\n"),
            result.stderr.decode().replace("\r\n", "\n"))


def main():
    bin_dir, emulator = os.path.abspath(sys.argv[1]), sys.argv[2:]
    suffix = ".exe" if emulator else ""
    failures = []

    def check(condition, what):
        if not condition:
            failures.append(what)

    def built(program):
        return os.path.exists(os.path.join(bin_dir, program + suffix))

    with tempfile.TemporaryDirectory() as scratch:
        def call(program, args):
            return run(emulator + [os.path.join(bin_dir, program + suffix)] + args, scratch)

        for program in [p for p in PROGRAMS if built(p)]:
            for flag in ("--help",) if emulator else ("-h", "--help"):
                status, out, err = call(program, [flag])
                where = f"{program} {flag}"
                check(status == 0, f"{where}: status {status}")
                check(out.startswith(f"usage: {program}"), f"{where}: no usage on stdout")
                check("Example" in out, f"{where}: the usage shows no example")
                check(err == "", f"{where}: wrote to stderr: {err!r}")
            status, out, err = call(program, ["--version"])
            check(status == 0 and re.fullmatch(rf"{program} \S+\n", out) and err == "",
                  f"{program} --version: {status} {out!r} {err!r}")
            for option in ("--no-such-option", "-Z"):
                status, out, err = call(program, [option])
                check(status == 2 and out == "" and
                      err == f"{program}: unknown option '{option}'\nTry '{program} --help'.\n",
                      f"{program} {option}: {status} {out!r} {err!r}")
            # A value given to a switch (glibc and mingw-w64 report it differently).
            status, out, err = call(program, ["--version=1"])
            check(status == 2 and out == "" and
                  err == f"{program}: --version takes no value\nTry '{program} --help'.\n",
                  f"{program} --version=1: {status} {out!r} {err!r}")

        # Under wine every start takes seconds: one bad value per program there.
        seen = set()
        for program, args, words in BAD:
            if not built(program) or (emulator and program in seen):
                continue
            seen.add(program)
            status, out, err = call(program, args)
            lines = err.split("\n")
            check(status == 2 and out == "" and len(lines) == 3 and
                  lines[0].startswith(program + ": ") and words in lines[0] and
                  lines[1] == f"Try '{program} --help'." and lines[2] == "",
                  f"{program} {' '.join(args)}: {status} {out!r} {err!r}")

        # What every --help shows a person: its width and the programs it names.
        for program in [p for p in ALL_PROGRAMS if built(p)]:
            status, out, _ = call(program, ["--help"])
            check(status == 0, f"{program} --help: status {status}")
            for number, line in enumerate(out.split("\n"), 1):
                check(columns(line) <= COLUMNS,
                      f"{program} --help line {number} takes {columns(line)} columns: {line!r}")
            for named in sorted(set(re.findall(r"\btolvane-[a-z]+", out))):
                check(built(named), f"{program} --help names {named}, which this build lacks")

        # The bridge's own options are another matter; here only the convention.
        if built("tolvane-headless"):
            status, out, _ = call("tolvane-headless", ["--help"])
            check(status == 0 and out.startswith("usage: tolvane-headless"),
                  f"tolvane-headless --help: {status} {out!r}")
            status, out, _ = call("tolvane-headless", ["--version"])
            check(status == 0 and out.startswith("tolvane-headless "),
                  f"tolvane-headless --version: {status} {out!r}")
            status, out, _ = call("tolvane-headless", ["--no-such-option"])
            check(status == 2 and out == "", f"tolvane-headless --no-such-option: {status}")

    for failure in failures:
        print("FAILED:", failure)
    print(f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
