#!/usr/bin/env python3
"""Writes gorwin.rc, the typeface module: typeface-name strings, symbol-set names and
suffixes, and the six character-translation tables (resource type 257).

    gen_gorwin.py --write FILE    write the resource script
    gen_gorwin.py --check FILE    fail unless FILE equals what --write would produce

Only the standard library is used. Every rule that fixes a value is checked here, so a
change that breaks one stops the generator with a message instead of writing a wrong module.
"""
import sys
import unicodedata

# Typeface string ids present (1000 + typeface number), as inclusive ranges.
TYPEFACE_RANGES = [
    (1000, 1027), (1029, 1085), (1087, 1087), (1089, 1094), (1097, 1097), (1101, 1127),
    (1136, 1139), (1152, 1254), (1256, 1353), (1357, 1514), (1516, 1563), (1565, 1682),
    (1684, 1686), (1693, 1693), (1699, 1699), (1701, 1701), (1704, 1704), (1706, 1706),
    (1708, 1708), (1712, 1713), (1719, 1719), (1725, 1725), (1930, 1930), (2030, 2030),
    (3730, 3730),
]
TYPEFACE_TOTAL = 665

# Texts stored as they stand.
FIXED_TYPEFACES = {
    1000: "M,LinePrinter",
    1003: "M,Courier",
    1004: "W,Helv",
    1005: "R,Tms Rmn",
    1007: "S,Script",
    1701: "D,Solemnis",
    3730: "D,Wingdings",
    1049: "0,HP-GL Drafting",
    1050: "0,HP-GL Spline",
    1256: "0,Bar Codes",
    1360: "0,MICR",
    1493: "Kai Medium",
    1675: "Uncle Sam",
}

# Names carried by each family letter, fixed rows included.
FAMILY_COUNTS = {"D": 398, "R": 110, "W": 56, "S": 52, "M": 43}
FAMILY_WORDS = {"D": "Decorative", "R": "Roman", "W": "Swiss", "S": "Script", "M": "Modern"}

SUFFIXES = {
    301: " (Math8)",
    302: " (PI Font)",
    303: " (LineDraw)",
    304: " (PC Line)",
    305: " (US Legal)",
}

SYMBOL_SETS = {
    5001: "M8:  Math-8",
    5002: "PI:  Pi Font",
    5003: "LD:  Line Draw",
    5004: "PL:  PC Line",
    5005: "UL:  US Legal",
    5006: "DN:  Danish/Norwegian",
    5007: "DE:  German",
    5008: "UK:  United Kingdom",
    5009: "E1:  ECMA-94 Latin 1",
    5010: "FR:  French",
    5011: "IT:  Italian",
    5012: "JA:  JIS ASCII",
    5013: "L2:  Latin 2",
    5014: "PC:  PC-8",
    5015: "PD:  PC-8 Danish/Norwegian",
    5016: "PM:  PC-850",
    5017: "PT:  PC Turkish",
    5018: "R8:  Roman-8",
    5019: "SP:  Spanish",
    5020: "US:  ASCII",
    5021: "SW:  Swedish",
    5022: "WN:  Windows",
    5023: "L5:  Latin 5",
}


class GenError(Exception):
    pass


def typeface_ids():
    ids = []
    for first, last in TYPEFACE_RANGES:
        if last < first:
            raise GenError(f"typeface range {first}-{last} is reversed")
        ids.extend(range(first, last + 1))
    if len(set(ids)) != len(ids):
        raise GenError("typeface ranges overlap: a duplicate id")
    if len(ids) != TYPEFACE_TOTAL:
        raise GenError(f"typeface ranges give {len(ids)} ids, not {TYPEFACE_TOTAL}")
    if ids != sorted(ids):
        raise GenError("typeface ranges are out of order")
    return ids


