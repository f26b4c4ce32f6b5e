#!/usr/bin/env python3
"""Checks a window's pixels, as xwd wrote them, for a WIDTHxHEIGHT picture scaled into it
whole: the largest rectangle of that shape, centred, holds every pixel that is not black
and is the picture to within a pixel or two (the background to its edges, the model in the
middle), while the bars beside it are black throughout.
Usage: letterbox_check.py WINDOW.xwd WIDTHxHEIGHT [PNG]  (PNG: a copy of the window to look at)"""
import struct
import sys
import zlib


def read_xwd(path):
    data = open(path, "rb").read()
    header = struct.unpack(">25I", data[:100])
    (header_size, version, pixmap_format, _, width, height, _, byte_order, _, _, _, bits_per_pixel,
     bytes_per_line, _, red_mask, green_mask, blue_mask, _, _, colours) = header[:20]
    if version != 7 or pixmap_format != 2 or bits_per_pixel != 32:
        sys.exit(f"{path}: not a 32-bit ZPixmap xwd file (version {version}, format {pixmap_format}, "
                 f"{bits_per_pixel} bits)")
    start = header_size + 12 * colours
    order = "<" if byte_order == 0 else ">"
    rows = []
    for y in range(height):
        line = struct.unpack_from(f"{order}{width}I", data, start + y * bytes_per_line)
        rows.append([tuple((p & mask) >> (mask & -mask).bit_length() - 1 for mask in (red_mask, green_mask, blue_mask))
                     for p in line])
    return width, height, rows


def write_png(path, rows):
    raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in rows)
    chunk = lambda kind, body: struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", len(rows[0]), len(rows), 8, 2, 0, 0, 0))
                  + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def main():
    width, height, rows = read_xwd(sys.argv[1])
    shape_w, shape_h = map(int, sys.argv[2].split("x"))
    if len(sys.argv) > 3:
        write_png(sys.argv[3], rows)
    shown_w, shown_h = min(width, height * shape_w // shape_h), min(height, width * shape_h // shape_w)
    left, top = (width - shown_w) // 2, (height - shown_h) // 2
    lit = [(x, y) for y in range(height) for x in range(width) if max(rows[y][x]) > 4]
    if not lit:
        return f"{width}x{height}: all black"
    found_left, found_right = min(x for x, _ in lit), max(x for x, _ in lit)
    found_top, found_bottom = min(y for _, y in lit), max(y for _, y in lit)
    found = (found_left, found_top, found_right - found_left + 1, found_bottom - found_top + 1)
    failures = []
    # The bars: black up to the picture's edge, give or take the blend of its last pixel.
    if abs(found[0] - left) > 1 or abs(found[1] - top) > 1 or abs(found[2] - shown_w) > 2 or abs(found[3] - shown_h) > 2:
        failures.append(f"the picture is {found[2]}x{found[3]} at ({found[0]}, {found[1]}), "
                        f"not {shown_w}x{shown_h} at ({left}, {top})")
    # Inside, the picture itself: the background's shade along its edges (but where a panel
    # of text lies), and mostly something else, the model, over its middle third.
    edges = [rows[y][x] for x in range(left + 2, left + shown_w - 2) for y in (top + 2, top + shown_h - 3)]
    edges += [rows[y][x] for y in range(top + 2, top + shown_h - 2) for x in (left + 2, left + shown_w - 3)]
    shade = max(set(edges), key=edges.count)
    middle = [rows[y][x] for y in range(top + shown_h // 3, top + 2 * shown_h // 3)
              for x in range(left + shown_w // 3, left + 2 * shown_w // 3)]
    model = sum(max(abs(a - b) for a, b in zip(p, shade)) > 8 for p in middle)
    if edges.count(shade) < len(edges) // 2 or max(shade) < 16:
        failures.append(f"the picture's edges are not the background: {edges.count(shade)} of {len(edges)} "
                        f"are its commonest shade, {shade}")
    elif model < len(middle) // 2:
        failures.append(f"only {model} of the {len(middle)} pixels of the picture's middle show the model")
    return "; ".join(failures) or None


if __name__ == "__main__":
    failure = main()
    if failure:
        print(f"{sys.argv[1]}: {failure}")
        sys.exit(1)
