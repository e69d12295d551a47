#!/usr/bin/env python3
"""Writes samples/capture.txt: device traffic as a serial capture holds it.

Deterministic: a slow turn about each axis in turn, gravity along z, buttons
pressed in turn, CR LF line ends, plus what real captures contain now and
then: noise between lines, a line with a wrong checksum, a pair of opposite
quaternions that cancel in a window, and a cut line at the end.
"""
import math
import sys


def line(values, buttons, checksum_offset=0):
    body = "TOL," + "".join(("%8.5f," if i >= 3 else "%8.3f,") % v
                             for i, v in enumerate(values)) + buttons + ","
    total = sum(b - 256 if b >= 128 else b for b in body.encode()[:73])
    check = (total % 100 + checksum_offset) % 100
    return (body + "%02d" % check + "\r\n").encode()


def main(path):
    out = bytearray()
    for n in range(60):
        axis = (n // 20) % 3
        angle = math.radians((n % 20) * 9.0 - 90.0)
        q = [0.0, 0.0, 0.0]
        q[axis] = math.sin(angle / 2)
        w = math.cos(angle / 2)
        gravity = [0.0, 0.0, 0.998]
        buttons = ["0"] * 5
        if n % 12 < 5:
            buttons[(n // 12) % 5] = "1"
        out += line(gravity + q + [w], "".join(buttons))
        if n == 17:
            out += b"\x00\xffxyz"  # noise before the next sync byte
        if n == 29:
            out += line(gravity + q + [w], "00000", checksum_offset=1)
        if n == 41:
            out += line([0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0], "00000")
            out += line([0.0, 0.0, 1.0, 0.0, 0.0, 0.0, -1.0], "00000")
    out += line([0.1, 0.2, 0.3, 0.0, 0.0, 0.0, 1.0], "00000")[:40]
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "samples/capture.txt")