def typeface_strings():
    ids = typeface_ids()
    present = set(ids)
    for i in FIXED_TYPEFACES:
        if i not in present:
            raise GenError(f"fixed typeface string {i} is not among the listed ids")
    fixed_letters = {}
    for text in FIXED_TYPEFACES.values():
        if len(text) > 1 and text[1] == "," and text[0] in FAMILY_COUNTS:
            fixed_letters[text[0]] = fixed_letters.get(text[0], 0) + 1
    need = {k: v - fixed_letters.get(k, 0) for k, v in FAMILY_COUNTS.items()}
    free = [i for i in ids if i not in FIXED_TYPEFACES]
    if any(v < 0 for v in need.values()) or sum(need.values()) != len(free):
        raise GenError(f"family counts {FAMILY_COUNTS} do not add up to the {len(free)} "
                       "ids left after the fixed rows")
    # Spread the letters evenly over the free ids: each id takes the letter that is
    # furthest behind its share.
    given = {k: 0 for k in need}
    strings = dict(FIXED_TYPEFACES)
    for n, i in enumerate(free, start=1):
        letter = max(need, key=lambda k: (need[k] * n / len(free) - given[k], need[k]))
        given[letter] += 1
        strings[i] = f"{letter},{FAMILY_WORDS[letter]} {i - 1000:04d}"
    if given != need:
        raise GenError(f"letters given {given} differ from those needed {need}")
    return strings


# ---- translation tables: 128 entries {printer code, overstrike} for 0x80..0xFF ----

UNMAPPED = 0x7F
QUOTES = {0x91: 0x60, 0x92: 0x27}
ACCENTS = {  # combining mark -> the ASCII character printed over the base letter
    "\u0301": 0x27,  # acute
    "\u0308": 0x22,  # diaeresis
    "\u0327": 0x2C,  # cedilla
    "\u0300": 0x60,  # grave
    "\u0302": 0x5E,  # circumflex
    "\u0303": 0x7E,  # tilde
}


def windows_char(code):
    try:
        return bytes([code]).decode("cp1252")
    except UnicodeDecodeError:
        return None


def table_ascii():
    table = []
    for code in range(0x80, 0x100):
        entry = (UNMAPPED, 0)
        ch = windows_char(code)
        if code in QUOTES:
            entry = (QUOTES[code], 0)
        elif ch is not None and ch.isalpha():
            parts = unicodedata.normalize("NFD", ch)
            base, marks = parts[0], parts[1:]
            if len(parts) >= 2 and base.isascii() and base.isalpha():
                if base.isupper():
                    entry = (ord(base), 0)
                elif len(marks) == 1 and marks in ACCENTS:
                    entry = (ord(base), ACCENTS[marks])
                else:
                    entry = (ord(base), 0)
        table.append(entry)
    return table


ROMAN8_ROWS = {0xC0: (0xA1, 0), 0xC9: (0xDC, 0), 0xE9: (0xC5, 0), 0xFC: (0xCF, 0),
               0xDF: (0xDE, 0)}
ROMAN8_PAIRS = {0xDD: (ord("Y"), 0xA8), 0xF7: (ord("-"), ord(":")), 0xFD: (ord("y"), 0xA8)}


def table_roman8():
    for code, (printer, _) in ROMAN8_ROWS.items():
        got = bytes([code]).decode("latin-1").encode("hp_roman8")
        if got != bytes([printer]):
            raise GenError(f"the Roman-8 codec maps 0x{code:02X} to {got.hex()}, "
                           f"not 0x{printer:02X}")
    table = []
    for code in range(0x80, 0x100):
        if code < 0xA0:
            entry = (QUOTES.get(code, UNMAPPED), 0)
        elif code in ROMAN8_PAIRS:
            entry = ROMAN8_PAIRS[code]
        elif code in ROMAN8_ROWS:
            entry = ROMAN8_ROWS[code]
        else:
            try:
                entry = (bytes([code]).decode("latin-1").encode("hp_roman8")[0], 0)
            except UnicodeEncodeError:
                entry = (UNMAPPED, 0)
        table.append(entry)
    return table


def table_none():
    return [(UNMAPPED, 0)] * 128


def table_identity():
    return [(code, 0) for code in range(0x80, 0x100)]


def table_latin1():
    return [(QUOTES.get(c, UNMAPPED), 0) if c < 0xA0 else (c, 0) for c in range(0x80, 0x100)]


def table_offset():
    first = [(0xFF, 0) if c < 0xA0 else (c - 0xA0, 0) for c in range(0x80, 0x100)]
    return first + [(0, 0)] * 128  # a second half that the application does not read


TABLES = [
    (1, "IDR_XLATE_WIN_TO_ASCII", table_ascii, 256),
    (2, "IDR_XLATE_WIN_TO_ROMAN8", table_roman8, 256),
    (3, "IDR_XLATE_NONE", table_none, 256),
    (4, "IDR_XLATE_IDENTITY", table_identity, 256),
    (5, "IDR_XLATE_LATIN_1", table_latin1, 256),
    (6, "IDR_XLATE_OFFSET_A0", table_offset, 512),
]


