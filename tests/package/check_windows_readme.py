#!/usr/bin/env python3
"""Checks the zip's README.txt as a Windows user meets it: a UTF-8 byte-order
mark (without one, Notepad in a Japanese locale may read the labels as the
local code page), CR LF line ends, lines within 80 console columns (Japanese characters take two), and the
points a first-time user needs: the COM port in Device Manager, the firewall
prompt, SmartScreen, every label of the menu and the settings dialog as the
resources spell them, every event-log message, the check command, uninstalling.

Usage: check_windows_readme.py README.txt tolvane.rc worker_event.cpp
Prints each problem; exit 1 when there is one.
"""
import re
import sys
import unicodedata

POINTS = [
    ("Device Manager", "how to find the COM port"),
    ("Ports (COM & LPT)", "where Device Manager lists the port"),
    ("tolvane-config.exe set", "setting the port from a console"),
    ("Windows Defender Firewall", "the firewall prompt"),
    ("Private networks", "what to allow at the firewall prompt"),
    ("Windows protected your PC", "the SmartScreen warning"),
    ("More info", "how to get past SmartScreen"),
    ("Run anyway", "how to get past SmartScreen"),
    ("Unblock", "unblocking the zip"),
    ("not signed", "why Windows warns"),
    ("tolvane-config.exe check", "where the reasons behind an error are"),
    ("tolvane-view.html", "the live view page"),
    ("delete the folder", "uninstalling"),
]


def columns(line):
    return sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in line)


def resource_labels(rc_text):
    """The main menu's and the settings dialog's texts as the user sees them
    (no "&", no "..."); texts in plain ASCII such as "OK" need no word."""
    labels = set()
    for block in re.findall(r"^(?:IDM_MAIN_MENU MENU|IDD_SETTINGS DIALOGEX).*?^END$", rc_text,
                            re.M | re.S):
        for match in re.finditer(r'^\s*(?:POPUP|MENUITEM|LTEXT|CONTROL|GROUPBOX|PUSHBUTTON|'
                                 r'DEFPUSHBUTTON|CAPTION)\s+"([^"]+)"', block, re.M):
            text = match.group(1).replace("&", "").rstrip(".")
            if not text.isascii():
                labels.add(text)
    return labels


def log_messages(source_text):
    """The event-log texts in the source of the worker's one formatter: its
    string literals (the open messages by their fixed heads)."""
    found = set()
    for line in source_text.splitlines():
        if line.lstrip().startswith("#"):
            continue
        found.update(m for m in re.findall(r'"([A-Za-z][^"]{3,})"', line))
    return found


def main():
    if len(sys.argv) != 4:
        sys.stderr.write(__doc__)
        return 2
    raw = open(sys.argv[1], "rb").read()
    rc_text = open(sys.argv[2], encoding="utf-8").read()
    event_text = open(sys.argv[3], encoding="utf-8").read()
    problems = []
    if not raw.startswith(b"\xef\xbb\xbf"):
        problems.append("no UTF-8 byte-order mark at the start")
    raw = raw.removeprefix(b"\xef\xbb\xbf")
    if raw.startswith(b"\xef\xbb\xbf"):
        problems.append("two byte-order marks")
    if b"\n" in raw.replace(b"\r\n", b""):
        problems.append("a line ends in LF alone, not CR LF")
    if not raw.endswith(b"\r\n"):
        problems.append("the last line has no CR LF")
    text = raw.decode("utf-8").replace("\r\n", "\n")
    for number, line in enumerate(text.split("\n"), 1):
        if columns(line) > 80:
            problems.append(f"line {number} takes {columns(line)} columns: {line}")
    if "```" in text or re.search(r"^\|.*\|$", text, re.M):
        problems.append("Markdown where a plain text belongs")
    for phrase, why in POINTS:
        if phrase not in text:
            problems.append(f'no "{phrase}" ({why})')
    labels = resource_labels(rc_text)
    if len(labels) < 20:
        problems.append(f"only {len(labels)} labels found in the resources")
    for label in sorted(labels):
        if label not in text:
            problems.append(f'the label "{label}" of the resources is not explained')
    messages = log_messages(event_text)
    if len(messages) < 9:
        problems.append(f"only {len(messages)} event-log messages found in {sys.argv[3]}")
    for message in sorted(messages):
        if message not in text:
            problems.append(f'the event-log message "{message}" is not explained')
    for problem in problems:
        print(f"README.txt: {problem}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
