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
    "output": 5,  # each output is its own folder: output/lan, output/pointer, ...
    "output/overlay": 4.5,  # drawn for the hand's output, below it
    "measurement": 6,
    "app": 7,
    "client": 8,
    "tools": 9,
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


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
        for target in INCLUDE.findall(source.read_text(errors="replace")):
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
