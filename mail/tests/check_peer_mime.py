#!/usr/bin/python3
"""Checks the messages that quenta_peer_tests received back from the real peers, with the
same checks as check_mime.py.

usage: check_peer_mime.py <folder>
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_mime  # noqa: E402


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    folder = sys.argv[1]
    names = check_mime.read(folder, "messages.list").decode("ascii").split()
    if not names:
        print("check_peer_mime: no messages to check")
        return 1
    for name in names:
        check_mime.check_message(folder, name)
    for text in check_mime.failures:
        print("FAIL", text)
    print(f"check_peer_mime: {len(names)} messages, {len(check_mime.failures)} failures")
    return 1 if check_mime.failures else 0


if __name__ == "__main__":
    sys.exit(main())
