#!/usr/bin/env python3
"""Draws the two demo pictures and their lines file into samples/.

Source: a round yellow face on a warm gradient. Target: a long green face on a cool
gradient, with its eyes, nose and mouth elsewhere. The line pairs mark the same features
on both, so the demo morph moves every feature to its new place while it blends.

Python 3 standard library only; the output is deterministic, so running the script again
reproduces the committed files byte for byte.
"""

import math
import os
import struct
import sys
import zlib

SIZE = 256


def write_png(path, width, height, rows):
    """rows: list of bytes objects, 3 bytes (R, G, B) per pixel."""

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = bytearray()
    previous = bytes(len(rows[0]))
    for row in rows:
        # The "up" filter suits pictures that change slowly from row to row.
        raw.append(2)
        raw.extend((row[i] - previous[i]) & 0xFF for i in range(len(row)))
        previous = row
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


# Signed distances (negative inside) of the shapes the faces are made of.
def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def ellipse(cx, cy, rx, ry):
    def d(x, y):
        k = math.hypot((x - cx) / rx, (y - cy) / ry)
        return (k - 1.0) * min(rx, ry)

    return d


def capsule(x1, y1, x2, y2, r):
    def d(x, y):
        dx, dy = x2 - x1, y2 - y1
        length2 = dx * dx + dy * dy
        u = 0.0 if length2 == 0 else max(0.0, min(1.0, ((x - x1) * dx + (y - y1) * dy) / length2))
        return math.hypot(x - (x1 + u * dx), y - (y1 + u * dy)) - r

    return d


def arc(cx, cy, radius, start_deg, end_deg, r):
    """A thick circular arc from start to end angle (degrees, y downwards)."""
    a0, a1 = math.radians(start_deg), math.radians(end_deg)
    ends = [(cx + radius * math.cos(a), cy + radius * math.sin(a)) for a in (a0, a1)]

    def d(x, y):
        angle = math.atan2(y - cy, x - cx)
        if angle < 0:
            angle += 2 * math.pi
        if a0 <= angle <= a1:
            return abs(math.hypot(x - cx, y - cy) - radius) - r
        return min(math.hypot(x - ex, y - ey) for ex, ey in ends) - r

    return d


def ring(shape, width):
    return lambda x, y: abs(shape(x, y)) - width / 2


def render(background, layers):
    """background(x, y) -> colour; layers: (distance function, colour), painted in order."""
    rows = []
    for y in range(SIZE):
        row = bytearray()
        for x in range(SIZE):
            px, py = x + 0.5, y + 0.5
            colour = background(px, py)
            for shape, paint in layers:
                cover = max(0.0, min(1.0, 0.5 - shape(px, py)))
                if cover > 0.0:
                    colour = tuple(c + (p - c) * cover for c, p in zip(colour, paint))
            row.extend(max(0, min(255, int(round(c)))) for c in colour)
        rows.append(bytes(row))
    return rows


def gradient(top, bottom, tilt):
    def colour(x, y):
        u = min(1.0, max(0.0, y / SIZE + tilt * (x / SIZE - 0.5)))
        return tuple(a + (b - a) * u for a, b in zip(top, bottom))

    return colour


def source_picture():
    face = circle(128, 136, 88)
    return render(
        gradient((255, 196, 120), (196, 84, 140), 0.25),
        [
            (face, (250, 214, 88)),
            (ring(face, 4), (196, 140, 36)),
            (ellipse(96, 112, 16, 11), (255, 255, 255)),
            (ellipse(160, 112, 16, 11), (255, 255, 255)),
            (circle(98, 113, 6), (60, 40, 30)),
            (circle(158, 113, 6), (60, 40, 30)),
            (capsule(80, 92, 110, 88, 3), (150, 96, 30)),
            (capsule(146, 88, 176, 92, 3), (150, 96, 30)),
            (capsule(128, 122, 128, 150, 3), (214, 160, 60)),
            (arc(128, 140, 40, 30, 150, 4), (200, 40, 50)),
        ],
    )


def target_picture():
    face = ellipse(128, 128, 78, 100)
    return render(
        gradient((110, 204, 232), (36, 64, 150), -0.3),
        [
            (ellipse(50, 130, 14, 22), (120, 196, 112)),
            (ellipse(206, 130, 14, 22), (120, 196, 112)),
            (face, (150, 222, 140)),
            (ring(face, 4), (70, 140, 70)),
            (ellipse(100, 100, 18, 14), (255, 255, 255)),
            (ellipse(156, 100, 18, 14), (255, 255, 255)),
            (circle(100, 102, 8), (20, 60, 110)),
            (circle(156, 102, 8), (20, 60, 110)),
            (capsule(84, 78, 116, 80, 3), (60, 110, 60)),
            (capsule(140, 80, 172, 78, 3), (60, 110, 60)),
            (capsule(128, 108, 128, 146, 4), (110, 180, 100)),
            (ellipse(128, 176, 36, 12), (150, 30, 60)),
            (capsule(96, 176, 160, 176, 2), (90, 20, 40)),
        ],
    )


# Matching features: (name, Source line, Target line), each line x1 y1 x2 y2.
LINES = [
    ("left eye, outer to inner corner", (80, 112, 112, 112), (82, 100, 118, 100)),
    ("right eye, inner to outer corner", (144, 112, 176, 112), (138, 100, 174, 100)),
    ("nose, bridge to tip", (128, 122, 128, 150), (128, 108, 128, 146)),
    ("mouth, left to right corner", (93, 160, 163, 160), (92, 176, 164, 176)),
    ("top of the head", (108, 50, 148, 50), (108, 30, 148, 30)),
    ("chin", (108, 222, 148, 222), (108, 226, 148, 226)),
    ("left cheek, up to down", (42, 116, 42, 156), (52, 106, 52, 150)),
    ("right cheek, up to down", (214, 116, 214, 156), (204, 106, 204, 150)),
]


def write_lines(path):
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write("# Line pairs of the demo morph (source.png to target.png).\n")
        f.write("# S x1 y1 x2 y2 is a Source line, T x1 y1 x2 y2 a Target line;\n")
        f.write("# the i-th S line and the i-th T line mark the same feature.\n")
        for name, s, t in LINES:
            f.write("\n# %s\n" % name)
            f.write("S %d %d %d %d\n" % s)
            f.write("T %d %d %d %d\n" % t)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "samples")
    os.makedirs(out, exist_ok=True)
    write_png(os.path.join(out, "source.png"), SIZE, SIZE, source_picture())
    write_png(os.path.join(out, "target.png"), SIZE, SIZE, target_picture())
    write_lines(os.path.join(out, "demo.lines"))


if __name__ == "__main__":
    main()