def rc_string(text):
    """The text as a windres string literal, refusing what windres would alter."""
    if not text:
        raise GenError("an empty string would be dropped")
    for ch in text:
        if not (0x20 <= ord(ch) < 0x7F) or ch in '"\\':
            raise GenError(f"text {text!r} holds {ch!r}, which windres would alter")
    return '"' + text + '"'


def render():
    strings = {}

    def add(i, text):
        if i in strings:
            raise GenError(f"duplicate string id {i}")
        strings[i] = text

    for i, t in SUFFIXES.items():
        add(i, t)
    for i, t in sorted(typeface_strings().items()):
        add(i, t)
    if sorted(SYMBOL_SETS) != list(range(5001, 5024)):
        raise GenError("symbol-set names must be 5001 to 5023")
    for i, t in SYMBOL_SETS.items():
        if len(t) < 6 or t[2:5] != ":  ":
            raise GenError(f"symbol-set name {i} {t!r} is not 'XX:  Name'")
        add(i, t)

    out = []
    w = out.append
    w("// Generated by gen_gorwin.py; edit the generator, not this file.")
    w("#include <winver.h>")
    w('#include "resource_ids.h"')
    w("")
    w("LANGUAGE 9, 2")
    w("STRINGTABLE")
    w("BEGIN")
    for i in sorted(strings):
        w(f"  {i}, {rc_string(strings[i])}")
    w("END")
    for number, name, build, size in TABLES:
        entries = build()
        if len(entries) * 2 != size:
            raise GenError(f"table {number} has {len(entries) * 2} bytes, not {size}")
        for code, over in entries:
            if not (0 <= code <= 0xFF and 0 <= over <= 0xFF):
                raise GenError(f"table {number} holds an entry out of byte range")
        w("")
        w("LANGUAGE 9, 2")
        w(f"{name} RT_TRANSLATION_TABLE")
        w("BEGIN")
        words = [f"0x{(over << 8) | code:04x}" for code, over in entries]
        for k in range(0, len(words), 8):
            w("  " + ", ".join(words[k:k + 8]) + ("," if k + 8 < len(words) else ""))
        w("END")
    w("")
    w("LANGUAGE 9, 2")
    w("1 VERSIONINFO")
    w("FILEVERSION 4,0,1,0")
    w("PRODUCTVERSION 4,0,1,0")
    w("FILEFLAGSMASK 0x3f")
    w("FILEFLAGS 0")
    w("FILEOS VOS_NT_WINDOWS32")
    w("FILETYPE VFT_DLL")
    w("FILESUBTYPE 0")
    w("BEGIN")
    w('  BLOCK "StringFileInfo"')
    w("  BEGIN")
    w('    BLOCK "080904b0"')
    w("    BEGIN")
    w('      VALUE "CompanyName", "Dranvel"')
    w('      VALUE "FileDescription", "Kelvane Typeface Tables"')
    w('      VALUE "FileVersion", "4, 0, 1, 0"')
    w('      VALUE "InternalName", "gorwin"')
    w('      VALUE "LegalCopyright", "Copyright (C) Dranvel"')
    w('      VALUE "OriginalFilename", "gorwin.dll"')
    w('      VALUE "ProductName", "Kelvane"')
    w('      VALUE "ProductVersion", "4, 0, 1, 0"')
    w("    END")
    w("  END")
    w('  BLOCK "VarFileInfo"')
    w("  BEGIN")
    w('    VALUE "Translation", 0x0809, 1200')
    w("  END")
    w("END")
    return "\n".join(out) + "\n"


def main(argv):
    if len(argv) != 3 or argv[1] not in ("--write", "--check"):
        print(__doc__, file=sys.stderr)
        return 2
    try:
        text = render()
    except GenError as e:
        print(f"gen_gorwin: {e}", file=sys.stderr)
        return 1
    path = argv[2]
    if argv[1] == "--write":
        with open(path, "w", newline="\n") as f:
            f.write(text)
        return 0
    try:
        with open(path, newline="") as f:
            current = f.read()
    except OSError as e:
        print(f"gen_gorwin: cannot read {path}: {e}", file=sys.stderr)
        return 1
    if current != text:
        print(f"gen_gorwin: {path} differs from the generator's output; "
              "run gen_gorwin.py --write to refresh it", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
