#!/usr/bin/env python3
"""Draws the application icon: a hand-held pointing device sending a ray to a
target. Writes a one-image .ico (32-bit BGRA with alpha) of the given size and,
on request, a PNG of the same picture for looking at it.

Only the standard library is used and every step is deterministic, so the same
command always gives the same bytes:

    make_icon.py OUT.ico SIZE [OUT.png]
"""

import math
import struct
import sys
import zlib

SUPERSAMPLING = 4  # samples per pixel along each axis, for smooth edges

BODY = (0x2B, 0x3A, 0x55)
BODY_EDGE = (0x18, 0x22, 0x36)
FACE = (0x3E, 0x52, 0x78)
BUTTON = (0xE8, 0xEC, 0xF2)
BUTTON_ACCENT = (0xF2, 0x6B, 0x3A)
RAY = (0xFF, 0xC8, 0x3D)
TARGET = (0xF2, 0x6B, 0x3A)

# The device lies along this axis, its tip towards the upper right.
ANGLE = math.radians(40.0)
CENTRE = (0.36, 0.64)
TIP = (CENTRE[0] + 0.30 * math.sin(ANGLE), CENTRE[1] - 0.30 * math.cos(ANGLE))
TARGET_CENTRE = (0.84, 0.17)


def to_device(x, y):
    """Point in the device's own frame: u across, v along (v < 0 towards the tip)."""
    dx, dy = x - CENTRE[0], y - CENTRE[1]
    c, s = math.cos(ANGLE), math.sin(ANGLE)
    return dx * c + dy * s, -dx * s + dy * c


def rounded_box(u, v, half_w, half_h, radius):
    """Signed distance to a rounded rectangle centred on the origin."""
    qx = abs(u) - half_w + radius
    qy = abs(v) - half_h + radius
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


def ray_alpha(x, y):
    """A beam widening from the tip to the target, fading on its way."""
    ax, ay = TIP
    bx, by = TARGET_CENTRE
    lx, ly = bx - ax, by - ay
    length = math.hypot(lx, ly)
    t = ((x - ax) * lx + (y - ay) * ly) / (length * length)
    if t < 0.0 or t > 1.0:
        return 0.0
    across = abs((x - ax) * ly - (y - ay) * lx) / length
    if across > 0.015 + 0.06 * t:
        return 0.0
    return 0.95 - 0.45 * t


def sample(x, y):
    """Colour and coverage of one sample, painted back to front."""
    r = g = b = 0.0
    a = 0.0

    def over(colour, alpha):
        nonlocal r, g, b, a
        r = colour[0] * alpha + r * (1.0 - alpha)
        g = colour[1] * alpha + g * (1.0 - alpha)
        b = colour[2] * alpha + b * (1.0 - alpha)
        a = alpha + a * (1.0 - alpha)

    beam = ray_alpha(x, y)
    if beam > 0.0:
        over(RAY, beam)

    d = math.hypot(x - TARGET_CENTRE[0], y - TARGET_CENTRE[1])
    if 0.07 <= d <= 0.11:
        over(TARGET, 1.0)
    elif d <= 0.035:
        over(TARGET, 1.0)

    u, v = to_device(x, y)
    if rounded_box(u, v, 0.14, 0.31, 0.09) <= 0.0:
        over(BODY_EDGE, 1.0)
    if rounded_box(u, v, 0.115, 0.285, 0.07) <= 0.0:
        over(BODY, 1.0)
    if rounded_box(u, v + 0.07, 0.075, 0.16, 0.05) <= 0.0:
        over(FACE, 1.0)
    if math.hypot(u, v + 0.15) <= 0.045:
        over(BUTTON_ACCENT, 1.0)
    for bu in (-0.04, 0.04):
        if math.hypot(u - bu, v - 0.02) <= 0.028:
            over(BUTTON, 1.0)
    if rounded_box(u, v - 0.14, 0.045, 0.018, 0.018) <= 0.0:
        over(BUTTON, 1.0)
    return r, g, b, a


def render(size):
    """Rows of (r, g, b, a) bytes, top row first, straight (not premultiplied) alpha."""
    n = SUPERSAMPLING
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            sr = sg = sb = sa = 0.0
            for sy in range(n):
                for sx in range(n):
                    x = (px + (sx + 0.5) / n) / size
                    y = (py + (sy + 0.5) / n) / size
                    r, g, b, a = sample(x, y)
                    sr += r * a
                    sg += g * a
                    sb += b * a
                    sa += a
            if sa <= 0.0:
                row.append((0, 0, 0, 0))
                continue
            alpha = sa / (n * n)
            row.append((round(sr / sa), round(sg / sa), round(sb / sa), round(alpha * 255)))
        rows.append(row)
    return rows


def ico_bytes(rows):
    size = len(rows)
    xor = bytearray()
    for row in reversed(rows):  # DIBs are stored bottom-up
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    image = header + xor + mask
    entry_size = 0 if size >= 256 else size
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", entry_size, entry_size, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def png_bytes(rows):
    size = len(rows)
    raw = bytearray()
    for row in rows:
        raw.append(0)
        for pixel in row:
            raw += bytes(pixel)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def main(argv):
    if len(argv) not in (3, 4):
        sys.stderr.write("usage: make_icon.py OUT.ico SIZE [OUT.png]\n")
        return 2
    rows = render(int(argv[2]))
    with open(argv[1], "wb") as out:
        out.write(ico_bytes(rows))
    if len(argv) == 4:
        with open(argv[3], "wb") as out:
            out.write(png_bytes(rows))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
