#!/usr/bin/env python3
"""Fails when production code includes a header of a layer above its own.

Every `#include "folder/..."` of a production file is compared with the layer
order below; a file may include its own folder and any folder of a lower rank.
Folders of equal rank (the outputs, the tools) must not include each other.
Usage: layering_check.py SOURCE_DIR
"""
import pathlib
import re
import sys

# Lowest first. Longer prefixes win over shorter ones.
LAYERS = {
    "text": 0,
    "settings": 1,
    "device": 2,
    "motion": 3,
    "protocol": 4,
    "net": 4,  # the sockets, beside the protocol: neither uses the other
    "output/desktop": 5,  # what touches the desktop: pointer, keys, monitors
    "output/overlay": 5,  # the overlay: drawn for the hand, shown on the desktop
    "output/hand": 6,  # what the hand means, speaking to the desktop through its headers
    "output": 7,  # each output is its own folder: output/lan, output/udp, ...
    "measurement": 8,
    "app": 9,
    "client": 10,
    "tools": 11,
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)
SYSTEM_INCLUDE = re.compile(r'^\s*#\s*include\s+<([^>]+)>', re.MULTILINE)
# Folders that must stay free of any platform, and the headers that would tie
# them to one.
PLATFORM_FREE = ("output/hand/",)
PLATFORM_HEADERS = re.compile(
    r"^(windows\.h|winsock2\.h|xcb/|X11/|linux/|libevdev|wayland-|xkbcommon/|unistd\.h|"
    r"termios\.h|sys/)")


def layer_of(path):
    best = None
    for folder in LAYERS:
        if path == folder or path.startswith(folder + "/"):
            if best is None or len(folder) > len(best):
                best = folder
    return best


def home_of(path, layer):
    """The folder that counts as one unit: a tool or an output is its own subfolder."""
    if layer in ("tools", "output"):
        parts = path.split("/")
        return "/".join(parts[:2])
    return layer


def main():
    root = pathlib.Path(sys.argv[1])
    problems = []
    files = 0
    for source in sorted(root.rglob("*")):
        if source.suffix not in (".h", ".cpp") or not source.is_file():
            continue
        relative = source.relative_to(root).as_posix()
        layer = layer_of(relative)
        if layer is None or relative.startswith(("build/", "tests/", "fuzz/", "bench/")):
            continue
        files += 1
        home = home_of(relative, layer)
        text = source.read_text(errors="replace")
        if relative.startswith(PLATFORM_FREE):
            for header in SYSTEM_INCLUDE.findall(text):
                if PLATFORM_HEADERS.match(header):
                    problems.append(f"{relative}: includes <{header}>, a platform's header")
        for target in INCLUDE.findall(text):
            target_layer = layer_of(target)
            if target_layer is None:
                problems.append(f"{relative}: includes \"{target}\", which belongs to no layer")
                continue
            if home_of(target, target_layer) == home:
                continue
            if LAYERS[target_layer] >= LAYERS[layer]:
                problems.append(f"{relative}: includes \"{target}\" of layer {target_layer}, "
                                f"which is not below {layer}")
    for problem in problems:
        print(problem)
    if files == 0:
        print("no production files found under", root)
        return 1
    print(f"{files} files checked, {len(problems)} upward includes")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
