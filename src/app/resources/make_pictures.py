#!/usr/bin/env python3
"""Draws the program's icon and logo and writes them as XPM (C source).

Run from this directory: ./make_pictures.py. The output is committed; the
script is kept so the pictures can be redrawn.
"""

# A 5x7 pixel font for the letters of the name.
FONT = {
    'K': ["X...X", "X..X.", "X.X..", "XX...", "X.X..", "X..X.", "X...X"],
    'E': ["XXXXX", "X....", "X....", "XXXX.", "X....", "X....", "XXXXX"],
    'L': ["X....", "X....", "X....", "X....", "X....", "X....", "XXXXX"],
    'V': ["X...X", "X...X", "X...X", "X...X", ".X.X.", ".X.X.", "..X.."],
    'O': [".XXX.", "X...X", "X...X", "X...X", "X...X", "X...X", ".XXX."],
    'R': ["XXXX.", "X...X", "X...X", "XXXX.", "X.X..", "X..X.", "X...X"],
}

PALETTE = {
    ' ': 'None',
    'b': '#14325A',  # deep blue
    'B': '#1F5A9E',  # blue
    'c': '#3C8DDC',  # light blue
    'w': '#FFFFFF',
    'o': '#F28C1E',  # orange
    'y': '#FFC247',  # yellow
    'g': '#C8CDD2',  # grey
}


def canvas(w, h, fill=' '):
    return [[fill] * w for _ in range(h)]


def rect(img, x0, y0, x1, y1, c):
    for y in range(max(0, y0), min(len(img), y1)):
        for x in range(max(0, x0), min(len(img[0]), x1)):
            img[y][x] = c


def text(img, x, y, word, scale, c, shadow=None):
    for ch in word:
        glyph = FONT[ch]
        for gy, row in enumerate(glyph):
            for gx, px in enumerate(row):
                if px == 'X':
                    if shadow:
                        rect(img, x + gx * scale + 1, y + gy * scale + 1,
                             x + (gx + 1) * scale + 1, y + (gy + 1) * scale + 1, shadow)
        for gy, row in enumerate(glyph):
            for gx, px in enumerate(row):
                if px == 'X':
                    rect(img, x + gx * scale, y + gy * scale,
                         x + (gx + 1) * scale, y + (gy + 1) * scale, c)
        x += 6 * scale


def arrow(img, x0, y0, length, half, c):
    """A right-pointing arrow: a bar and a triangular head."""
    rect(img, x0, y0 - half // 2, x0 + length - half, y0 + half // 2 + 1, c)
    for i in range(half + 1):
        rect(img, x0 + length - half + i, y0 - (half - i), x0 + length - half + i + 1,
             y0 + (half - i) + 1, c)


def icon():
    img = canvas(32, 32)
    rect(img, 1, 1, 31, 31, 'b')
    for (x, y) in [(1, 1), (30, 1), (1, 30), (30, 30)]:  # round the corners
        img[y][x] = ' '
    rect(img, 2, 2, 30, 4, 'B')
    # Film strip along the top and bottom edges.
    for x in range(3, 29, 4):
        rect(img, x, 4, x + 2, 6, 'g')
        rect(img, x, 26, x + 2, 28, 'g')
    text(img, 4, 9, 'K', 2, 'w')
    arrow(img, 16, 16, 13, 5, 'o')
    return img


def logo():
    w, h = 126, 56
    img = canvas(w, h)
    rect(img, 0, 0, w, h, 'b')
    rect(img, 0, 0, w, 3, 'B')
    rect(img, 0, h - 3, w, h, 'B')
    text(img, 6, 6, 'KELVOR', 3, 'w', shadow='c')
    # A stream of packets flowing into an arrow: the conversion.
    for i, x in enumerate(range(6, 78, 9)):
        rect(img, x, 36, x + 7, 46, 'y' if i % 3 == 0 else 'c')
    arrow(img, 82, 41, 38, 7, 'o')
    return img


def write_xpm(path, name, img):
    used = sorted({c for row in img for c in row})
    lines = [f'"{len(img[0])} {len(img)} {len(used)} 1"']
    lines += [f'"{c} c {PALETTE[c]}"' for c in used]
    lines += ['"' + ''.join(row) + '"' for row in img]
    with open(path, 'w') as f:
        f.write('/* XPM */\n')
        f.write('// Drawn by make_pictures.py; edit the script, not this file.\n')
        f.write(f'static const char* const {name}[] = {{\n')
        f.write(',\n'.join(lines))
        f.write('};\n')


if __name__ == '__main__':
    write_xpm('kelvor_icon.xpm', 'kelvor_icon_xpm', icon())
    write_xpm('kelvor_logo.xpm', 'kelvor_logo_xpm', logo())
