#!/usr/bin/python3
"""Makes small TrueType fonts with fontTools and computes, on its own, the 112-byte
stored-font header each must get (<case>.hdr), for the DejaVu fonts too. cases.txt holds a
line per case: name, font path ('/' separated; relative to the folder or absolute),
1 when the font must be refused, and the symbol-set row.

The header takes typeface number 3000 where a font has no PCLT table.

usage: make_ttfonts.py <folder>
"""
import os
import struct
import sys

from fontTools.fontBuilder import FontBuilder
from fontTools.pens.ttGlyphPen import TTGlyphPen
from fontTools.ttLib import TTFont, newTable
from fontTools.ttLib.tables.DefaultTable import DefaultTable
from fontTools.ttLib.tables.O_S_2f_2 import Panose
from fontTools.ttLib.tables._c_m_a_p import cmap_format_4

DEJAVU = "/usr/share/fonts/truetype/dejavu/"
TYPEFACE = 3000


def box(y0, y1):
    pen = TTGlyphPen(None)
    if y1 > y0:
        pen.moveTo((50, y0))
        pen.lineTo((50, y1))
        pen.lineTo((400, y1))
        pen.lineTo((400, y0))
        pen.closePath()
    return pen.glyph()


def pclt(symbol_set, size=54):
    data = bytearray(54)
    struct.pack_into(">IIHHHHHHH", data, 0, 0x10000, 0x12345678, 0x0258, 0x1111, 0x0002, 0x1004,
                     0x2222, symbol_set, 0)
    data[20:36] = b"PcltFace        "
    data[36:44] = bytes(range(1, 9))
    data[50], data[52] = 0xFE, 0x80
    table = DefaultTable("PCLT")
    table.data = bytes(data[:size])
    return table


def make(path, codes=None, bound=False, advances=None, italic=0, proportion=3, serif=11,
         empty_x=False, names=None, pclt_table=None, drop=None):
    order = [".notdef", "x", "H", "space", "A"]
    fb = FontBuilder(2048, isTTF=True)
    fb.setupGlyphOrder(order)
    mapping = {32: "space", 72: "H", 120: "x"}
    for code in codes or []:
        mapping.setdefault(code, "A")
    fb.setupCharacterMap(mapping)
    fb.setupGlyf({".notdef": box(0, 700), "x": box(0, 0) if empty_x else box(0, 1000),
                  "H": box(-10, 1400), "space": box(0, 0), "A": box(0, 1400)})
    advances = advances or {".notdef": 500, "x": 1100, "H": 1300, "space": 520, "A": 1200}
    fb.setupHorizontalMetrics({g: (advances[g], 0) for g in order})
    fb.setupHorizontalHeader(ascent=1600, descent=-400)
    fb.setupNameTable(names if names is not None else
                      {"familyName": "Tiny", "styleName": "Regular", "fullName": "Tiny Regular",
                       "psName": "Tiny-Regular"})
    panose = Panose()
    for field in ("bFamilyType", "bWeight", "bContrast", "bStrokeVariation", "bArmStyle",
                  "bLetterForm", "bMidline", "bXHeight"):
        setattr(panose, field, 0)
    panose.bSerifStyle, panose.bProportion = serif, proportion
    fb.setupOS2(sTypoAscender=1600, usWinAscent=1600, usWinDescent=400, panose=panose)
    fb.setupPost(italicAngle=italic, underlinePosition=-150, underlineThickness=100)
    if bound:
        sub = cmap_format_4(4)
        sub.platformID, sub.platEncID, sub.language = 3, 0, 0
        sub.cmap = dict(mapping)
        fb.font["cmap"].tables = [sub]
    if pclt_table is not None:
        fb.font["PCLT"] = pclt_table
    for tag in drop or []:
        del fb.font[tag]
    fb.save(path)


def tables_of(raw):
    count = struct.unpack(">H", raw[4:6])[0]
    out = {}
    for i in range(count):
        tag, _, offset, length = struct.unpack(">4sIII", raw[12 + 16 * i:28 + 16 * i])
        out[tag.decode("latin-1")] = raw[offset:offset + length]
    return out


