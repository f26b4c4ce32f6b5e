#!/usr/bin/python3
"""Writes the image-loading fixtures: small BMP, PNG, TGA, JPG and DDS files in every
variant the loaders claim to read, each with its reference pixels.

For a fixture NAME.EXT the script writes NAME.rgba beside it: the level-0 texels as
R, G, B, A bytes, rows top first (cube maps: the six faces one after another, +X first).
The reference never comes from the engine. Lossless files are written from known pixel
values, and the reference is worked out from those values with the conversion rules the
loaders document (5- and 6-bit channels widened by repeating their bits, 16-bit PNG
samples keeping their high byte, X formats reading alpha 255). Wherever Pillow reads a
file the same way, the script also decodes it with Pillow and stops if the two disagree.
JPG and DXT references are Pillow's decoding of the written file; the tests compare those
within a tolerance.

BMP, TGA (except the Pillow-written ones), PNG and DDS files are laid out byte by byte
here, from the format descriptions, so that each variant (RLE runs, deltas and absolute
runs, odd row padding, every PNG filter, Adam7 passes, DXT end-point orderings) is present
on purpose. The 32-bit BMP with alpha comes from ImageMagick, the JPGs and a few
PNG/TGA/BMP files from Pillow, so that other writers are covered too.

Usage: make_image_fixtures.py [--out DIR]   (default: tests/data/images of this tree)
"""

import argparse
import io
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

from PIL import Image

# ---------------------------------------------------------------------------------------
# Pixel sources


def lcg(seed):
    state = seed & 0xFFFFFFFF
    while True:
        state = (state * 1664525 + 1013904223) & 0xFFFFFFFF
        yield state >> 24


def pattern(width, height, seed, alpha=True):
    """Gradients with noise and a few flat runs: rows of (r, g, b, a), top row first."""
    noise = lcg(seed)
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            n = next(noise)
            r = (x * 255 // max(1, width - 1) + n // 8) & 255
            g = (y * 255 // max(1, height - 1) + seed * 17) & 255
            b = (x * 31 + y * 47 + n) & 255
            a = ((x + y * 3) * 29 + seed) & 255 if alpha else 255
            if (x // 3 + y) % 4 == 0:  # flat stretches give run-length coders runs
                r, g, b = 200, 40 + seed, 90
            row.append((r, g, b, a))
        rows.append(row)
    return rows


def smooth(width, height, seed, grey=False):
    """Soft gradients for lossy coders."""
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            r = 40 + x * 170 // width
            g = 60 + y * 150 // height
            b = 120 + ((x + y + seed) * 90) // (width + height)
            if grey:
                r = g = b = (r + g + b) // 3
            row.append((r, g, b, 255))
        rows.append(row)
    return rows


def indexed(width, height, colors, seed):
    noise = lcg(seed)
    return [[(x + 2 * y + next(noise) % 3) % colors if (x + y) % 5 else 0 for x in range(width)]
            for y in range(height)]


def palette_of(count, seed):
    noise = lcg(seed)
    return [(next(noise), next(noise), next(noise)) for _ in range(count)]


def expand(value, bits):
    """A bits-wide value widened to 8 bits by repeating its bits (as GPUs read 5/6-bit)."""
    result, filled = 0, 0
    while filled < 8:
        shift = 8 - filled - bits
        result |= value << shift if shift >= 0 else value >> -shift
        filled += bits
    return result & 255


def rgba_bytes(rows):
    return bytes(c for row in rows for texel in row for c in texel)


# ---------------------------------------------------------------------------------------
# Output and Pillow cross-checks


class Writer:
    def __init__(self, out):
        self.out = out
        self.written = []

    def put(self, name, data, reference):
        with open(os.path.join(self.out, name), "wb") as f:
            f.write(data)
        base = os.path.splitext(name)[0]
        with open(os.path.join(self.out, base + ".rgba"), "wb") as f:
            f.write(reference)
        self.written.append((name, len(data)))


def pillow_rgba(data):
    image = Image.open(io.BytesIO(data))
    image.load()
    return image.convert("RGBA").tobytes()


def check_with_pillow(name, data, reference, tolerance=0, rgb_only=False):
    """Stops the script when Pillow reads the file differently from the reference."""
    decoded = pillow_rgba(data)
    if len(decoded) != len(reference):
        sys.exit(f"{name}: Pillow decodes {len(decoded)} bytes, reference has {len(reference)}")
    for i, (a, b) in enumerate(zip(decoded, reference)):
        if rgb_only and i % 4 == 3:
            continue
        if abs(a - b) > tolerance:
            sys.exit(f"{name}: Pillow byte {i} is {a}, reference {b}")


def check_with_imagemagick(name, data, reference, tolerance=0):
    """The same check through ImageMagick, for files Pillow misreads; skipped without it."""
    if not shutil.which("convert"):
        return
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, name)
        with open(path, "wb") as f:
            f.write(data)
        decoded = subprocess.run(["convert", path, "-depth", "8", "rgba:-"], check=True,
                                 stdout=subprocess.PIPE).stdout
    if len(decoded) != len(reference) or any(abs(a - b) > tolerance for a, b in zip(decoded, reference)):
        sys.exit(f"{name}: ImageMagick reads it differently from the reference")


# ---------------------------------------------------------------------------------------
# BMP


def bmp_file(width, height, bpp, rows, palette=None, top_down=False, header="info", compression=0,
             masks=None, pixel_data=None):
    """rows: per image row (top first) the bytes of its pixels, unpadded."""
    if pixel_data is None:
        stride = (width * bpp + 31) // 32 * 4
        file_rows = rows if top_down else rows[::-1]
        pixel_data = b"".join(r + b"\0" * (stride - len(r)) for r in file_rows)
    if header == "core":
        dib = struct.pack("<IHHHH", 12, width, height, 1, bpp)
        pal = b"".join(struct.pack("<BBB", b, g, r) for r, g, b in palette or [])
    else:
        size = 40 if header == "info" else 124
        h = -height if top_down else height
        colors = len(palette) if palette else 0
        dib = struct.pack("<IiiHHIIiiII", size, width, h, 1, bpp, compression, len(pixel_data), 2835, 2835,
                          colors, 0)
        if header == "info" and masks:
            dib += struct.pack("<III", *masks[:3])
        elif header == "v5":
            m = masks or (0, 0, 0, 0)
            dib += struct.pack("<IIII", *m) + b"BGRs" + b"\0" * 36 + b"\0" * 12 + struct.pack("<IIII", 4, 0, 0, 0)
        pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette or [])
    offset = 14 + len(dib) + len(pal)
    head = b"BM" + struct.pack("<IHHI", offset + len(pixel_data), 0, 0, offset)
    return head + dib + pal + pixel_data


def pack_indices(row, bpp):
    bits = "".join(format(i, f"0{bpp}b") for i in row)
    bits += "0" * (-len(bits) % 8)
    return bytes(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8))


