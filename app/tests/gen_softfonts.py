#!/usr/bin/python3
"""Writes PCL bitmapped soft fonts (<case>.sfp) from descriptions and, from the same
descriptions (not from the .sfp), the stored font each must become (<case>.stored), or no
.stored file when the font is refused. cases.txt lists the case names, one a line.

A character is described by its pixels; its faults say how the file spells it wrongly and
so whether it is kept (clipped) or left out.

usage: gen_softfonts.py <folder>
"""
import os
import struct
import sys

ESC = b"\x1b"


def descriptor(size=64, fmt=0, font_type=1, spacing=1, symbol_set=277, pitch=120, height=200,
               style=0x0102, stroke=-3, typeface=3, name=b"Courier", pad=b"\0", res=(600, 600),
               declared=None, **_):
    d = bytearray(max(size, 68))
    struct.pack_into(">HBB", d, 0, size, fmt, font_type)
    d[4] = style >> 8
    struct.pack_into(">HHHBB", d, 6, 40, 30, 50, 0, spacing)
    struct.pack_into(">HHHH", d, 14, symbol_set, pitch, height, 28)
    d[23] = style & 0xFF
    d[24] = stroke & 0xFF
    d[25], d[26] = typeface & 0xFF, typeface >> 8
    d[27], d[28], d[29], d[30], d[31] = 64, 2, 0, 0xFB, 3
    struct.pack_into(">HH", d, 36, 32, 127)
    struct.pack_into(">H", d, 42, 36)
    d[48:64] = (name[:16] + pad * 16)[:16]
    struct.pack_into(">HH", d, 64, *res)
    d = bytes(d[:size])
    return b"\x1b)s%dW" % (size if declared is None else declared) + d, d


