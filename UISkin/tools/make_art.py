#!/usr/bin/env python3
"""Draws the skin's state pictures as PNG files (no image library needed).

Each picture is a coloured disc with a white symbol, rendered from simple
shapes with 4x4 supersampling. Run it after changing a colour or a shape:

    python3 UISkin/tools/make_art.py
"""
import math
import os
import struct
import zlib

SIZE = 40
SAMPLES = 4
HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, os.pardir, "images")


def capsule(ax, ay, bx, by, width):
    """A stroke from a to b with round ends."""
    r = width / 2.0

    def inside(x, y):
        dx, dy = bx - ax, by - ay
        t = ((x - ax) * dx + (y - ay) * dy) / float(dx * dx + dy * dy or 1)
        t = max(0.0, min(1.0, t))
        px, py = ax + t * dx, ay + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= r * r
    return inside


def disc(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def arc(cx, cy, r, width, start_deg, end_deg):
    """A ring segment, angles clockwise on screen from the right."""
    half = width / 2.0

    def inside(x, y):
        d = math.hypot(x - cx, y - cy)
        if abs(d - r) > half:
            return False
        a = math.degrees(math.atan2(y - cy, x - cx)) % 360.0
        s, e = start_deg % 360.0, end_deg % 360.0
        return s <= a <= e if s <= e else (a >= s or a <= e)
    return inside


SYMBOLS = {
    "tip_warn": ((0xFF, 0x9F, 0x1A), [capsule(20, 11, 20, 22.5, 4.0), disc(20, 28.8, 2.4)]),
    "tip_err": ((0xF5, 0x48, 0x3B), [capsule(14, 14, 26, 26, 3.6), capsule(26, 14, 14, 26, 3.6)]),
    "tip_ask": ((0x2D, 0x7F, 0xF9), [arc(20, 15.8, 5.4, 3.6, 180, 60),
                                     capsule(22.7, 20.5, 20, 23.2, 3.6), disc(20, 29, 2.3)]),
    "tip_success": ((0x21, 0xB3, 0x6B), [capsule(12.5, 20.5, 17.8, 25.8, 3.6),
                                         capsule(17.8, 25.8, 28, 14.5, 3.6)]),
    "tip_update": ((0x2D, 0x7F, 0xF9), [capsule(20, 12, 20, 29, 3.6), capsule(13, 19, 20, 12, 3.6),
                                        capsule(27, 19, 20, 12, 3.6)]),
}


def render(colour, shapes):
    body = disc(SIZE / 2.0, SIZE / 2.0, SIZE / 2.0 - 1.0)
    rows = []
    n = SAMPLES * SAMPLES
    for py in range(SIZE):
        row = bytearray([0])  # PNG filter type "none"
        for px in range(SIZE):
            r = g = b = a = 0.0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = px + (sx + 0.5) / SAMPLES
                    y = py + (sy + 0.5) / SAMPLES
                    if not body(x, y):
                        continue
                    c = (255, 255, 255) if any(s(x, y) for s in shapes) else colour
                    r += c[0]
                    g += c[1]
                    b += c[2]
                    a += 1
            if a:
                row += bytes([round(r / a), round(g / a), round(b / a), round(255 * a / n)])
            else:
                row += bytes(4)
        rows.append(bytes(row))
    return b"".join(rows)


def write_png(path, raw):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)  # 8-bit RGBA
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
                chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, (colour, shapes) in SYMBOLS.items():
        write_png(os.path.join(OUT, name + ".png"), render(colour, shapes))
        print("wrote", name + ".png")


if __name__ == "__main__":
    main()
