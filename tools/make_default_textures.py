#!/usr/bin/python3
"""Writes the two images materials fall back on: default_white.bmp, the white lightmap and
diffuse map of surfaces that have none, and default_nmap.bmp, the flat tangent-space normal
(0, 0, 1) encoded as RGB (128, 128, 255) for surfaces without a normal map.

Both are 4 x 4 uncompressed 24-bit BMPs, laid out byte by byte here so that the script needs
nothing beyond Python itself. Four texels on a side keep them valid textures for any device
that dislikes 1 x 1 images while costing nothing.

Usage: make_default_textures.py [--out DIR]   (default: data/ of this tree)
"""

import argparse
import os
import struct
import sys

SIZE = 4
IMAGES = {
    "default_white.bmp": (255, 255, 255),
    "default_nmap.bmp": (128, 128, 255),
}


def solid_bmp(rgb, size=SIZE):
    """A size x size 24-bit BMP filled with one colour."""
    row = bytes((rgb[2], rgb[1], rgb[0])) * size  # BMP stores B, G, R
    row += b"\0" * (-len(row) % 4)  # rows are padded to whole 32-bit words
    pixels = row * size
    info = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    offset = 14 + len(info)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return header + info + pixels


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description="Writes default_white.bmp and default_nmap.bmp.")
    parser.add_argument("--out", default=os.path.join(root, "data"), help="directory to write into (default: %(default)s)")
    args = parser.parse_args()
    if not os.path.isdir(args.out):
        print(f"make_default_textures: {args.out} is not a directory", file=sys.stderr)
        return 2
    for name, rgb in IMAGES.items():
        path = os.path.join(args.out, name)
        try:
            with open(path, "wb") as out:
                out.write(solid_bmp(rgb))
        except OSError as error:
            print(f"make_default_textures: cannot write {path}: {error.strerror}", file=sys.stderr)
            return 4
        print(f"{path}: {SIZE} x {SIZE}, RGB {rgb}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
