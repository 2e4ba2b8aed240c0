#!/usr/bin/env python3
"""Writes administrator password files (64 bytes: one little-endian double per character).

    password_file.py OUT PASSWORD     the file of PASSWORD (8 characters of 0x20-0x7E);
                                      "-" reads the password from standard input
    password_file.py --table OUT      the encoded doubles of every signed 8-bit value
                                      -128..127, in that order (2048 bytes)
"""
import math
import struct
import sys

PI = 3.1415926535


def encode_char(value):
    """value: the character as a signed 8-bit number."""
    return struct.pack("<d", math.tan(value * PI / 180))


def encode(password):
    text = (password + " " * 8)[:8]
    out = b""
    for ch in text.encode("latin-1"):
        out += encode_char(ch - 256 if ch >= 128 else ch)
    return out


def valid(password):
    return len(password) == 8 and all(0x20 <= ord(c) <= 0x7E for c in password)


def main(argv):
    if len(argv) == 3 and argv[1] == "--table":
        with open(argv[2], "wb") as f:
            f.write(b"".join(encode_char(v) for v in range(-128, 128)))
        return 0
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    out, password = argv[1], argv[2]
    if password == "-":
        password = sys.stdin.buffer.read().decode("latin-1")
        if password.endswith("\n"):
            password = password[:-1]
    if not valid(password):
        sys.stderr.write("password_file.py: the password must be 8 characters of 0x20-0x7E\n")
        return 2
    with open(out, "wb") as f:
        f.write(encode(password))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
