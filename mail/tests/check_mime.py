#!/usr/bin/python3
"""Reads the messages that quenta_mime_writer rendered and checks them with Python's email
package: structure, headers, each encoded word on its own, and every part decoded back to its
source. Also checks the random Base64 cases and the Shift_JIS to JIS table.

usage: check_mime.py <folder written by quenta_mime_writer>
"""
import base64
import email
import email.policy
import os
import re
import sys

HEADER_NAMES = {0: "To", 1: "CC", 2: "From", 3: "Subject", 4: "Reply-To"}
CHARSETS = {0: "us-ascii", 1: "iso-2022-jp", 2: "iso-8859-1"}
SOURCE_CODECS = {0: "ascii", 1: "shift_jis", 2: "latin-1"}
ENCODED_WORD = re.compile(rb"=\?([^?]*)\?([BbQq])\?([^?]*)\?=")
ESC_TWO_BYTE = b"\x1b$B"
ESC_ASCII = b"\x1b(B"

failures = []


def fail(where, text):
    failures.append(f"{where}: {text}")


def unhex(field):
    return b"" if field == "-" else bytes.fromhex(field)


def read(folder, name):
    with open(os.path.join(folder, name), "rb") as f:
        return f.read()


def text_mode(data):
    """What a text-mode read gives: each CR LF pair becomes LF."""
    return data.replace(b"\r\n", b"\n")


def crlf_lines(data):
    """Each LF, with or without a CR before it, becomes CR LF."""
    return re.sub(rb"\r?\n", b"\r\n", data)


def decode_word(where, charset, encoding, text, max_jis=37):
    """Decodes one encoded word by itself, as a strict reader would."""
    charset = charset.decode("ascii").lower()
    if encoding in (b"B", b"b"):
        raw = base64.b64decode(text, validate=True)
    else:
        if re.search(rb"[ \t?]", text):
            fail(where, f"Q word holds a blank, TAB or '?': {text!r}")
        raw = re.sub(rb"=([0-9A-F]{2})", lambda m: bytes([int(m.group(1), 16)]), text.replace(b"_", b" "))
    if charset == "iso-2022-jp":
        if len(raw) > max_jis:
            fail(where, f"JP word of {len(raw)} JIS bytes")
        last_in = raw.rfind(ESC_TWO_BYTE)
        if last_in >= 0 and raw.rfind(ESC_ASCII) < last_in:
            fail(where, f"JP word does not end in ASCII mode: {raw!r}")
        try:
            return raw.decode("iso2022_jp", errors="strict")
        except UnicodeDecodeError as e:
            fail(where, f"JP word does not decode alone: {raw!r} ({e})")
            return ""
    return raw.decode(charset)


def decode_header_words(where, raw_value):
    """The header value with each encoded word decoded on its own, folds removed."""
    value = re.sub(rb"\r\n[ \t]", b"", raw_value)
    out, pos = [], 0
    for m in ENCODED_WORD.finditer(value):
        between = value[pos:m.start()]
        if between.strip():
            out.append(between.decode("ascii"))
        out.append(decode_word(where, m.group(1), m.group(2), m.group(3)))
        pos = m.end()
    out.append(value[pos:].decode("ascii"))
    return "".join(out)


def raw_headers(data):
    """Raw header values by name (lower case), in order, folds kept."""
    head = data.split(b"\r\n\r\n", 1)[0]
    values = []
    for line in head.split(b"\r\n"):
        if line[:1] in (b" ", b"\t") and values:
            values[-1][1] += b"\r\n" + line
        else:
            name, _, value = line.partition(b":")
            values.append([name.decode("ascii").lower(), value[1:] if value.startswith(b" ") else value])
    return values


def check_lines(where, data):
    if not data.endswith(b"\r\n"):
        fail(where, "message does not end with CR LF")
    for n, line in enumerate(data.split(b"\r\n")[:-1]):
        if b"\r" in line or b"\n" in line:
            fail(where, f"bare CR or LF in line {n + 1}: {line[:60]!r}")
            break


def expected_text(charset, source_kind, source, one_part):
    data = text_mode(source) if source_kind == "file" else source
    end = "\r\n" if one_part else ""
    if charset == 0:
        return crlf_lines(data).decode("ascii", "surrogateescape") + end
    if charset == 1:
        return crlf_lines(data).decode("shift_jis") + end
    return data.decode("latin-1") + end