def format4(cmap):
    """(bound, segments, subtable) of the raw cmap: the (3,1) subtable, else the last
    platform-3 one."""
    records = [struct.unpack(">HHI", cmap[4 + 8 * i:12 + 8 * i])
               for i in range(struct.unpack(">H", cmap[2:4])[0])]
    bound = not any(p == 3 and e == 1 for p, e, _ in records)
    chosen = None
    for p, e, offset in records:
        if p == 3:
            chosen = offset
            if e == 1:
                break
    if chosen is None or struct.unpack(">H", cmap[chosen:chosen + 2])[0] != 4:
        return bound, [], b""
    sub = cmap[chosen:chosen + struct.unpack(">H", cmap[chosen + 2:chosen + 4])[0]]
    n = struct.unpack(">H", sub[6:8])[0] // 2
    arrays = [struct.unpack(">%dH" % n, sub[at:at + 2 * n]) for at in (14, 16 + 2 * n, 16 + 4 * n, 16 + 6 * n)]
    return bound, list(zip(*arrays)), sub


def glyph_of(segments, sub, code):
    n = len(segments)
    for i, (end, start, delta, range_offset) in enumerate(segments):
        if end >= code:
            if code < start:
                return 0
            if range_offset == 0:
                return (code + delta) & 0xFFFF
            at = 16 + 6 * n + 2 * i + range_offset + 2 * (code - start)
            if at + 2 > len(sub):
                return 0
            g = struct.unpack(">H", sub[at:at + 2])[0]
            return 0 if g == 0 else (g + delta) & 0xFFFF
    return 0


def name_of(font, name_id):
    chosen = None
    for rec in font["name"].names:
        if rec.platformID == 3 and rec.nameID == name_id:
            chosen = rec
            if rec.platEncID == 1:
                break
    return b"" if chosen is None else bytes(chosen.string[1::2][:259])


