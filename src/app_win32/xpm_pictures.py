#!/usr/bin/env python3
"""Turns the desktop program's XPM pictures into the files the Windows
resource script takes: a 24-bit BMP for the logo, a 32-bit ICO for the icon.

Usage: xpm_pictures.py bmp|ico INPUT.xpm OUTPUT
The XPM files stay the one source of both pictures.
"""
import re
import struct
import sys


def read_xpm(path):
    """Returns (width, height, rows of (r, g, b, a))."""
    with open(path, encoding="ascii") as f:
        strings = re.findall(r'"((?:[^"\\]|\\.)*)"', f.read())
    width, height, colours, cpp = (int(v) for v in strings[0].split()[:4])
    palette = {}
    for entry in strings[1:1 + colours]:
        key, value = entry[:cpp], entry[cpp:].split()[-1]
        if value.lower() == "none":
            palette[key] = (0, 0, 0, 0)
        else:
            rgb = int(value.lstrip("#"), 16)
            palette[key] = (rgb >> 16, (rgb >> 8) & 0xFF, rgb & 0xFF, 255)
    rows = []
    for line in strings[1 + colours:1 + colours + height]:
        if len(line) != width * cpp:
            raise SystemExit(f"{path}: a row of {len(line)} characters, not {width * cpp}")
        rows.append([palette[line[i:i + cpp]] for i in range(0, len(line), cpp)])
    return width, height, rows


def bgr_rows(rows, alpha):
    """Bottom-up pixel rows, each padded to a multiple of 4 bytes."""
    out = b""
    for row in reversed(rows):
        if alpha:
            line = b"".join(bytes((b, g, r, a)) for r, g, b, a in row)
        else:
            line = b"".join(bytes((b, g, r)) for r, g, b, _ in row)
        out += line + b"\0" * (-len(line) % 4)
    return out


def info_header(width, height, bits, image_size):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, image_size, 2835, 2835, 0, 0)


def bmp(width, height, rows):
    pixels = bgr_rows(rows, alpha=False)
    header = info_header(width, height, 24, len(pixels))
    return struct.pack("<2sIHHI", b"BM", 14 + len(header) + len(pixels), 0, 0, 14 + len(header)) + header + pixels


def ico(width, height, rows):
    pixels = bgr_rows(rows, alpha=True)
    mask_stride = ((width + 31) // 32) * 4
    mask = b""
    for row in reversed(rows):
        bits = 0
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits |= 1 << (mask_stride * 8 - 1 - x)
        mask += bits.to_bytes(mask_stride, "big")
    # An icon's bitmap header counts the colour and the mask rows together.
    image = info_header(width, height * 2, 32, len(pixels) + len(mask)) + pixels + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def main():
    kind, source, target = sys.argv[1:4]
    width, height, rows = read_xpm(source)
    data = bmp(width, height, rows) if kind == "bmp" else ico(width, height, rows)
    with open(target, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