def pack_rows(pixels, width):
    out = bytearray()
    for row in pixels:
        bits = bytearray((width + 7) // 8)
        for x, c in enumerate(row[:width]):
            if c == "#":
                bits[x // 8] |= 0x80 >> (x % 8)
        out += bits
    return bytes(out)


def runs_of(row, width):
    runs, x, black = [], 0, False
    while x < width:
        n = 0
        while x + n < width and (row[x + n] == "#") == black and n < 255:
            n += 1
        runs.append(n)
        x += n
        black = not black
        if n == 255 and x < width:  # a long run continues after an empty opposite run
            runs.append(0)
            black = not black
    return runs


def compress(pixels, width, faults):
    out, y = bytearray(), 0
    while y < len(pixels):
        repeat = 0
        while y + repeat + 1 < len(pixels) and pixels[y + repeat + 1] == pixels[y] and repeat < 255:
            repeat += 1
        runs = runs_of(pixels[y], width)
        last = y + repeat + 1 == len(pixels)
        if last and "runs_past" in faults:
            runs[-1] += 40  # the last run passes the width
        if last and "repeat_past" in faults:
            repeat += 3  # repeats past the height
        out.append(repeat)
        out += bytes(runs)
        y += repeat + 1
    if "early" in faults:
        out = out[:len(out) - 1]
    return bytes(out)


def character(ch):
    """The escapes of one character, and its block when it is kept (None: left out,
    "end": the walk ends here)."""
    code, cls, pixels = ch["code"], ch.get("cls", 1), ch["pixels"]
    faults = ch.get("faults", ())
    width = ch.get("width", len(pixels[0]) if pixels else 0)
    height = len(pixels)
    desc = bytearray(16)
    desc[0], desc[2], desc[3] = 4, 14, cls
    struct.pack_into(">hhHHh", desc, 6, 1, height, width, height, 4 * width)
    raster = pack_rows(pixels, width)
    data = raster if cls == 1 else compress(pixels, width, faults)
    if "short" in faults:
        data = data[:-1]
    if "long" in faults:
        data += b"\x99\x99"
    payload = bytes(desc) + data
    size = len(payload)
    if "size10" in faults:
        size = 10
    if "negative" in faults:
        size = -5
    text = (b"" if "no_code" in faults else ESC + b"*c%dE" % code) + ESC + b"(s%dW" % size + payload
    if "negative" in faults:
        return text, "end"
    left_out = (not 1 <= code <= 255 or "no_code" in faults or cls not in (1, 2) or width > 2080
                or faults and set(faults) & {"short", "size10", "early"})
    if left_out:
        return text, None
    block = struct.pack(">H", 0) + bytes(desc[6:16]) + raster
    return text, block


def stored_font(d, kept):
    count = len(kept)
    n = 76 + 8 * count + sum(len(b) for _, b in kept)
    own = len(d) >= 68 and struct.unpack(">H", d[0:2])[0] == 68
    xres, yres = struct.unpack(">HH", d[64:68]) if own else (300, 300)
    type_code = {0: 0, 1: 1, 3: 4, 10: 10, 11: 11}.get(d[3], 2)
    name = d[48:64].split(b"\0")[0]
    h = struct.pack(">IIHHBBHBB", 0xF0, n, 0, 0x30, 0, type_code, 0, 0xF0, d[12])
    h += d[14:16] + d[6:12] + bytes([d[24], d[13]]) + d[16:22] + bytes([d[4], d[23], d[26], d[25]])
    h += d[27:31] + d[36:40] + struct.pack(">H", count) + bytes([d[40], d[41]]) + d[42:44]
    h += bytes([d[31], 0]) + struct.pack(">HHH", xres, yres, 0x10) + (name + b" " * 16)[:16]
    assert len(h) == 76
    table, blocks, offsets, at = b"", b"", {}, 76 + 8 * count
    for code, block in kept:
        offsets[code] = at
        at += len(block)
        blocks += block
    for code, block in sorted(kept):
        table += struct.pack(">HHI", code, len(block), offsets[code])
    return h + table + blocks


A = ["#..##..#", ".##..##."]
B = ["####....", "....####"]
C = ["#.#.#.#.", ".#.#.#.#"]
WIDE = ["....######..", "....######.."]

CASES = {
    "d64": ({}, [{"code": 65, "pixels": A}]),
    "d68": ({"size": 68}, [{"code": 65, "pixels": A}]),
    "d68_format20": ({"size": 68, "fmt": 20, "res": (1200, 600)}, [{"code": 65, "pixels": A}]),
    "name_blank_padded": ({"pad": b" "}, [{"code": 65, "pixels": A}]),
    "pitch0": ({"pitch": 0}, [{"code": 65, "pixels": A}]),
    "name_16": ({"name": b"ABCDEFGHIJKLMNOP"}, [{"code": 65, "pixels": A}]),
    "class1_and_2": ({}, [{"code": 65, "pixels": A}, {"code": 66, "cls": 2, "pixels": WIDE}]),
    "repeat2": ({}, [{"code": 65, "cls": 2, "pixels": ["..###...", "..###...", "..###..."]}]),
    "runs_across_bytes": ({}, [{"code": 65, "cls": 2, "pixels": ["......####..", "##########.."]}]),
    "order_65_33": ({}, [{"code": 65, "pixels": A}, {"code": 33, "pixels": B}]),
    "code65_twice": ({}, [{"code": 65, "pixels": A}, {"code": 66, "pixels": C}, {"code": 65, "pixels": B}]),
    "codes_0_300_minus1": ({}, [{"code": 0, "pixels": A}, {"code": 300, "pixels": A},
                                {"code": -1, "pixels": A}, {"code": 66, "pixels": B}]),
    "class1_size10": ({}, [{"code": 65, "pixels": A, "faults": ["size10"]}, {"code": 66, "pixels": B}]),
    "short_raster": ({}, [{"code": 65, "pixels": A, "faults": ["short"]}, {"code": 66, "pixels": B}]),
    "long_raster": ({}, [{"code": 65, "pixels": A, "faults": ["long"]}, {"code": 66, "pixels": B}]),
    "width_2081": ({}, [{"code": 65, "cls": 2, "pixels": ["." * 2081]}, {"code": 66, "pixels": B}]),
    "runs_past_width": ({}, [{"code": 65, "cls": 2, "pixels": ["..######"], "faults": ["runs_past"]}]),
    "repeats_past_height": ({}, [{"code": 65, "cls": 2, "pixels": WIDE, "faults": ["repeat_past"]}]),
    "early_end": ({}, [{"code": 65, "cls": 2, "pixels": C, "faults": ["early"]}, {"code": 66, "pixels": B}]),
    "negative_size": ({}, [{"code": 65, "pixels": A}, {"code": 66, "pixels": B, "faults": ["negative"]},
                           {"code": 67, "pixels": C}]),
    "continued_without_code": ({}, [{"code": 65, "pixels": A}, {"code": 0, "pixels": C, "faults": ["no_code"]},
                                    {"code": 66, "pixels": B}]),
    "class3": ({}, [{"code": 65, "cls": 3, "pixels": A}, {"code": 66, "pixels": B}]),
    "framed": ({"before": ESC + b"E" + ESC + b"*c5D", "after": ESC + b"*c5F"}, [{"code": 65, "pixels": A}]),
    "header_only": ({}, []),
    "payload40": ({"size": 40}, None),
}


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for case, (desc_args, chars) in CASES.items():
        head, d = descriptor(**desc_args)
        sfp = desc_args.get("before", b"") + head
        kept, ended = [], False
        for ch in chars or []:
            text, block = character(ch)
            sfp += text  # characters after a walk-ending one are in the file, not the font
            if ended or block is None:
                continue
            if block == "end":
                ended = True
                continue
            kept = [(c, b) for c, b in kept if c != ch["code"]] + [(ch["code"], block)]
        sfp += desc_args.get("after", b"")
        with open(os.path.join(folder, case + ".sfp"), "wb") as f:
            f.write(sfp)
        stored = os.path.join(folder, case + ".stored")
        if chars is None or len(d) < 64:
            if os.path.exists(stored):
                os.remove(stored)
        else:
            with open(stored, "wb") as f:
                f.write(stored_font(d, kept))
    with open(os.path.join(folder, "cases.txt"), "w") as f:
        f.write("".join(case + "\n" for case in CASES))


if __name__ == "__main__":
    main()
