#!/usr/bin/env python3
"""Regression captures: each captures/NAME.txt through tolvane-decode.

    capture_cases.py DECODER [EMULATOR...]

A capture's "# options:" line gives the decoder's options. NAME.expected is
what it must print; NAME.stderr, where present, what it must say on standard
error (and then it exits 1, else 0 and says nothing). Under wine the line ends
are CR LF and wine may add lines of its own: both are left out.
"""
import glob
import os
import subprocess
import sys

BOUND = 60


def main():
    command = sys.argv[2:] + [sys.argv[1]]
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "captures")
    failures = 0
    cases = sorted(glob.glob(os.path.join(folder, "*.txt")))
    for capture in cases:
        name = os.path.basename(capture)
        stem = capture[:-len(".txt")]
        with open(capture, "rb") as f:
            options = [line.decode().strip()[len("# options:"):].split()
                       for line in f if line.startswith(b"# options:")]
        with open(stem + ".expected") as f:
            expected = f.read()
        expected_errors = ""
        if os.path.exists(stem + ".stderr"):
            with open(stem + ".stderr") as f:
                expected_errors = f.read()
        # Run where the test runs (wine keeps its prefix there); the notes
        # name the capture by its file name.
        result = subprocess.run(command + (options[0] if options else []) + [capture],
                                capture_output=True, timeout=BOUND)
        out = result.stdout.decode().replace("\r", "")
        errors = "".join(line.replace(capture, name) + "\n"
                         for line in result.stderr.decode().replace("\r", "").splitlines()
                         if line.startswith("tolvane-decode:"))
        status = 1 if expected_errors else 0
        if out == expected and errors == expected_errors and result.returncode == status:
            print(f"{name}: as expected")
            continue
        failures += 1
        print(f"{name}: DIFFERENT (exit {result.returncode}, expected {status})")
        for want, got in zip(expected.splitlines() + [""] * 99, out.splitlines() + [""] * 99):
            if want != got:
                print(f"  expected: {want}\n  got:      {got}")
                break
        if errors != expected_errors:
            print(f"  standard error: {errors!r}\n  expected:       {expected_errors!r}")
        if result.returncode != status:
            # What else was said (wine's own complaints among it).
            print("  all of standard error: %r" % result.stderr.decode(errors="replace")[-800:])
    print(f"{len(cases)} captures, {failures} different")
    return 1 if failures or not cases else 0


if __name__ == "__main__":
    sys.exit(main())