def rle_stream(index_rows, four_bit):
    """Run-length codes bottom row first, with encoded runs, absolute runs of odd and even
    length, a delta over pixels left at index 0, end-of-line codes and end of bitmap."""
    out = bytearray()
    width = len(index_rows[0])
    file_rows = index_rows[::-1]
    y = 0
    while y < len(file_rows):
        row = file_rows[y]
        if y == 1 and all(i == 0 for i in row) and all(i == 0 for i in file_rows[2][:3]):
            out += bytes([0, 2, 3, 2])  # delta: three right, two up -> row 3, column 3
            y, x = 3, 3
            row = file_rows[y]
        else:
            x = 0
        while x < width:
            run = 1
            # RLE4 runs alternate two indices; both nibbles get the same one here.
            while x + run < width and row[x + run] == row[x] and run < 255:
                run += 1
            if run >= 3 or width - x < 3:
                value = (row[x] << 4 | row[x]) if four_bit else row[x]
                out += bytes([run, value])
                x += run
                continue
            # Absolute run up to the next stretch of three equal indices.
            end = x
            while end < width and end - x < 255 and not (end + 2 < width and row[end] == row[end + 1] == row[end + 2]):
                end += 1
            count = end - x
            if count < 3:
                out += bytes([1, (row[x] << 4 | row[x]) if four_bit else row[x]])
                x += 1
                continue
            chunk = row[x:end]
            if four_bit:
                data = pack_indices(chunk, 4)
            else:
                data = bytes(chunk)
            out += bytes([0, count]) + data + (b"\0" if len(data) % 2 else b"")
            x = end
        y += 1
        out += bytes([0, 0]) if y < len(file_rows) else bytes([0, 1])
    return bytes(out)


