#!/usr/bin/env python3
"""Draws the console's own icons as PNG files (run once; the PNGs are committed).

150 dark dot (outlet off), 151 red dot (outlet on), 137/138 tick box off/on, 128 window icon.
Pure Python (zlib + struct) so it runs on a bare machine; shapes are signed-distance
functions sampled 4x4 per pixel for smooth edges.
"""
import math
import os
import struct
import zlib

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "icons")
SUB = 4


def write_png(path, size, pixels):
    raw = b"".join(b"\x00" + bytes(sum((list(p) for p in row), [])) for row in pixels)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def render(size, shade):
    """shade(x, y) -> (r, g, b, a) in 0..1 for a point in 0..1 coordinates, or None."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SUB):
                for sx in range(SUB):
                    x = (px + (sx + 0.5) / SUB) / size
                    y = (py + (sy + 0.5) / SUB) / size
                    c = shade(x, y)
                    if c is None:
                        continue
                    r, g, b, a = c
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = SUB * SUB
            a = acc[3] / n
            if a > 0:
                r, g, b = (acc[i] / acc[3] for i in range(3))
            else:
                r = g = b = 0
            row.append(tuple(int(round(v * 255)) for v in (r, g, b, a)))
        rows.append(row)
    return rows


def mix(c1, c2, t):
    t = max(0.0, min(1.0, t))
    return tuple(a + (b - a) * t for a, b in zip(c1, c2))


def dot(base, light, rim):
    def shade(x, y):
        d = math.hypot(x - 0.5, y - 0.5)
        if d > 0.44:
            return None
        if d > 0.38:
            return rim + (1.0,)
        # A soft highlight up and to the left gives the dot some depth.
        h = math.hypot(x - 0.38, y - 0.36)
        return mix(light, base, h / 0.32) + (1.0,)
    return shade


def tick_box(on):
    green = (0.13, 0.60, 0.22)
    frame = (0.30, 0.36, 0.42)

    def shade(x, y):
        inside = 0.14 <= x <= 0.86 and 0.14 <= y <= 0.86
        border = inside and not (0.22 <= x <= 0.78 and 0.22 <= y <= 0.78)
        if not inside:
            return None
        if border:
            return frame + (1.0,)
        if on:
            # The tick: two strokes, (0.30,0.52)->(0.44,0.66) and (0.44,0.66)->(0.72,0.34).
            for (x1, y1, x2, y2) in ((0.30, 0.52, 0.44, 0.66), (0.44, 0.66, 0.72, 0.34)):
                vx, vy = x2 - x1, y2 - y1
                t = max(0.0, min(1.0, ((x - x1) * vx + (y - y1) * vy) / (vx * vx + vy * vy)))
                if math.hypot(x - (x1 + t * vx), y - (y1 + t * vy)) < 0.06:
                    return green + (1.0,)
        return (1.0, 1.0, 1.0, 1.0)
    return shade


def window_icon(x, y):
    # A rounded dark-blue tile with a white power symbol and a row of red and dark dots.
    cx, cy, r = 0.5, 0.5, 0.46
    qx, qy = abs(x - cx) - (r - 0.12), abs(y - cy) - (r - 0.12)
    outside = math.hypot(max(qx, 0), max(qy, 0)) + min(max(qx, qy), 0) - 0.12
    if outside > 0:
        return None
    bg = mix((0.12, 0.32, 0.58), (0.05, 0.16, 0.32), y)
    px, py = x - 0.5, y - 0.42
    d = math.hypot(px, py)
    angle = math.degrees(math.atan2(px, -py))
    if abs(d - 0.2) < 0.045 and abs(angle) > 35:
        return (1.0, 1.0, 1.0, 1.0)
    if abs(px) < 0.045 and -0.27 < py < 0.02:
        return (1.0, 1.0, 1.0, 1.0)
    for i in range(4):
        dx = 0.23 + i * 0.18
        if math.hypot(x - dx, y - 0.8) < 0.055:
            return ((0.95, 0.15, 0.12) if i % 2 == 0 else (0.25, 0.25, 0.28)) + (1.0,)
    return bg + (1.0,)


def main():
    os.makedirs(HERE, exist_ok=True)
    icons = {
        150: (32, dot((0.16, 0.17, 0.19), (0.45, 0.47, 0.50), (0.05, 0.05, 0.06))),
        151: (32, dot((0.85, 0.05, 0.04), (1.0, 0.62, 0.58), (0.45, 0.02, 0.02))),
        137: (32, tick_box(False)),
        138: (32, tick_box(True)),
        128: (64, window_icon),
    }
    for number, (size, shade) in icons.items():
        write_png(os.path.join(HERE, "%d.png" % number), size, render(size, shade))


if __name__ == "__main__":
    main()