def header(path):
    raw = open(path, "rb").read()
    t = tables_of(raw)
    font = TTFont(path)
    bound, segments, sub = format4(t.get("cmap", b"\0\0\0\0"))
    count = 0
    for end, start, _, _ in segments:
        if end == 0xFFFF:
            break
        count += abs(end - start) + 1
    order = font.getGlyphOrder()

    def height(code):
        g = glyph_of(segments, sub, code)
        if g >= len(order):
            return 0
        glyph = font["glyf"][order[g]]
        return (glyph.yMax - glyph.yMin) & 0xFFFF if glyph.numberOfContours else 0

    space = glyph_of(segments, sub, 32)
    head, post, os2 = font["head"], font["post"], font["OS/2"]
    p = t.get("PCLT", b"")
    has_pclt = len(p) >= 54
    kind = 0xF4 if bound else 0xF3
    if not bound:
        font_type = 11
    elif os2.usLastCharIndex <= 127:
        font_type = 0
    else:
        font_type = 1 if count < 193 else 2
    if has_pclt:
        style, serif = struct.unpack(">H", p[12:14])[0], p[52]
    else:
        style = (1 if post.italicAngle else 0) + {5: 24, 6: 4, 7: 28, 8: 8}.get(os2.panose.bProportion, 0)
        s = os2.panose.bSerifStyle
        serif = 0 if s >= 16 else {2: 132, 3: 132, 7: 130, 8: 65, 15: 65, 9: 75, 10: 131, 14: 72}.get(s, 64)
    complement = p[36:44] if has_pclt else b"\xff\xff\xff\xff\0\0\0\x06"
    name = p[20:36] if has_pclt else (name_of(font, 4)[:16] + b"\0" + b" " * 16)[:16]
    h = struct.pack(">IIHHBBHBBHHHHBBHHHHHBBHIHHH", kind, 112 + len(raw), 0, 0x40, 0, font_type, 0, kind, 0,
                    struct.unpack(">H", p[18:20])[0] if has_pclt else 0, 0,
                    (head.xMax - head.xMin) & 0xFFFF, (head.yMax - head.yMin) & 0xFFFF,
                    p[50] if has_pclt else 0, 0 if post.isFixedPitch else 1,
                    struct.unpack(">H", p[8:10])[0] if has_pclt else font["hmtx"][order[space]][0],
                    0, struct.unpack(">H", p[10:12])[0] if has_pclt else height(120), style,
                    struct.unpack(">H", p[14:16])[0] if has_pclt else TYPEFACE, serif, 2, 0, 0,
                    min(count, 0xFFFF), 0, struct.unpack(">H", p[16:18])[0] if has_pclt else height(72))
    h += b"\0" * 6 + complement
    h += struct.pack(">hhHBBH", post.underlinePosition, post.underlineThickness, head.unitsPerEm, 1, 0, 0x10)
    h += name + b"CC" + struct.pack(">I", 8) + complement + b"\xff\xff" + b"\0" * 4
    assert len(h) == 112, len(h)
    return h


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    lines = []

    def case(name, refused=False, row="", **kw):
        path = os.path.join(folder, name + ".ttf")
        make(path, **kw)
        lines.append(f"{name}\t{name}.ttf\t{1 if refused else 0}\t{row}")
        return path

    case("unbound", row=" unbound")
    case("bound_last126", bound=True, codes=range(33, 127), row=" bound")
    case("bound_255_250", bound=True, codes=range(6, 256), row=" bound")
    case("bound_255_100", bound=True, codes=range(156, 256), row=" bound")
    case("pclt_277", bound=True, codes=range(33, 127), pclt_table=pclt(277), row="277 (8U) bound")
    case("pclt_277_unbound", pclt_table=pclt(277), row=" unbound")
    case("pclt_40", bound=True, pclt_table=pclt(277, 40), row=" bound")
    case("italic_proportion7", italic=-12, proportion=7, row=" unbound")
    for serif in (0, 2, 7, 8, 9, 10, 14, 15, 16):
        case(f"serif_{serif}", serif=serif, row=" unbound")
    case("space_past_metrics", row=" unbound",
         advances={".notdef": 500, "x": 600, "H": 600, "space": 600, "A": 600})
    case("empty_x", empty_x=True, row=" unbound")
    case("no_name4", names={"familyName": "Tiny", "styleName": "Regular"}, row=" unbound")
    case("copyright_700", names={"copyright": "c" * 700, "familyName": "Tiny", "styleName": "Regular"},
         row=" unbound")
    case("refused_no_post", refused=True, drop=["post"], row=" unbound")
    case("refused_no_loca", refused=True, drop=["loca"], row=" unbound")
    whole = case("refused_truncated", refused=True)
    raw = open(whole, "rb").read()[:-20]
    open(whole, "wb").write(raw)
    # Cut short, the font shows what is left: its cmap when that still lies inside.
    cmap = [i for i in range(struct.unpack(">H", raw[4:6])[0]) if raw[12 + 16 * i:16 + 16 * i] == b"cmap"]
    offset, length = struct.unpack(">II", raw[20 + 16 * cmap[0]:28 + 16 * cmap[0]])
    lines[-1] += " unbound" if offset + length <= len(raw) else " bound"
    past = case("refused_table_past_end", refused=True, row=" unbound")
    raw = bytearray(open(past, "rb").read())
    count = struct.unpack(">H", raw[4:6])[0]
    for i in range(count):
        if raw[12 + 16 * i:16 + 16 * i] == b"head":
            struct.pack_into(">I", raw, 12 + 16 * i + 8, len(raw) - 20)
    open(past, "wb").write(bytes(raw))

    for file in ("DejaVuSans.ttf", "DejaVuSansMono.ttf", "DejaVuSerif.ttf"):
        lines.append(f"{file[:-4]}\t{DEJAVU}{file}\t0\t unbound")
    for line in lines:
        name, path, refused, _ = line.split("\t")
        hdr = os.path.join(folder, name + ".hdr")
        if refused == "1":
            if os.path.exists(hdr):
                os.remove(hdr)
            continue
        with open(hdr, "wb") as f:
            f.write(header(path if path.startswith("/") else os.path.join(folder, path)))
    with open(os.path.join(folder, "cases.txt"), "w") as f:
        f.write("".join(line + "\n" for line in lines))


if __name__ == "__main__":
    main()
