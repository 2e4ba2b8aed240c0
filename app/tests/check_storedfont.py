#!/usr/bin/python3
"""Checks the soft-font download streams that velmar_font_tests wrote (<case>.stream) on
their own terms: the PJL framing, then the stored font: magic, n = its size, count =
table entries, the table sorted by code, each entry naming a block of 12 + ((w+7)/8) x h
bytes inside the font, the blocks filling it, and the header against the .sfp's descriptor.

usage: check_storedfont.py <generator folder> <stream folder>
"""
import os
import re
import struct
import sys

UEL = b"\x1b%-12345X"
LINES = re.compile(rb'@PJL QUVWILDFSDELETE NAME="([^"]*)"\r\n'
                   rb'@PJL FSDOWNLOAD FORMAT:BINARY SIZE=(\d+) NAME="([^"]*)"\r\n')
failures = []


def fail(case, text):
    failures.append(f"{case}: {text}")


def descriptor_of(sfp):
    at = sfp.find(b"\x1b)s")
    m = re.match(rb"\x1b\)s(\d+)W", sfp[at:])
    size = int(m.group(1))
    return sfp[at + m.end():at + m.end() + size]


def check_header(case, h, d, count, n):
    own = len(d) >= 68 and struct.unpack(">H", d[:2])[0] == 68
    expect = {
        0: (b"\0\0\0\xf0", h[0:4]), 4: (struct.pack(">I", n), h[4:8]),
        10: (b"\0\x30", h[10:12]), 16: (b"\xf0", h[16:17]), 17: (d[12:13], h[17:18]),
        18: (d[14:16], h[18:20]), 20: (d[6:12], h[20:26]), 26: (d[24:25], h[26:27]),
        27: (d[13:14], h[27:28]), 28: (d[16:22], h[28:34]), 34: (bytes([d[4], d[23]]), h[34:36]),
        36: (bytes([d[26], d[25]]), h[36:38]), 38: (d[27:31], h[38:42]), 42: (d[36:40], h[42:46]),
        46: (struct.pack(">H", count), h[46:48]), 48: (d[40:42], h[48:50]), 50: (d[42:44], h[50:52]),
        52: (d[31:32], h[52:53]),
        54: (d[64:68] if own else struct.pack(">HH", 300, 300), h[54:58]), 58: (b"\0\x10", h[58:60]),
    }
    for offset, (want, got) in expect.items():
        if want != got:
            fail(case, f"header byte {offset}: {got.hex()} where the descriptor gives {want.hex()}")
    name = d[48:64].split(b"\0")[0]
    if h[60:76] != (name + b" " * 16)[:16]:
        fail(case, f"font name {h[60:76]!r}")


def check_font(case, font, d):
    if len(font) < 76:
        return fail(case, "shorter than its header")
    n = struct.unpack(">I", font[4:8])[0]
    if n != len(font):
        fail(case, f"n = {n}, the font has {len(font)} bytes")
    count = struct.unpack(">H", font[46:48])[0]
    check_header(case, font[:76], d, count, len(font))
    entries = [struct.unpack(">HHI", font[76 + 8 * i:84 + 8 * i]) for i in range(count)]
    codes = [e[0] for e in entries]
    if codes != sorted(set(codes)) or any(not 1 <= c <= 255 for c in codes):
        fail(case, f"table codes {codes}")
    total = 0
    for code, size, offset in entries:
        if offset < 76 + 8 * count or offset + size > len(font) or size < 12:
            fail(case, f"character {code}: block {offset}+{size} outside the font")
            continue
        w, h = struct.unpack(">HH", font[offset + 6:offset + 10])
        if size != 12 + (w + 7) // 8 * h:
            fail(case, f"character {code}: block of {size} bytes for {w} x {h}")
        total += size
    if 76 + 8 * count + total != len(font):
        fail(case, "the blocks do not fill the font")


def main():
    generated, streams = sys.argv[1], sys.argv[2]
    with open(os.path.join(generated, "cases.txt")) as f:
        cases = f.read().split()
    for case in cases:
        refused = not os.path.exists(os.path.join(generated, case + ".stored"))
        path = os.path.join(streams, case + ".stream")
        if refused:
            if os.path.exists(path):
                fail(case, "a refused font has a stream")
            continue
        if not os.path.exists(path):
            fail(case, "no stream written")
            continue
        with open(path, "rb") as f:
            stream = f.read()
        with open(os.path.join(generated, case + ".sfp"), "rb") as f:
            d = descriptor_of(f.read())
        m = LINES.match(stream, len(UEL))
        if not stream.startswith(UEL) or not m or not stream.endswith(UEL):
            fail(case, "framing")
            continue
        size = int(m.group(2))
        font = stream[m.end():len(stream) - len(UEL)]
        if size != len(font):
            fail(case, f"SIZE={size} for {len(font)} bytes")
        if not m.group(3).endswith(m.group(1).rsplit(b"*", 1)[1]):
            fail(case, "the wild delete does not name the font's ID")
        check_font(case, font, d)
    for line in failures:
        print(line)
    print(f"{len(cases)} soft fonts checked, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
