#!/usr/bin/python3
"""Fixtures of the PostScript font and form, and colour-profile rows.

  make_psfixtures.py OUTDIR

Writes into OUTDIR:
  NimbusSans-Regular.fnt   the URW font as plain text, its eexec part in hex lines of 64
  truncated.pfb            that .pfb cut inside its binary segment
  garbage.pfb              a segment start with a huge length, then noise
  box.eps, atend.eps       small EPS files with a bounding box (100 100 300 200)
  nocomments.eps           an EPS program without any comment
  nuls.eps                 an EPS file holding NUL bytes
  <name>.OP1, <name>.op2   what the profile converter makes of a profile: the .OP1 is its
                           'desc' text NUL-padded or cut to 32 bytes, then the profile; the
                           .op2 a text that ends in a path whose last element is <name>
  cases.txt                one line per profile: name, source file, the 32-byte description
Exits 1 with a message when a source file is missing.
"""
import os
import struct
import sys

NIMBUS = "/usr/share/fonts/X11/Type1/NimbusSans-Regular.pfb"
ICC = "/usr/share/color/icc"
PROFILES = [
    ("ink1001bst1200ppr", "Gray.icc"),
    ("ink1002clstv1200tra", "sRGB.icc"),
    ("ink999bstxxxppr", "LCMSLABI.ICM"),
]


def read(path, package):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError as e:
        sys.exit("make_psfixtures: cannot read %s (%s): is %s installed?" % (path, e.strerror, package))


def write(out, name, data):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)


def pfb_segments(data):
    """(type, bytes) of each segment up to the end segment."""
    segments, pos = [], 0
    while pos + 6 <= len(data) and data[pos] == 0x80 and data[pos + 1] in (1, 2):
        (length,) = struct.unpack_from("<I", data, pos + 2)
        segments.append((data[pos + 1], data[pos + 6:pos + 6 + length]))
        pos += 6 + length
    if not segments or data[pos:pos + 2] != b"\x80\x03":
        sys.exit("make_psfixtures: %s is no PFB file" % NIMBUS)
    return segments


def fnt_of(pfb):
    out = bytearray()
    for kind, body in pfb_segments(pfb):
        if kind == 1:
            out += body.replace(b"\r", b"\n")
        else:
            digits = body.hex().encode()
            for i in range(0, len(digits), 64):
                out += digits[i:i + 64] + b"\n"
    return bytes(out)


def description(profile, source):
    """The profile's 'desc' text: a v2 text description or the first v4 localised record."""
    if len(profile) < 132:
        sys.exit("make_psfixtures: %s is too short for a profile" % source)
    (count,) = struct.unpack_from(">I", profile, 128)
    for i in range(count):
        at = 132 + 12 * i
        if at + 12 > len(profile):
            break
        signature, offset, size = struct.unpack_from(">4sII", profile, at)
        if signature != b"desc":
            continue
        tag = profile[offset:offset + size]
        if tag[:4] == b"desc" and len(tag) >= 12:
            (length,) = struct.unpack_from(">I", tag, 8)
            return tag[12:12 + length].split(b"\0", 1)[0]
        if tag[:4] == b"mluc" and len(tag) >= 28:
            length, start = struct.unpack_from(">II", tag, 20)
            text = tag[start:start + length].decode("utf-16-be", "replace")
            return text.encode("ascii", "replace")
    sys.exit("make_psfixtures: %s has no 'desc' tag" % source)


def convert(out, name, source):
    """The profile converter's two files for one profile; its 32-byte description."""
    profile = read(source, "icc-profiles-free")
    desc = description(profile, source)[:32].ljust(32, b"\0")
    write(out, name + ".OP1", desc + profile)
    path = "C:\\Program Files\\Profiles\\" + name
    write(out, name + ".op2", ("Converted " + os.path.basename(source) + "\r\n" + path + "\r\n").encode())
    return desc.rstrip(b"\0").decode("ascii", "replace")


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)

    pfb = read(NIMBUS, "fonts-urw-base35")
    write(out, "NimbusSans-Regular.fnt", fnt_of(pfb))
    first = pfb_segments(pfb)[0][1]
    write(out, "truncated.pfb", pfb[:6 + len(first) + 6 + 100])
    write(out, "garbage.pfb", b"\x80\x02\xff\xff\xff\x7f" + bytes((i * 37 + 11) & 0xFF for i in range(300)))

    box = b"%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 100 100 300 200\n"
    draw = b"0 0 1 setrgbcolor 100 100 200 100 rectfill\n"
    write(out, "box.eps", box + draw)
    write(out, "atend.eps", b"%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: (atend)\n" + draw +
          b"%%Trailer\n%%BoundingBox: 100 100 300 200\n%%EOF\n")
    write(out, "nocomments.eps", draw)
    write(out, "nuls.eps", box + b"% \0\0 in a comment\n" + draw + b"\0")

    lines = []
    for name, source in PROFILES:
        path = os.path.join(ICC, source)
        lines.append("%s\t%s\t%s\n" % (name, path, convert(out, name, path)))
    with open(os.path.join(out, "cases.txt"), "w") as f:
        f.writelines(lines)


if __name__ == "__main__":
    main()