def make_bmp(w):
    width, height = 13, 7

    # Indexed, bottom-up, 1/4/8 bits, with the palette's size declared.
    for bpp, colors, header in ((1, 2, "info"), (4, 16, "info"), (8, 200, "info"), (8, 256, "core")):
        pal = palette_of(colors, bpp * 7 + colors)
        idx = indexed(width, height, colors, bpp)
        rows = [pack_indices(r, bpp) for r in idx]
        data = bmp_file(width, height, bpp, rows, palette=pal, header=header)
        ref = rgba_bytes([[pal[i] + (255,) for i in r] for r in idx])
        name = f"bmp_{bpp}bit{'_core' if header == 'core' else ''}.bmp"
        check_with_pillow(name, data, ref)
        w.put(name, data, ref)

    # 8-bit top-down.
    pal = palette_of(256, 99)
    idx = indexed(width, height, 256, 5)
    data = bmp_file(width, height, 8, [bytes(r) for r in idx], palette=pal, top_down=True)
    ref = rgba_bytes([[pal[i] + (255,) for i in r] for r in idx])
    check_with_pillow("bmp_8bit_topdown.bmp", data, ref)
    w.put("bmp_8bit_topdown.bmp", data, ref)

    # 16-bit: the default 5-5-5 layout, and 5-6-5 bit fields (top-down).
    src = pattern(width, height, 3, alpha=False)
    q555 = [[(r >> 3, g >> 3, b >> 3) for r, g, b, _ in row] for row in src]
    rows = [b"".join(struct.pack("<H", r << 10 | g << 5 | b | 0x8000 * (x % 2)) for x, (r, g, b) in enumerate(row))
            for row in q555]
    data = bmp_file(width, height, 16, rows)
    ref = rgba_bytes([[(expand(r, 5), expand(g, 5), expand(b, 5), 255) for r, g, b in row] for row in q555])
    check_with_pillow("bmp_16bit_555.bmp", data, ref, tolerance=1)  # Pillow scales, it does not repeat bits
    w.put("bmp_16bit_555.bmp", data, ref)

    q565 = [[(r >> 3, g >> 2, b >> 3) for r, g, b, _ in row] for row in src]
    rows = [b"".join(struct.pack("<H", r << 11 | g << 5 | b) for r, g, b in row) for row in q565]
    data = bmp_file(width, height, 16, rows, top_down=True, compression=3, masks=(0xF800, 0x07E0, 0x001F))
    ref = rgba_bytes([[(expand(r, 5), expand(g, 6), expand(b, 5), 255) for r, g, b in row] for row in q565])
    check_with_pillow("bmp_16bit_565.bmp", data, ref, tolerance=1)
    w.put("bmp_16bit_565.bmp", data, ref)

    # 24-bit: bottom-up from Pillow, top-down from here.
    src = pattern(width, height, 4, alpha=False)
    ref = rgba_bytes(src)
    image = Image.frombytes("RGBA", (width, height), ref).convert("RGB")
    buffer = io.BytesIO()
    image.save(buffer, "BMP")
    w.put("bmp_24bit.bmp", buffer.getvalue(), ref)
    rows = [bytes(c for r, g, b, _ in row for c in (b, g, r)) for row in src]
    data = bmp_file(width, height, 24, rows, top_down=True)
    check_with_pillow("bmp_24bit_topdown.bmp", data, ref)
    w.put("bmp_24bit_topdown.bmp", data, ref)

    # 32-bit without bit fields: the fourth byte is unused, whatever it holds.
    src = pattern(width, height, 6, alpha=True)
    rows = [bytes(c for r, g, b, a in row for c in (b, g, r, a)) for row in src]
    data = bmp_file(width, height, 32, rows)
    ref = rgba_bytes([[(r, g, b, 255) for r, g, b, _ in row] for row in src])
    check_with_pillow("bmp_32bit.bmp", data, ref, rgb_only=True)
    w.put("bmp_32bit.bmp", data, ref)

    # 32-bit with an alpha mask in a V5 header, written here and by ImageMagick.
    ref = rgba_bytes(src)
    data = bmp_file(width, height, 32, rows, header="v5", compression=3,
                    masks=(0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000))
    check_with_pillow("bmp_32bit_alpha.bmp", data, ref)
    w.put("bmp_32bit_alpha.bmp", data, ref)
    if shutil.which("convert"):
        with tempfile.TemporaryDirectory() as tmp:
            source = os.path.join(tmp, "in.png")
            Image.frombytes("RGBA", (width, height), ref).save(source)
            target = os.path.join(tmp, "out.bmp")
            subprocess.run(["convert", source, "-define", "bmp:format=bmp4", target], check=True)
            with open(target, "rb") as f:
                data = f.read()
        check_with_pillow("bmp_32bit_alpha_imagemagick.bmp", data, ref)
        w.put("bmp_32bit_alpha_imagemagick.bmp", data, ref)

    # RLE8 and RLE4. Pillow's RLE reader mishandles deltas and odd absolute runs: these
    # references rest on the index images the streams were coded from, checked by
    # ImageMagick.
    for four_bit in (False, True):
        colors = 16 if four_bit else 256
        pal = palette_of(colors, 77 + colors)
        idx = [[0] * 16 for _ in range(9)]
        noise = lcg(11 + colors)
        for y in range(9):
            for x in range(16):
                if y in (7, 6) or (y == 5 and x < 3):
                    continue  # left at index 0, skipped by the delta
                if x < 5:
                    idx[y][x] = (y + 1) % colors  # encoded run
                elif x < 12:
                    idx[y][x] = next(noise) % colors or 1  # absolute run
                else:
                    idx[y][x] = 3  # encoded run to the row's end
        idx[0][5:12] = [2, 9, 4, 7, 5, 3, 3]  # a five-index absolute run: padding follows
        stream = rle_stream(idx, four_bit)
        bpp = 4 if four_bit else 8
        data = bmp_file(16, 9, bpp, None, palette=pal, compression=2 if four_bit else 1, pixel_data=stream)
        ref = rgba_bytes([[pal[i] + (255,) for i in r] for r in idx])
        check_with_imagemagick(f"bmp_rle{bpp}.bmp", data, ref)
        w.put(f"bmp_rle{bpp}.bmp", data, ref)


# ---------------------------------------------------------------------------------------
# PNG


def png_chunk(kind, payload):
    return struct.pack(">I", len(payload)) + kind + payload + struct.pack(">I", zlib.crc32(kind + payload))


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def filter_rows(rows, bpp):
    """Each row gets the next of the five filter types, so every one is exercised."""
    out = bytearray()
    prior = bytes(len(rows[0])) if rows else b""
    for n, row in enumerate(rows):
        kind = n % 5
        out.append(kind)
        for i, value in enumerate(row):
            left = row[i - bpp] if i >= bpp else 0
            up = prior[i]
            upper_left = prior[i - bpp] if i >= bpp else 0
            predictor = (0, left, up, (left + up) // 2, paeth(left, up, upper_left))[kind]
            out.append((value - predictor) & 255)
        prior = row
    return bytes(out)


ADAM7 = ((0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2))


def png_file(samples, color_type, depth, palette=None, trns=None, interlace=False):
    """samples: rows (top first) of per-pixel sample tuples at the given depth."""
    height, width = len(samples), len(samples[0])
    channels = len(samples[0][0])
    bpp = max(1, channels * depth // 8)

    def pack(row):
        if depth == 16:
            return b"".join(struct.pack(">H", s) for px in row for s in px)
        if depth == 8:
            return bytes(s for px in row for s in px)
        return pack_indices([px[0] for px in row], depth)

    raw = b""
    if interlace:
        for x0, y0, dx, dy in ADAM7:
            rows = [pack(samples[y][x0::dx]) for y in range(y0, height, dy) if x0 < width]
            if rows:
                raw += filter_rows(rows, bpp)
    else:
        raw = filter_rows([pack(r) for r in samples], bpp)
    compressed = zlib.compress(raw, 9)
    half = len(compressed) // 2
    out = b"\x89PNG\r\n\x1a\n"
    out += png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, color_type, 0, 0, 1 if interlace else 0))
    if palette:
        out += png_chunk(b"PLTE", bytes(c for rgb in palette for c in rgb))
    if trns is not None:
        out += png_chunk(b"tRNS", trns)
    # Two IDAT chunks: the stream must be joined across them.
    out += png_chunk(b"IDAT", compressed[:half]) + png_chunk(b"IDAT", compressed[half:])
    return out + png_chunk(b"IEND", b"")


