#!/usr/bin/env python3
"""Writes velmar's own icons 9000-9014 (icon<N>.ico, each 16 and 32 px) into a folder.

Index = id - 9000, the image index that the tree, the lists and the printer bar use: the
storage-tree node kind (1 printer, 2 disk, 3 flash or network-card store, 4 PJL volume,
5 common volume, 6 PostScript volume, 7 directory, 10 file) or the project row kind
(8 bitmapped PCL font, 9 TrueType font, 10 demo page or PCL macro, 11 PostScript font,
12 PostScript form, 13 colour profile). Index 10 is a page, for files and macros alike.
0 (a project) and 14 (an unknown item) belong to no kind.

Each picture has a colour of its own (SIGNATURE), the commonest colour of both sizes other
than the black outlines and white paper; the icon test tells the kinds apart by it.
"""
import struct
import sys

K, W = (0, 0, 0), (255, 255, 255)

SIGNATURE = {
    0: (40, 110, 200),    # project: a blue ring binder
    1: (190, 190, 190),   # printer: a grey printer
    2: (90, 100, 120),    # disk: a slate drive
    3: (60, 60, 60),      # flash or network-card store: a dark card with gold contacts
    4: (0, 150, 150),     # PJL volume: a teal partition
    5: (110, 160, 60),    # common volume: a green partition
    6: (170, 60, 170),    # PostScript volume: a magenta partition
    7: (240, 200, 60),    # directory: a yellow folder
    8: (200, 0, 0),       # bitmapped PCL font: a red "A" on a page
    9: (0, 90, 200),      # TrueType font: a blue "T" on a page
    10: (150, 150, 150),  # file, demo page or macro: a page with grey lines
    11: (120, 0, 160),    # PostScript font: a purple "P" on a page
    12: (255, 255, 200),  # PostScript form: a cream ruled form
    13: (220, 0, 0),      # colour profile: red, green and blue bars, red widest
    14: (210, 210, 230),  # unknown item: a "?" on a pale tile
}


def blank():
    return [[None] * 32 for _ in range(32)]


def rect(img, x0, y0, x1, y1, colour):
    for y in range(max(0, y0), min(32, y1)):
        for x in range(max(0, x0), min(32, x1)):
            img[y][x] = colour


def frame(img, x0, y0, x1, y1, fill, edge=K):
    rect(img, x0, y0, x1, y1, edge)
    rect(img, x0 + 2, y0 + 2, x1 - 2, y1 - 2, fill)


def page(img, fill, mark):
    frame(img, 6, 2, 26, 30, fill)
    rect(img, 20, 2, 26, 8, W)
    for row in range(10, 26, 4):
        rect(img, 10, row, 22, row + 2, mark)


def letter(img, colour, strokes):
    for x0, y0, x1, y1 in strokes:
        rect(img, x0, y0, x1, y1, colour)


def volume(img, colour):
    """A partition: a slice of a drive with a white label."""
    frame(img, 2, 6, 30, 26, colour)
    rect(img, 6, 10, 18, 14, W)
    rect(img, 22, 18, 26, 22, K)


def font_page(img, colour, strokes):
    frame(img, 4, 2, 28, 30, W)
    letter(img, colour, strokes)


def draw(index):
    img = blank()
    c = SIGNATURE[index]
    if index == 0:    # project: a ring binder
        frame(img, 4, 4, 28, 28, c)
        for y in range(8, 26, 6):
            rect(img, 2, y, 8, y + 2, K)
    elif index == 1:  # printer
        frame(img, 2, 12, 30, 26, c)
        frame(img, 8, 2, 24, 14, W)
        frame(img, 8, 22, 24, 30, W)
        rect(img, 24, 16, 28, 18, (0, 170, 0))
    elif index == 2:  # disk: a drive
        frame(img, 2, 8, 30, 26, c)
        rect(img, 6, 18, 20, 20, K)
        rect(img, 22, 18, 26, 22, (0, 200, 0))
    elif index == 3:  # flash or network-card store: a card
        frame(img, 6, 2, 26, 30, c)
        for x in range(9, 24, 4):
            rect(img, x, 4, x + 2, 10, (230, 190, 40))
    elif index in (4, 5, 6):  # volumes
        volume(img, c)
    elif index == 7:  # directory: a folder
        frame(img, 2, 6, 14, 12, c)
        frame(img, 2, 10, 30, 28, c)
    elif index == 8:  # bitmapped PCL font: "A"
        font_page(img, c, [(10, 8, 14, 26), (18, 8, 22, 26), (10, 8, 22, 12), (10, 16, 22, 20)])
    elif index == 9:  # TrueType font: "T"
        font_page(img, c, [(8, 8, 24, 12), (14, 8, 18, 26)])
    elif index == 10:  # file, demo page or macro: a page
        page(img, W, c)
    elif index == 11:  # PostScript font: "P"
        font_page(img, c, [(10, 8, 14, 26), (10, 8, 22, 12), (18, 8, 22, 20), (10, 16, 22, 20)])
    elif index == 12:  # PostScript form: a ruled form
        page(img, c, (0, 120, 0))
    elif index == 13:  # colour profile: three bars
        rect(img, 2, 4, 14, 28, c)
        rect(img, 14, 4, 22, 28, (0, 180, 0))
        rect(img, 22, 4, 30, 28, (0, 0, 220))
    else:             # unknown item: "?"
        frame(img, 4, 4, 28, 28, c)
        letter(img, K, [(10, 8, 22, 12), (18, 8, 22, 18), (14, 16, 18, 20), (14, 22, 18, 26)])
    return img


def dominant(pixels):
    """The commonest colour other than transparency, black and white."""
    counts = {}
    for row in pixels:
        for p in row:
            if p is not None and p not in (K, W):
                counts[p] = counts.get(p, 0) + 1
    return max(counts, key=counts.get)


def scale(img, size):
    step = 32 // size
    return [[img[y * step][x * step] for x in range(size)] for y in range(size)]


def dib(pixels):
    size = len(pixels)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    for y in reversed(range(size)):
        for x in range(size):
            p = pixels[y][x]
            colour += bytes((p[2], p[1], p[0], 255)) if p else b'\0\0\0\0'
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in reversed(range(size)):
        row = bytearray(stride)
        for x in range(size):
            if pixels[y][x] is None:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += row
    return header + bytes(colour) + bytes(mask)


def ico(img):
    images = [dib(scale(img, s)) for s in (16, 32)]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, data in zip((16, 32), images):
        out += struct.pack('<BBBBHHII', s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b''.join(images)


def main():
    folder = sys.argv[1]
    for index in range(15):
        img = draw(index)
        for size in (16, 32):
            got = dominant(scale(img, size))
            if got != SIGNATURE[index]:
                sys.exit(f'gen_icons: icon {9000 + index} at {size} px shows {got}, '
                         f'not its colour {SIGNATURE[index]}')
        with open(f'{folder}/icon{9000 + index}.ico', 'wb') as f:
            f.write(ico(img))


if __name__ == '__main__':
    main()
