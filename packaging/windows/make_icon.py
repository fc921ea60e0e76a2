#!/usr/bin/env python3
"""Draws the module's icon (a clock face with two sync arrows) and writes ktrsvc.ico: 32-bit images of
16, 20, 24, 32, 48 and 64 pixels. Run it again after changing the drawing; the .ico is kept in the tree."""
import math
import struct
import sys

SIZES = (16, 20, 24, 32, 48, 64)
SAMPLES = 4  # supersampling per axis, for smooth edges

RIM = (28, 78, 140)       # deep blue
FACE = (250, 252, 255)
HANDS = (30, 36, 48)
TICKS = (90, 110, 140)
ARROW = (30, 160, 80)     # green: in sync
ARC_INNER, ARC_OUTER, ARC_END = 0.405, 0.465, 1.2


def arrow_head():
    """The head at the arc's end, pointing along the clockwise tangent."""
    mid = (ARC_INNER + ARC_OUTER) / 2
    px, py = 0.5 + mid * math.sin(ARC_END), 0.5 - mid * math.cos(ARC_END)
    dx, dy = math.cos(ARC_END), math.sin(ARC_END)
    nx, ny = math.sin(ARC_END), -math.cos(ARC_END)
    w, l = 0.075, 0.11
    return (px + l * dx, py + l * dy), (px + w * nx, py + w * ny), (px - w * nx, py - w * ny)


ARROW_HEAD = arrow_head()


def shade(x, y):
    """Colour and coverage of one point of the unit square (0..1, y down)."""
    cx, cy = x - 0.5, y - 0.5
    r = math.hypot(cx, cy)
    ang = math.atan2(cx, -cy)  # 0 at twelve, clockwise
    # A green arrow round the upper right, clockwise, its head near three o'clock.
    if ARC_INNER <= r <= ARC_OUTER and 0.1 <= ang <= ARC_END:
        return ARROW
    if inside((x, y), *ARROW_HEAD):
        return ARROW
    if r > 0.39:
        return None
    if r > 0.33:
        return RIM
    # Hands at ten past ten.
    for angle, length, width in ((math.radians(300), 0.18, 0.05), (math.radians(60), 0.26, 0.04)):
        hx, hy = math.sin(angle), -math.cos(angle)
        along = cx * hx + cy * hy
        across = abs(cx * hy - cy * hx)
        if -0.04 <= along <= length and across <= width / 2:
            return HANDS
    if r < 0.04:
        return HANDS
    # Four ticks.
    if 0.24 <= r <= 0.3 and min(abs(ang - k * math.pi / 2) for k in range(-2, 3)) * r < 0.025:
        return TICKS
    return FACE


def inside(p, a, b, c):
    def side(p1, p2, p3):
        return (p1[0] - p3[0]) * (p2[1] - p3[1]) - (p2[0] - p3[0]) * (p1[1] - p3[1])
    d1, d2, d3 = side(p, a, b), side(p, b, c), side(p, c, a)
    return not ((d1 < 0 or d2 < 0 or d3 < 0) and (d1 > 0 or d2 > 0 or d3 > 0))


def render(size):
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0]
            hits = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    c = shade((px + (sx + 0.5) / SAMPLES) / size, (py + (sy + 0.5) / SAMPLES) / size)
                    if c:
                        hits += 1
                        for i in range(3):
                            acc[i] += c[i]
            n = SAMPLES * SAMPLES
            alpha = round(255 * hits / n)
            rgb = [round(v / hits) if hits else 0 for v in acc]
            row.append((rgb[2], rgb[1], rgb[0], alpha))  # BGRA
        rows.append(row)
    return rows


def dib(size):
    rows = render(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes(c for px in row for c in px) for row in reversed(rows))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, px in enumerate(row):
            if px[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + pixels + bytes(mask)


def main(path):
    images = [dib(s) for s in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "ktrsvc.ico")
