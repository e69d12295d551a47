#!/usr/bin/env python3
"""An independent model of the sample path, for checking tolvane-decode.

Written from the documented rules, not from the C++ code: the line checks,
the window sums in slot order, every single-precision step rounded on its
own, and printf's rounding of the reply texts. Python floats are doubles; a
single-precision +, -, * or / is the double result rounded to single, which
is exact for these operations.
"""
import math
import struct
import sys


def f32(x):
    try:
        return struct.unpack("<f", struct.pack("<f", x))[0]
    except OverflowError:
        return math.copysign(math.inf, x)


def parse(line):
    if line[:1] == b"\r":
        return None
    slots, commas, total = [b""], 0, 0
    for k, byte in enumerate(line):
        if byte in (10, 13, 0):
            break
        if k <= 72:
            total += byte - 256 if byte >= 128 else byte
        if byte == 44:
            commas += 1
            slots.append(b"")
        else:
            slots[-1] += bytes([byte])
    if commas != 9 or slots[0] != b"TOL":
        return None
    r, u = int(math.fmod(total, 100)), int(math.fmod(total, 10))
    if slots[9][:1] != bytes([48 + int(r / 10)]) or slots[9][1:2] != bytes([48 + u]):
        return None
    if any(len(s) > 31 for s in slots) or len(slots[8]) < 5:
        return None
    values = []
    for text in slots[1:8]:
        text = text.decode("latin-1").lstrip(" \t\n\v\f\r")
        best = 0.0
        for end in range(len(text), 0, -1):
            piece = text[:end]
            if any(c not in "+-.0123456789eE" for c in piece) or "inf" in piece.lower():
                continue
            try:
                best = float(piece)
                break
            except ValueError:
                continue
        v = f32(best)
        if not math.isfinite(v):
            return None
        values.append(v)
    buttons = [(b - 256 if b >= 128 else b) - 48 for b in slots[8][:5]]
    return values, buttons


def matrix(x, y, z, w):
    x2, y2, z2 = f32(x + x), f32(y + y), f32(z + z)
    m = [0.0] * 16

    def p(a, b):
        return f32(a * b)

    m[0] = f32(1 - f32(p(z2, z) + p(y2, y)))
    m[1] = f32(p(z2, w) + p(y2, x))
    m[2] = f32(p(z2, x) - p(y2, w))
    m[4] = f32(p(y2, x) - p(z2, w))
    m[5] = f32(1 - f32(p(z2, z) + p(x2, x)))
    m[6] = f32(p(x2, w) + p(z2, y))
    m[8] = f32(p(y2, w) + p(z2, x))
    m[9] = f32(p(z2, y) - p(x2, w))
    m[10] = f32(1 - f32(p(y2, y) + p(x2, x)))
    return m


def motion(window, acceleration, previous_q):
    n = len(window)
    sums = list(window[0])
    for sample in window[1:]:
        sums = [f32(a + b) for a, b in zip(sums, sample)]
    a = [f32(s / n) for s in sums[3:7]]
    t = f32(a[0] * a[0])
    for i in (1, 2, 3):
        t = f32(t + f32(a[i] * a[i]))
    length = f32(math.sqrt(t))
    q = [f32(v / length) if length != 0 else math.nan for v in a]
    if t == 0 or any(math.isnan(v) for v in q):
        q = list(previous_q)
    if acceleration:
        return [f32(s / n) for s in sums[0:3]], q
    m = matrix(q[0], q[1], f32(-q[2]), q[3])
    u = max(-1.0, min(1.0, m[2]))
    beta = f32(math.asin(-u))
    if abs(m[2]) < 0.9999999:
        alpha = f32(math.atan2(m[6], m[10]))
        gamma = f32(math.atan2(m[1], m[0]))
    else:
        alpha = 0.0
        gamma = f32(math.atan2(f32(-m[4]), m[5]))

    def deg(angle):
        return f32(angle / 3.1415926535 * 180.0)

    return [deg(alpha), deg(beta), -deg(gamma)], q


def main():
    args = sys.argv[1:]
    json = "--json" in args
    acceleration = "--acceleration" in args
    mouse_n = int(args[args.index("--mouse-averaging") + 1]) if "--mouse-averaging" in args else 32
    lan_n = int(args[args.index("--lan-averaging") + 1]) if "--lan-averaging" in args else 1
    data = open(args[-1], "rb").read()
    windows = {"mouse": ([], mouse_n, [0.0, 0.0, 0.0, 1.0]), "lan": ([], lan_n, [0.0, 0.0, 0.0, 1.0])}
    out = []
    at = 0
    while True:
        at = data.find(b"T", at)
        if at < 0:
            break
        parsed = parse(data[at:at + 76])
        at += 76
        if parsed is None:
            out.append("rejected")
            continue
        values, buttons = parsed
        results = {}
        for name, (window, capacity, prev) in windows.items():
            window.append(values)
            if len(window) > capacity:
                del window[0]
            d, q = motion(window, acceleration, prev)
            prev[:] = q
            results[name] = (d, q)
        d, q = results["lan"]
        nums = ["%8.3f" % v for v in d] + ["%8.5f" % v for v in q]
        bs = ["%d" % b for b in buttons]
        if json:
            out.append('{"d":[%s],"q":[%s],"b":[%s]}' % (",".join(nums[:3]), ",".join(nums[3:]), ",".join(bs)))
        else:
            out.append(",".join(nums + bs))
    sys.stdout.write("".join(line + "\n" for line in out))


if __name__ == "__main__":
    main()
