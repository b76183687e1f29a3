#!/usr/bin/env python3
"""Writes the program's icon as PNG files for the desktop menu.

Usage: icon_png.py ICON.xpm OUT_DIR SIZE...
Reads the XPM the program itself shows (so the menu icon cannot differ from
the window's) and writes OUT_DIR/SIZE/kelvor.png, scaled by whole pixels.
"""
import os
import re
import struct
import sys
import zlib


def read_xpm(path):
    rows = re.findall(r'"([^"]*)"', open(path).read())
    width, height, ncolors, cpp = map(int, rows[0].split()[:4])
    palette = {}
    for line in rows[1:1 + ncolors]:
        key, value = line[:cpp], line[cpp:].split()[-1]
        palette[key] = (0, 0, 0, 0) if value == 'None' else \
            tuple(int(value[i:i + 2], 16) for i in (1, 3, 5)) + (255,)
    pixels = [[palette[row[x * cpp:(x + 1) * cpp]] for x in range(width)]
              for row in rows[1 + ncolors:1 + ncolors + height]]
    return width, height, pixels


def chunk(kind, data):
    body = kind + data
    return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body))


def write_png(path, width, height, pixels, scale):
    raw = b''
    for row in pixels:
        line = b''.join(bytes(px) * scale for px in row)
        raw += (b'\0' + line) * scale
    with open(path, 'wb') as f:
        f.write(b'\x89PNG\r\n\x1a\n')
        f.write(chunk(b'IHDR', struct.pack('>IIBBBBB', width * scale, height * scale, 8, 6, 0, 0, 0)))
        f.write(chunk(b'IDAT', zlib.compress(raw, 9)))
        f.write(chunk(b'IEND', b''))


def main():
    xpm, out_dir, sizes = sys.argv[1], sys.argv[2], [int(s) for s in sys.argv[3:]]
    width, height, pixels = read_xpm(xpm)
    for size in sizes:
        if size % width:
            sys.exit(f'icon_png.py: {size} is not a multiple of {width}')
        os.makedirs(os.path.join(out_dir, str(size)), exist_ok=True)
        write_png(os.path.join(out_dir, str(size), 'kelvor.png'), width, height, pixels, size // width)


if __name__ == '__main__':
    main()
