#!/usr/bin/env python3
"""The files of the viewer's reload session, and what it reads back from the window.
  reload_files.py sphere OBJ N      a UV sphere of 2 N^2 triangles using material m of model.mtl
  reload_files.py png PNG R G B     an 8 x 8 image of one colour
  reload_files.py colour XWD        the mean red, green and blue of the window's middle
                                    (a 64 x 64 box: the sphere, whatever the window's size)
  reload_files.py panels A B        whether the debug view's name (top centre) is the same
                                    in both windows and a panel shows at the top right of B only"""
import math
import os
import struct
import sys
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from letterbox_check import read_xwd, write_png  # noqa: E402


def sphere(path, n):
    lines = ["mtllib model.mtl", "usemtl m"]
    for i in range(n + 1):
        for j in range(n + 1):
            theta, phi = math.pi * i / n, 2 * math.pi * j / n
            lines.append("v %.5f %.5f %.5f" % (math.sin(theta) * math.cos(phi), math.cos(theta),
                                              math.sin(theta) * math.sin(phi)))
            lines.append("vt %.5f %.5f" % (j / n, i / n))
    for i in range(n):
        for j in range(n):
            a = i * (n + 1) + j + 1
            lines.append("f %d/%d %d/%d %d/%d %d/%d" % (a, a, a + n + 1, a + n + 1, a + n + 2, a + n + 2, a + 1, a + 1))
    with open(path, "w") as out:
        out.write("\n".join(lines) + "\n")


def png(path, rgb):
    raw = b"".join(b"\0" + bytes(rgb) * 8 for _ in range(8))
    chunk = lambda kind, body: struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 8, 8, 8, 2, 0, 0, 0))
                  + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def colour(path):
    width, height, rows = read_xwd(path)
    box = [rows[y][x] for y in range(height // 2 - 32, height // 2 + 32) for x in range(width // 2 - 32, width // 2 + 32)]
    print(" ".join(str(sum(p[c] for p in box) // len(box)) for c in range(3)))


def panels(before, after):
    width, height, a = read_xwd(before)
    b = read_xwd(after)[2]
    region = lambda rows, top, bottom, left, right: [row[left:right] for row in rows[top:bottom]]
    label = region(a, 0, 30, width // 2 - 50, width // 2 + 50) == region(b, 0, 30, width // 2 - 50, width // 2 + 50)
    corner = region(a, 0, 150, width - 120, width) != region(b, 0, 150, width - 120, width)
    write_png(after + ".png", b)
    print(("label kept" if label else "label covered") + ", " + ("panel shown" if corner else "no panel"))


if sys.argv[1] == "sphere":
    sphere(sys.argv[2], int(sys.argv[3]))
elif sys.argv[1] == "png":
    png(sys.argv[2], [int(v) for v in sys.argv[3:6]])
elif sys.argv[1] == "panels":
    panels(sys.argv[2], sys.argv[3])
else:
    colour(sys.argv[2])
