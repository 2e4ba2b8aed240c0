#!/usr/bin/python3
"""Checks the font metrics packages (*.pcm) in a folder on their own terms.

Each package: magic, version, size, title and list offsets, then PFM images back to back.
Each image: version, size, type, width table size against the character range, extension,
device name, face, driver info (and its escape), extended text metrics. A <name>.expect
beside a package lists the face names of its images, in order, separated by '|'.
Exit status 1 with a message per fault.
"""
import pathlib
import struct
import sys

faults = []


def fault(where, text):
    faults.append(f"{where}: {text}")


def cstr(data, at, where):
    end = data.find(b"\0", at)
    if at >= len(data) or end < 0:
        fault(where, f"text at {at} runs past the image")
        return None
    return data[at:end].decode("latin-1")


def check_pfm(pfm, where):
    """Returns the face name, or None when the image is malformed."""
    if len(pfm) < 224:
        fault(where, f"image of {len(pfm)} bytes is under 224")
        return None
    version, size = struct.unpack_from("<HI", pfm, 0)
    if version != 0x0100:
        fault(where, f"dfVersion {version:#x}")
    if size != len(pfm):
        fault(where, f"dfSize {size} for {len(pfm)} bytes")
    if struct.unpack_from("<H", pfm, 66)[0] != 128:
        fault(where, "dfType is not 128")
    pix_width = struct.unpack_from("<H", pfm, 86)[0]
    first, last = pfm[95], pfm[96]
    device, face_at = struct.unpack_from("<II", pfm, 101)
    if first > last:
        fault(where, f"first character {first} after last {last}")
    width_table = (last - first + 2) * 2 if pix_width == 0 else 0
    if device != 147 + width_table:
        fault(where, f"dfDevice {device}, expected {147 + width_table}")
        return None
    ext = 117 + width_table
    size_fields, etm_at = struct.unpack_from("<HI", pfm, ext)
    extent, origin, pair, track, info_at, reserved = struct.unpack_from("<IIIIII", pfm, ext + 6)
    if size_fields != 30:
        fault(where, f"dfSizeFields {size_fields}")
    if (extent, origin, pair, track, reserved) != (0, 0, 0, 0, 0):
        fault(where, "extension tables not 0")
    if cstr(pfm, device, where) != "QUV PRINTER":
        fault(where, "device name")
    if face_at != device + 12:
        fault(where, f"dfFace {face_at}")
    face = cstr(pfm, face_at, where)
    if face is None:
        return None
    if info_at != face_at + len(face) + 1:
        fault(where, f"dfDriverInfo {info_at}")
        return None
    if info_at + 22 + 52 > len(pfm):
        fault(where, "driver info or metrics past the image")
        return None
    info_size, info_version, _memory, escape_at, _table = struct.unpack_from("<HHIIH", pfm, info_at)
    if (info_size, info_version) != (22, 1):
        fault(where, f"driver info size {info_size} version {info_version}")
    if etm_at != info_at + 22:
        fault(where, f"dfExtMetricsOffset {etm_at}")
    if struct.unpack_from("<H", pfm, etm_at)[0] != 52:
        fault(where, "etmSize is not 52")
    if escape_at != info_at + 22 + 52:
        fault(where, f"escape offset {escape_at}")
        return None
    escape = cstr(pfm, escape_at, where)
    if escape is None:
        return None
    if not escape.startswith("\x1b("):
        fault(where, f"selection escape {escape!r}")
    if escape_at + len(escape) + 1 != len(pfm):
        fault(where, "bytes after the escape")
    if len(pfm) != 224 + 11 + len(face) + len(escape) + width_table:
        fault(where, "size is not 224 + the texts + the width table")
    return face


def check_pcm(path):
    data = path.read_bytes()
    where = path.name
    if len(data) < 20:
        fault(where, "shorter than its header")
        return
    magic, version, size, title, first = struct.unpack_from("<HHIII", data, 0)
    if (magic, version) != (0x0CAC, 0x0310):
        fault(where, f"magic {magic:#x} version {version:#x}")
    if size != len(data):
        fault(where, f"pcmSize {size} for {len(data)} bytes")
    if (title, first) != (16, 20) or data[16:20] != b"Wyr\0":
        fault(where, "title or list offset")
    faces = []
    at = 20
    while at < len(data):
        if at + 6 > len(data):
            fault(where, f"image header cut at {at}")
            return
        image_size = struct.unpack_from("<I", data, at + 2)[0]
        if image_size == 0 or at + image_size > len(data):
            fault(where, f"image at {at} of {image_size} bytes passes the package")
            return
        face = check_pfm(data[at:at + image_size], f"{where}@{at}")
        faces.append(face)
        at += image_size
    expect = path.with_suffix(".expect")
    if expect.exists():
        wanted = expect.read_text().strip().split("|")
        if faces != wanted:
            fault(where, f"faces {faces}, expected {wanted}")


def main():
    folder = pathlib.Path(sys.argv[1])
    packages = sorted(folder.glob("*.pcm")) + sorted(folder.glob("*.PCM"))
    if not packages:
        print(f"no package in {folder}")
        return 1
    for path in packages:
        check_pcm(path)
    for f in faults:
        print(f)
    print(f"{len(packages)} package(s) checked, {len(faults)} fault(s)")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