def check_message(folder, name):
    data = read(folder, name + ".eml")
    manifest = [line.split("\t") for line in read(folder, name + ".manifest").decode("ascii").splitlines()]
    charset = int(manifest[0][1])
    items = [(int(f[1]), unhex(f[2]), unhex(f[3])) for f in manifest if f[0] == "item"]
    parts = [f for f in manifest if f[0] in ("text", "attachment")]
    check_lines(name, data)

    msg = email.message_from_bytes(data, policy=email.policy.default)
    for defect in msg.defects:
        fail(name, f"message defect {defect!r}")

    # Headers: each encoded word alone, then the parsed addresses and the subject.
    headers = raw_headers(data)
    codec = SOURCE_CODECS[charset]
    for kind, header in HEADER_NAMES.items():
        expected = [(a.decode("ascii"), n.decode(codec)) for k, a, n in items if k == kind]
        raw = [v for h, v in headers if h == header.lower()]
        if not expected:
            if raw:
                fail(name, f"unexpected {header} header")
            continue
        if len(raw) != 1:
            fail(name, f"{len(raw)} {header} headers")
            continue
        decoded = decode_header_words(f"{name} {header}", raw[0])
        if kind == 3:
            if decoded != expected[0][1] or str(msg["Subject"]) != expected[0][1]:
                fail(name, f"subject {decoded!r} / {str(msg['Subject'])!r}, expected {expected[0][1]!r}")
            continue
        if kind in (2, 4):
            expected = expected[-1:]
        # Each item's text, from the words decoded one by one.
        texts = [(n + " " if n else "") + (f"<{a}>" if a else "") for a, n in expected]
        if decoded != ",".join(texts):
            fail(name, f"{header} decodes to {decoded!r}, expected {','.join(texts)!r}")
        # The email package joins the words of a display name with blanks and folds white
        # space, so its names are compared without white space.
        got = [(a.addr_spec, "".join(a.display_name.split())) for a in msg[header].addresses]
        want = [(a, "".join(n.split())) for a, n in expected]
        if got != want:
            fail(name, f"{header} parsed as {got!r}, expected {want!r}")

    # Structure and parts.
    if len(parts) == 1:
        if msg.is_multipart() or "MIME-Version" in msg:
            fail(name, "one part sent as multipart or with a MIME-Version line")
        leaves = [msg]
    else:
        if msg.get_content_type() != "multipart/mixed" or msg["MIME-Version"] != "1.0":
            fail(name, f"not a multipart/mixed message: {msg.get_content_type()}")
        leaves = list(msg.iter_parts())
        boundary = msg.get_boundary()
        if any(b"\r\n--" + boundary.encode() in b"\r\n" + leaf.get_payload(decode=False).encode("utf-8", "surrogateescape")
               for leaf in leaves):
            fail(name, "a part holds a line with the boundary")
    if len(leaves) != len(parts):
        fail(name, f"{len(leaves)} parts parsed, {len(parts)} expected")
        return
    for n, (leaf, part) in enumerate(zip(leaves, parts)):
        where = f"{name} part {n}"
        for defect in leaf.defects:
            fail(where, f"defect {defect!r}")
        payload = leaf.get_payload(decode=True)
        if part[0] == "attachment":
            filename = unhex(part[1]).decode("ascii")
            source = read(folder, part[2])
            if leaf.get_content_type() != "application/octet-stream" or leaf["Content-Transfer-Encoding"] != "base64":
                fail(where, f"attachment labelled {leaf.get_content_type()} {leaf['Content-Transfer-Encoding']}")
            if leaf.get_filename() != filename or leaf.get_param("name") != filename:
                fail(where, f"file name {leaf.get_filename()!r}, expected {filename!r}")
            if leaf.get_content_disposition() != "attachment":
                fail(where, "not an attachment")
            if payload != source:
                fail(where, f"attachment of {len(payload)} bytes differs from its {len(source)}-byte source")
            continue
        source = read(folder, part[2])
        cte = "quoted-printable" if charset == 2 else "7bit"
        if (leaf.get_content_type() != "text/plain" or leaf.get_content_charset() != CHARSETS[charset]
                or leaf["Content-Transfer-Encoding"] != cte):
            fail(where, f"labelled {leaf.get_content_type()} {leaf.get_content_charset()} {leaf['Content-Transfer-Encoding']}")
        if charset == 2:
            for line in leaf.get_payload(decode=False).split("\r\n"):
                if line.endswith((" ", "\t")):
                    fail(where, f"quoted-printable line ends with white space: {line[-20:]!r}")
        if charset == 0:
            got = payload.decode("ascii", "surrogateescape")
        elif charset == 1:
            got = payload.decode("iso2022_jp")
            last_in = payload.rfind(ESC_TWO_BYTE)
            if last_in >= 0 and payload.rfind(ESC_ASCII) < last_in:
                fail(where, "JP body does not end in ASCII mode")
        else:
            got = payload.decode("latin-1")
        want = expected_text(charset, part[1], source, len(parts) == 1)
        if got != want:
            at = next((i for i, (a, b) in enumerate(zip(got, want)) if a != b), min(len(got), len(want)))
            fail(where, f"text differs at {at}: {got[at:at + 30]!r}, expected {want[at:at + 30]!r}")


def check_base64(folder):
    for n in read(folder, "b64.list").decode("ascii").split():
        data = read(folder, f"b64_{n}.bin")
        flat = read(folder, f"b64_{n}.flat")
        lines = read(folder, f"b64_{n}.lines")
        want = base64.b64encode(data)
        if flat != want:
            fail(f"base64 {n}", "without line breaks differs from Python's base64")
        chunks = [want[i:i + 76] for i in range(0, len(want), 76)]
        want_lines = b"\r\n".join(chunks) + (b"\r\n" if want and len(want) % 76 == 0 else b"")
        if lines != want_lines:
            fail(f"base64 {n}", "with line breaks differs from Python's base64")


def check_jis_table(folder):
    table = {}
    for line in read(folder, "jis_pairs.txt").decode("ascii").split("\n"):
        if line:
            pair, out = line.split(" ")
            table[bytes.fromhex(pair)] = unhex(out)
    count = 0
    for row in range(0x21, 0x7F):
        for cell in range(0x21, 0x7F):
            jis = bytes([row, cell])
            try:
                ch = (ESC_TWO_BYTE + jis + ESC_ASCII).decode("iso2022_jp")
            except UnicodeDecodeError:
                continue
            sjis = ch.encode("shift_jis")
            want = ch.encode("iso2022_jp")
            if table.get(sjis) != want:
                fail("jis table", f"U+{ord(ch):04X} {sjis.hex()} gives {table.get(sjis)!r}, expected {want!r}")
            count += 1
    if count != 6879:
        fail("jis table", f"{count} JIS X 0208 characters checked, expected 6879")


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    folder = sys.argv[1]
    names = read(folder, "messages.list").decode("ascii").split()
    for name in names:
        check_message(folder, name)
    check_base64(folder)
    check_jis_table(folder)
    for text in failures:
        print("FAIL", text)
    print(f"check_mime: {len(names)} messages, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
