#!/usr/bin/env python3
"""Writes velmar's own icons 9000-9014 (icon<N>.ico, each 16 and 32 px) into a folder.

Index = id - 9000: 0 project, 1 printer, 2 volume, 3 folder, 4 file, 5 PCL font,
6 TrueType font, 7 PostScript font, 8 macro, 9 form, 10 colour profile, 11 held job,
12 secure job, 13 flash card, 14 unknown item.
"""
import struct
import sys

K, W = (0, 0, 0), (255, 255, 255)


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


def draw(index):
    img = blank()
    if index == 0:    # project: a ring binder
        frame(img, 4, 4, 28, 28, (40, 110, 200))
        for y in range(8, 26, 6):
            rect(img, 2, y, 8, y + 2, K)
    elif index == 1:  # printer
        frame(img, 2, 12, 30, 26, (190, 190, 190))
        frame(img, 8, 2, 24, 14, W)
        frame(img, 8, 22, 24, 30, W)
        rect(img, 24, 16, 28, 18, (0, 170, 0))
    elif index == 2:  # volume: a drive
        frame(img, 2, 10, 30, 24, (150, 150, 160))
        rect(img, 22, 16, 26, 18, (0, 200, 0))
    elif index == 3:  # folder
        frame(img, 2, 6, 14, 12, (240, 200, 60))
        frame(img, 2, 10, 30, 28, (240, 200, 60))
    elif index == 4:  # file
        page(img, W, (90, 90, 90))
    elif index == 5:  # PCL font: "A" on a page
        frame(img, 4, 2, 28, 30, W)
        letter(img, (200, 0, 0), [(10, 8, 14, 26), (18, 8, 22, 26), (10, 8, 22, 12), (10, 16, 22, 20)])
    elif index == 6:  # TrueType font: "T"
        frame(img, 4, 2, 28, 30, W)
        letter(img, (0, 90, 200), [(8, 8, 24, 12), (14, 8, 18, 26)])
    elif index == 7:  # PostScript font: "P"
        frame(img, 4, 2, 28, 30, W)
        letter(img, (120, 0, 160), [(10, 8, 14, 26), (10, 8, 22, 12), (18, 8, 22, 20), (10, 16, 22, 20)])
    elif index == 8:  # macro: a gear-like block
        frame(img, 8, 8, 24, 24, (230, 120, 0))
        for x0, y0 in ((14, 2), (14, 24), (2, 14), (24, 14)):
            rect(img, x0, y0, x0 + 6, y0 + 6, (230, 120, 0))
    elif index == 9:  # form: a ruled page
        page(img, (255, 255, 200), (0, 120, 0))
    elif index == 10:  # colour profile: three bars
        rect(img, 4, 4, 12, 28, (220, 0, 0))
        rect(img, 12, 4, 20, 28, (0, 180, 0))
        rect(img, 20, 4, 28, 28, (0, 0, 220))
    elif index == 11:  # held job: a page with a clock face
        page(img, W, (90, 90, 90))
        frame(img, 14, 16, 30, 30, (255, 230, 0))
    elif index == 12:  # secure job: a padlock
        frame(img, 10, 4, 22, 16, W)
        frame(img, 6, 14, 26, 30, (200, 160, 0))
    elif index == 13:  # flash card
        frame(img, 6, 2, 26, 30, (60, 60, 60))
        for x in range(9, 24, 4):
            rect(img, x, 4, x + 2, 10, (230, 190, 40))
    else:             # unknown item: "?"
        frame(img, 4, 4, 28, 28, (180, 180, 180))
        letter(img, K, [(10, 8, 22, 12), (18, 8, 22, 18), (14, 16, 18, 20), (14, 22, 18, 26)])
    return img


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
        with open(f'{folder}/icon{9000 + index}.ico', 'wb') as f:
            f.write(ico(draw(index)))


if __name__ == '__main__':
    main()