def make_png(w):
    width, height = 13, 9
    src = pattern(width, height, 8)

    # Greyscale at every depth; a 16-bit sample keeps its high byte.
    for depth in (1, 2, 4, 8, 16):
        top = (1 << depth) - 1
        samples = [[(((r * 3 + g * 5 + b) // 9) * top // 255,) for r, g, b, _ in row] for row in src]
        if depth == 16:
            samples = [[((s[0] * 257 + x * 31) & 0xFFFF,) for x, s in enumerate(row)] for row in samples]
        to8 = (lambda v: v >> 8) if depth == 16 else (lambda v, t=top: v * 255 // t)
        ref = rgba_bytes([[(to8(s[0]),) * 3 + (255,) for s in row] for row in samples])
        for interlace in (False, True) if depth in (2, 16) else (False,):
            name = f"png_grey{depth}{'_interlaced' if interlace else ''}.png"
            data = png_file(samples, 0, depth, interlace=interlace)
            if depth == 16:
                image = Image.open(io.BytesIO(data))
                got = [v >> 8 for v in image.getdata()]
                if got != [s[0] >> 8 for row in samples for s in row]:
                    sys.exit(f"{name}: Pillow disagrees")
            else:
                check_with_pillow(name, data, ref)
            w.put(name, data, ref)

    # Greyscale with a tRNS grey level.
    samples = [[((r + g + b) // 3 // 16 * 16,) for r, g, b, _ in row] for row in src]
    key = samples[0][0][0]
    data = png_file(samples, 0, 8, trns=struct.pack(">H", key))
    ref = rgba_bytes([[(s[0],) * 3 + (0 if s[0] == key else 255,) for s in row] for row in samples])
    check_with_pillow("png_grey8_trns.png", data, ref)
    w.put("png_grey8_trns.png", data, ref)

    # Greyscale with alpha, 8 and 16 bits.
    for depth in (8, 16):
        if depth == 8:
            samples = [[((r + g) // 2, a) for r, g, b, a in row] for row in src]
            ref = rgba_bytes([[(s[0],) * 3 + (s[1],) for s in row] for row in samples])
        else:
            samples = [[((((r + g) // 2) * 257 + x) & 0xFFFF, (a * 257 + y) & 0xFFFF) for x, (r, g, b, a) in enumerate(row)]
                       for y, row in enumerate(src)]
            ref = rgba_bytes([[(s[0] >> 8,) * 3 + (s[1] >> 8,) for s in row] for row in samples])
        name = f"png_greyalpha{depth}.png"
        data = png_file(samples, 4, depth)
        if depth == 8:
            check_with_pillow(name, data, ref)
        w.put(name, data, ref)

    # RGB and RGBA, 8 and 16 bits, plain and interlaced.
    for color_type, channels in ((2, 3), (6, 4)):
        for depth in (8, 16):
            for interlace in (False, True):
                if depth == 16:
                    samples = [[tuple((c * 257 + x * 7 + y) & 0xFFFF for c in px[:channels]) for x, px in enumerate(row)]
                               for y, row in enumerate(src)]
                    ref = rgba_bytes([[tuple(s >> 8 for s in px) + ((255,) if channels == 3 else ()) for px in row]
                                      for row in samples])
                else:
                    samples = [[px[:channels] for px in row] for row in src]
                    ref = rgba_bytes([[px[:3] + ((px[3],) if channels == 4 else (255,)) for px in row] for row in src])
                kind = "rgb" if channels == 3 else "rgba"
                name = f"png_{kind}{depth}{'_interlaced' if interlace else ''}.png"
                data = png_file(samples, color_type, depth, interlace=interlace)
                check_with_pillow(name, data, ref)
                w.put(name, data, ref)

    # RGB with a tRNS colour key.
    samples = [[px[:3] for px in row] for row in src]
    key = samples[0][0]  # the flat colour, present many times
    data = png_file(samples, 2, 8, trns=struct.pack(">HHH", *key))
    ref = rgba_bytes([[px + ((0,) if px == key else (255,)) for px in row] for row in samples])
    check_with_pillow("png_rgb8_trns.png", data, ref)
    w.put("png_rgb8_trns.png", data, ref)

    # Palettes at 1, 2, 4 and 8 bits; with a short tRNS table; interlaced.
    for depth in (1, 2, 4, 8):
        colors = 1 << depth if depth < 8 else 180
        pal = palette_of(colors, depth * 13)
        idx = indexed(width, height, colors, depth + 20)
        samples = [[(i,) for i in row] for row in idx]
        ref = rgba_bytes([[pal[i] + (255,) for i in row] for row in idx])
        name = f"png_palette{depth}.png"
        data = png_file(samples, 3, depth, palette=pal)
        check_with_pillow(name, data, ref)
        w.put(name, data, ref)
    pal = palette_of(16, 5)
    alphas = bytes((i * 37) & 255 for i in range(10))  # entries 10..15 stay opaque
    idx = indexed(width, height, 16, 31)
    samples = [[(i,) for i in row] for row in idx]
    ref = rgba_bytes([[pal[i] + (alphas[i] if i < len(alphas) else 255,) for i in row] for row in idx])
    for interlace in (False, True):
        name = f"png_palette4_trns{'_interlaced' if interlace else ''}.png"
        data = png_file(samples, 3, 4, palette=pal, trns=alphas, interlace=interlace)
        check_with_pillow(name, data, ref)
        w.put(name, data, ref)

    # One file from Pillow's own writer.
    ref = rgba_bytes(src)
    buffer = io.BytesIO()
    Image.frombytes("RGBA", (width, height), ref).save(buffer, "PNG", optimize=True)
    w.put("png_rgba8_pillow.png", buffer.getvalue(), ref)


# ---------------------------------------------------------------------------------------
# TGA


def tga_rle(pixels):
    """Run-length packets over the whole pixel stream; runs cross row ends on purpose."""
    out = bytearray()
    i = 0
    while i < len(pixels):
        run = 1
        while i + run < len(pixels) and pixels[i + run] == pixels[i] and run < 128:
            run += 1
        if run >= 2:
            out.append(0x80 | (run - 1))
            out += pixels[i]
            i += run
            continue
        start = i
        while i < len(pixels) and i - start < 128 and not (i + 1 < len(pixels) and pixels[i + 1] == pixels[i]):
            i += 1
        if i == start:
            i += 1
        out.append(i - start - 1)
        out += b"".join(pixels[start:i])
    return bytes(out)


def tga_file(width, height, image_type, depth, stored, descriptor, colormap=None, image_id=b""):
    """stored: per image pixel (rows top first, left to right) its stored bytes."""
    top_down = descriptor & 0x20
    right_to_left = descriptor & 0x10
    order = []
    for file_row in range(height):
        y = file_row if top_down else height - 1 - file_row
        for file_col in range(width):
            x = width - 1 - file_col if right_to_left else file_col
            order.append(stored[y][x])
    body = tga_rle(order) if image_type & 8 else b"".join(order)
    if colormap:
        first, entries, entry_depth = colormap
        head = struct.pack("<BBBHHB", len(image_id), 1, image_type, first, len(entries), entry_depth)
        cmap = b"".join(entries)
    else:
        head = struct.pack("<BBBHHB", len(image_id), 0, image_type, 0, 0, 0)
        cmap = b""
    head += struct.pack("<HHHHBB", 0, 0, width, height, depth, descriptor)
    return head + image_id + cmap + body


def make_tga(w):
    width, height = 13, 7
    src = pattern(width, height, 12)

    # Greyscale, raw and RLE, and greyscale with alpha.
    grey = [[((r + g + b) // 3,) for r, g, b, _ in row] for row in src]
    ref = rgba_bytes([[(v,) * 3 + (255,) for (v,) in row] for row in grey])
    for image_type, name in ((3, "tga_grey8.tga"), (11, "tga_grey8_rle.tga")):
        data = tga_file(width, height, image_type, 8, [[bytes(p) for p in row] for row in grey], 0x00)
        check_with_pillow(name, data, ref)
        w.put(name, data, ref)
    stored = [[bytes(((r + g + b) // 3, a)) for r, g, b, a in row] for row in src]
    ref = rgba_bytes([[((r + g + b) // 3,) * 3 + (a,) for r, g, b, a in row] for row in src])
    data = tga_file(width, height, 3, 16, stored, 0x28, image_id=b"grey and alpha")
    check_with_pillow("tga_greyalpha16.tga", data, ref)
    w.put("tga_greyalpha16.tga", data, ref)

    # Colour-mapped: 24-bit map from a first entry above zero; 32-bit map with RLE; 16-bit
    # map with an alpha bit.
    pal = palette_of(40, 3)
    idx = indexed(width, height, 40, 9)
    first = 5
    entries = [bytes((b, g, r)) for r, g, b in pal]
    stored = [[bytes((i + first,)) for i in row] for row in idx]
    ref = rgba_bytes([[pal[i] + (255,) for i in row] for row in idx])
    data = tga_file(width, height, 1, 8, stored, 0x00, colormap=(first, entries, 24))
    check_with_pillow("tga_colormap24.tga", data, ref)
    w.put("tga_colormap24.tga", data, ref)

    alphas = [(i * 53) & 255 for i in range(40)]
    entries = [bytes((b, g, r, alphas[i])) for i, (r, g, b) in enumerate(pal)]
    stored = [[bytes((i,)) for i in row] for row in idx]
    ref = rgba_bytes([[pal[i] + (alphas[i],) for i in row] for row in idx])
    data = tga_file(width, height, 9, 8, stored, 0x28, colormap=(0, entries, 32))
    check_with_imagemagick("tga_colormap32_rle.tga", data, ref)  # Pillow 9 cannot read 32-bit colour maps
    w.put("tga_colormap32_rle.tga", data, ref)

    q = [(r >> 3, g >> 3, b >> 3) for r, g, b in pal]
    entries = [struct.pack("<H", (0x8000 if i % 3 else 0) | r << 10 | g << 5 | b) for i, (r, g, b) in enumerate(q)]
    ref = rgba_bytes([[(expand(q[i][0], 5), expand(q[i][1], 5), expand(q[i][2], 5), 255 if i % 3 else 0)
                       for i in row] for row in idx])
    data = tga_file(width, height, 1, 8, stored, 0x21, colormap=(0, entries, 16))
    check_with_pillow("tga_colormap16_alpha.tga", data, ref, tolerance=1, rgb_only=True)  # no alpha bit in Pillow
    w.put("tga_colormap16_alpha.tga", data, ref)

    # True colour 15 and 16 bits: the attribute bit is alpha only when the header says so.
    q = [[(r >> 3, g >> 3, b >> 3, a >= 128) for r, g, b, a in row] for row in src]
    stored = [[struct.pack("<H", (0x8000 if a else 0) | r << 10 | g << 5 | b) for r, g, b, a in row] for row in q]
    ref_alpha = rgba_bytes([[(expand(r, 5), expand(g, 5), expand(b, 5), 255 if a else 0) for r, g, b, a in row]
                            for row in q])
    ref_opaque = rgba_bytes([[(expand(r, 5), expand(g, 5), expand(b, 5), 255) for r, g, b, a in row] for row in q])
    for name, image_type, descriptor, ref in (("tga_16bit_alpha.tga", 2, 0x21, ref_alpha),
                                              ("tga_16bit_rle.tga", 10, 0x20, ref_opaque)):
        data = tga_file(width, height, image_type, 16, stored, descriptor)
        check_with_pillow(name, data, ref, tolerance=1, rgb_only=True)
        w.put(name, data, ref)
    # Pillow refuses depth 15 and ImageMagick 6 turns bottom-up 16-bit files upside down;
    # Pillow checks the same bytes labelled 16-bit without alpha bits, a layout they share.
    data = tga_file(width, height, 2, 15, stored, 0x00)
    check_with_pillow("tga_15bit.tga", data[:16] + bytes((16,)) + data[17:], ref_opaque, tolerance=1, rgb_only=True)
    w.put("tga_15bit.tga", data, ref_opaque)

    # True colour 24 and 32 bits: from Pillow (bottom-left, RLE top-left), and from here with
    # right-to-left origins.
    ref = rgba_bytes([[px[:3] + (255,) for px in row] for row in src])
    rgb = Image.frombytes("RGBA", (width, height), rgba_bytes(src)).convert("RGB")
    buffer = io.BytesIO()
    rgb.save(buffer, "TGA")
    w.put("tga_24bit.tga", buffer.getvalue(), ref)
    buffer = io.BytesIO()
    rgb.save(buffer, "TGA", compression="tga_rle", orientation=1)
    w.put("tga_24bit_rle_topleft.tga", buffer.getvalue(), ref)
    stored = [[bytes((b, g, r)) for r, g, b, a in row] for row in src]
    data = tga_file(width, height, 2, 24, stored, 0x10)
    check_with_pillow("tga_24bit_bottomright.tga", data, ref)
    w.put("tga_24bit_bottomright.tga", data, ref)

    ref = rgba_bytes(src)
    buffer = io.BytesIO()
    Image.frombytes("RGBA", (width, height), ref).save(buffer, "TGA")
    w.put("tga_32bit.tga", buffer.getvalue(), ref)
    stored = [[bytes((b, g, r, a)) for r, g, b, a in row] for row in src]
    data = tga_file(width, height, 10, 32, stored, 0x38)
    check_with_pillow("tga_32bit_rle_topright.tga", data, ref)
    w.put("tga_32bit_rle_topright.tga", data, ref)


# ---------------------------------------------------------------------------------------
# JPG


def make_jpg(w):
    width, height = 30, 22
    for name, grey, options in (
        ("jpg_baseline_420.jpg", False, dict(quality=90, subsampling=2)),
        ("jpg_baseline_444.jpg", False, dict(quality=90, subsampling=0)),
        ("jpg_progressive.jpg", False, dict(quality=90, subsampling=2, progressive=True)),
        ("jpg_baseline_grey.jpg", True, dict(quality=90)),
        ("jpg_progressive_grey.jpg", True, dict(quality=90, progressive=True)),
    ):
        src = smooth(width, height, len(name), grey)
        image = Image.frombytes("RGBA", (width, height), rgba_bytes(src)).convert("L" if grey else "RGB")
        buffer = io.BytesIO()
        image.save(buffer, "JPEG", **options)
        data = buffer.getvalue()
        w.put(name, data, pillow_rgba(data))


# ---------------------------------------------------------------------------------------
# DDS

DDSD = 0x1 | 0x2 | 0x4 | 0x1000  # caps, height, width, pixel format
DDSD_MIPMAPCOUNT, DDSD_LINEARSIZE, DDSD_PITCH = 0x20000, 0x80000, 0x8
DDPF_ALPHAPIXELS, DDPF_ALPHA, DDPF_FOURCC, DDPF_RGB, DDPF_LUMINANCE = 0x1, 0x2, 0x4, 0x40, 0x20000
DDSCAPS_COMPLEX, DDSCAPS_TEXTURE, DDSCAPS_MIPMAP = 0x8, 0x1000, 0x400000
DDSCAPS2_CUBEMAP_ALL = 0x200 | 0xFC00


def dds_file(width, height, pixel_format, surfaces, levels, cube=False, fourcc_is_format=False):
    """pixel_format: (flags, fourcc, bits, r, g, b, a); surfaces: bytes of each face's levels in order."""
    flags = DDSD | (DDSD_MIPMAPCOUNT if levels > 1 else 0)
    caps = DDSCAPS_TEXTURE | (DDSCAPS_MIPMAP | DDSCAPS_COMPLEX if levels > 1 else 0) | (DDSCAPS_COMPLEX if cube else 0)
    pf_flags, fourcc, bits, rm, gm, bm, am = pixel_format
    pf = struct.pack("<II4sIIIII", 32, pf_flags, fourcc, bits, rm, gm, bm, am)
    header = struct.pack("<IIIIIII", 124, flags, height, width, 0, 0, levels if levels > 1 else 0)
    header += b"\0" * 44 + pf + struct.pack("<IIIII", caps, DDSCAPS2_CUBEMAP_ALL if cube else 0, 0, 0, 0)
    return b"DDS " + header + b"".join(surfaces)


def rgb565(r, g, b):
    return (r >> 3) << 11 | (g >> 2) << 5 | (b >> 3)


def unpack565(c):
    return expand(c >> 11, 5), expand(c >> 5 & 63, 6), expand(c & 31, 5)


def nearest(texel, colors):
    return min(range(len(colors)), key=lambda i: sum((texel[k] - colors[i][k]) ** 2 for k in range(3)))


def color_block(texels, allow_transparent):
    """An end-point pair and indices; three-colour mode when allow_transparent and a texel is clear."""
    lum = [t[0] * 2 + t[1] * 4 + t[2] for t in texels]
    lo, hi = texels[lum.index(min(lum))], texels[lum.index(max(lum))]
    c_lo, c_hi = rgb565(*lo[:3]), rgb565(*hi[:3])
    transparent = allow_transparent and any(t[3] < 128 for t in texels)
    if transparent:
        c0, c1 = min(c_lo, c_hi), max(c_lo, c_hi)
        p0, p1 = unpack565(c0), unpack565(c1)
        colors = [p0, p1, tuple((a + b) // 2 for a, b in zip(p0, p1))]
        idx = [3 if t[3] < 128 else nearest(t, colors) for t in texels]
    else:
        c0, c1 = max(c_lo, c_hi), min(c_lo, c_hi)
        p0, p1 = unpack565(c0), unpack565(c1)
        colors = [p0, p1, tuple((2 * a + b) // 3 for a, b in zip(p0, p1)), tuple((a + 2 * b) // 3 for a, b in zip(p0, p1))]
        # Equal end points would switch a DXT1 block to three colours: use index 0 only.
        idx = [nearest(t, colors) if c0 != c1 else 0 for t in texels]
    mask = sum(i << (2 * n) for n, i in enumerate(idx))
    return struct.pack("<HHI", c0, c1, mask)


def alpha_block(texels, six_alpha):
    alphas = [t[3] for t in texels]
    lo, hi = min(alphas), max(alphas)
    if six_alpha:  # a0 <= a1: six interpolated values plus 0 and 255
        a0, a1 = lo, hi
        values = [a0, a1] + [((5 - i) * a0 + i * a1) // 5 for i in range(1, 5)] + [0, 255]
    else:
        a0, a1 = (hi, lo) if hi > lo else (hi, max(0, lo - 1)) if hi > 0 else (1, 0)
        values = [a0, a1] + [((7 - i) * a0 + i * a1) // 7 for i in range(1, 7)]
    idx = [min(range(8), key=lambda i: abs(values[i] - a)) for a in alphas]
    bits = sum(i << (3 * n) for n, i in enumerate(idx))
    return bytes((a0, a1)) + bits.to_bytes(6, "little")


def dxt_surface(rows, fourcc):
    height, width = len(rows), len(rows[0])
    out = bytearray()
    for by in range(0, height, 4):
        for bx in range(0, width, 4):
            texels = [rows[min(by + y, height - 1)][min(bx + x, width - 1)] for y in range(4) for x in range(4)]
            block_number = by // 4 + bx // 4
            if fourcc == b"DXT1":
                out += color_block(texels, True)
            elif fourcc in (b"DXT2", b"DXT3"):
                bits = sum((t[3] >> 4) << (4 * n) for n, t in enumerate(texels))
                out += bits.to_bytes(8, "little") + color_block(texels, False)
            else:
                out += alpha_block(texels, block_number % 2 == 1) + color_block(texels, False)
    return bytes(out)


def pillow_dxt(width, height, fourcc, blocks):
    """Pillow's decoding of one DXT surface; DXT2 and DXT4 are read as DXT3 and DXT5,
    whose blocks they share."""
    read_as = {b"DXT2": b"DXT3", b"DXT4": b"DXT5"}.get(fourcc, fourcc)
    data = dds_file(width, height, (DDPF_FOURCC, read_as, 0, 0, 0, 0, 0), [blocks], 1)
    return pillow_rgba(data)


def mip_rows(rows):
    """A crude half-size level for files that carry mip maps (the loader copies them)."""
    height, width = len(rows), len(rows[0])
    return [[rows[min(2 * y, height - 1)][min(2 * x, width - 1)] for x in range(max(1, width // 2))]
            for y in range(max(1, height // 2))]


def solid(width, height, texel):
    return [[texel] * width for _ in range(height)]


UNCOMPRESSED = {
    # name: (pixel format, pack texel -> bytes, texel -> reference RGBA)
    "a8r8g8b8": ((DDPF_RGB | DDPF_ALPHAPIXELS, b"\0" * 4, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000),
                 lambda t: bytes((t[2], t[1], t[0], t[3])), lambda t: t),
    "x8r8g8b8": ((DDPF_RGB, b"\0" * 4, 32, 0xFF0000, 0xFF00, 0xFF, 0),
                 lambda t: bytes((t[2], t[1], t[0], 0xFF)), lambda t: t[:3] + (255,)),
    "a8b8g8r8": ((DDPF_RGB | DDPF_ALPHAPIXELS, b"\0" * 4, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000),
                 lambda t: bytes(t), lambda t: t),
    "r8g8b8": ((DDPF_RGB, b"\0" * 4, 24, 0xFF0000, 0xFF00, 0xFF, 0),
               lambda t: bytes((t[2], t[1], t[0])), lambda t: t[:3] + (255,)),
    "r5g6b5": ((DDPF_RGB, b"\0" * 4, 16, 0xF800, 0x07E0, 0x001F, 0),
               lambda t: struct.pack("<H", rgb565(*t[:3])), lambda t: unpack565(rgb565(*t[:3])) + (255,)),
    "a1r5g5b5": ((DDPF_RGB | DDPF_ALPHAPIXELS, b"\0" * 4, 16, 0x7C00, 0x03E0, 0x001F, 0x8000),
                 lambda t: struct.pack("<H", (t[3] >= 128) << 15 | (t[0] >> 3) << 10 | (t[1] >> 3) << 5 | t[2] >> 3),
                 lambda t: (expand(t[0] >> 3, 5), expand(t[1] >> 3, 5), expand(t[2] >> 3, 5), 255 * (t[3] >= 128))),
    "a4r4g4b4": ((DDPF_RGB | DDPF_ALPHAPIXELS, b"\0" * 4, 16, 0x0F00, 0x00F0, 0x000F, 0xF000),
                 lambda t: struct.pack("<H", (t[3] >> 4) << 12 | (t[0] >> 4) << 8 | (t[1] >> 4) << 4 | t[2] >> 4),
                 lambda t: tuple(expand(c >> 4, 4) for c in t)),
    "l8": ((DDPF_LUMINANCE, b"\0" * 4, 8, 0xFF, 0, 0, 0), lambda t: bytes((t[0],)), lambda t: (t[0],) * 3 + (255,)),
    "a8": ((DDPF_ALPHA, b"\0" * 4, 8, 0, 0, 0, 0xFF), lambda t: bytes((t[3],)), lambda t: (0, 0, 0, t[3])),
    "a8l8": ((DDPF_LUMINANCE | DDPF_ALPHAPIXELS, b"\0" * 4, 16, 0xFF, 0, 0, 0xFF00),
             lambda t: bytes((t[0], t[3])), lambda t: (t[0],) * 3 + (t[3],)),
}

LEVEL_COLORS = [(255, 0, 0, 255), (0, 255, 0, 128), (0, 0, 255, 64), (255, 255, 0, 32), (0, 255, 255, 0)]


def make_dds(w):
    width, height = 16, 12
    src = pattern(width, height, 21)

    # Uncompressed formats, without mip maps; A8R8G8B8 also with a full chain whose levels
    # are solid colours, so a test can tell the levels apart.
    for name, (pf, pack, to_ref) in UNCOMPRESSED.items():
        level0 = b"".join(pack(t) for row in src for t in row)
        ref = rgba_bytes([[to_ref(t) for t in row] for row in src])
        data = dds_file(width, height, pf, [level0], 1)
        if name in ("a8r8g8b8", "l8", "a8l8"):  # Pillow misreads 32-bit X8 and the rest
            check_with_pillow(f"dds_{name}.dds", data, ref)
        w.put(f"dds_{name}.dds", data, ref)
    pf, pack, to_ref = UNCOMPRESSED["a8r8g8b8"]
    levels = [b"".join(pack(t) for row in src for t in row)]
    for level in range(1, 5):
        levels.append(pack(LEVEL_COLORS[level]) * (max(1, width >> level) * max(1, height >> level)))
    w.put("dds_a8r8g8b8_mips.dds", dds_file(width, height, pf, levels, 5), rgba_bytes(src))
    # Direct3D writes some formats as their D3DFORMAT number in the FourCC field.
    w.put("dds_a8r8g8b8_fourcc.dds",
          dds_file(width, height, (DDPF_FOURCC, struct.pack("<I", 21), 0, 0, 0, 0, 0), [levels[0]], 1),
          rgba_bytes(src))

    # DXT1 to DXT5; DXT1 opaque and with transparent texels; with and without mip maps;
    # one size that is not a multiple of four.
    opaque = pattern(width, height, 22, alpha=False)
    for name, fourcc, rows, with_mips in (
        ("dds_dxt1.dds", b"DXT1", opaque, False),
        ("dds_dxt1_mips.dds", b"DXT1", opaque, True),
        ("dds_dxt1_alpha.dds", b"DXT1", src, False),
        ("dds_dxt2.dds", b"DXT2", src, False),
        ("dds_dxt3.dds", b"DXT3", src, True),
        ("dds_dxt4.dds", b"DXT4", src, False),
        ("dds_dxt5.dds", b"DXT5", src, False),
        ("dds_dxt5_mips.dds", b"DXT5", src, True),
        ("dds_dxt5_10x6.dds", b"DXT5", [row[:10] for row in src[:6]], False),
    ):
        h, wd = len(rows), len(rows[0])
        surfaces, level_rows = [], rows
        count = 0
        while True:
            surfaces.append(dxt_surface(level_rows, fourcc))
            count += 1
            if not with_mips or (len(level_rows) == 1 and len(level_rows[0]) == 1):
                break
            level_rows = mip_rows(level_rows)
        data = dds_file(wd, h, (DDPF_FOURCC, fourcc, 0, 0, 0, 0, 0), surfaces, count)
        w.put(name, data, pillow_dxt(wd, h, fourcc, surfaces[0]))

    # Cube maps: each face its own pattern. A8R8G8B8 with three mip levels per face, DXT1
    # without mip maps.
    size = 8
    faces = [pattern(size, size, 40 + face) for face in range(6)]
    surfaces = []
    for face in faces:
        surfaces.append(b"".join(pack(t) for row in face for t in row))
        surfaces.append(pack(LEVEL_COLORS[1]) * 16)
        surfaces.append(pack(LEVEL_COLORS[2]) * 4)
    w.put("dds_cube_a8r8g8b8.dds", dds_file(size, size, UNCOMPRESSED["a8r8g8b8"][0], surfaces, 3, cube=True),
          b"".join(rgba_bytes(face) for face in faces))
    surfaces = [dxt_surface(face, b"DXT1") for face in faces]
    ref = b"".join(pillow_dxt(size, size, b"DXT1", s) for s in surfaces)
    w.put("dds_cube_dxt1.dds", dds_file(size, size, (DDPF_FOURCC, b"DXT1", 0, 0, 0, 0, 0), surfaces, 1, cube=True),
          ref)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--out", default=os.path.join(root, "tests", "data", "images"),
                        help="directory for the fixtures (created if missing)")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    w = Writer(args.out)
    make_bmp(w)
    make_png(w)
    make_tga(w)
    make_jpg(w)
    make_dds(w)
    total = sum(size for _, size in w.written)
    print(f"wrote {len(w.written)} fixtures ({total} bytes) and their references to {args.out}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
