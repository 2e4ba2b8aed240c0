#!/usr/bin/python3
"""The scripted SMTP server's control port from a shell, and the check of what it received.

  smtpctl.py case <json>                  prints the SMTP port of the next session
  smtpctl.py record <folder>              writes commands, raw and data of the last session
  smtpctl.py check <data> <expect.json>   decodes the message and compares it with the sources:
      {"subject": text, "from_name": text, "body": text, "charset": name,
       "attachment": [name, path]}  (each key optional)
"""
import email
import email.policy
import json
import os
import socket
import sys


def control():
    sock = socket.create_connection(("127.0.0.1", int(os.environ["QUENTA_SMTP_CONTROL"])), timeout=30)
    return sock, sock.makefile("rb")


def main():
    command = sys.argv[1]
    if command == "case":
        sock, reader = control()
        sock.sendall(b"case " + sys.argv[2].encode() + b"\n")
        answer = reader.readline().decode().split()
        print(answer[1] if answer and answer[0] == "ok" else 0)
    elif command == "record":
        sock, reader = control()
        sock.sendall(b"record\n")
        for name in ("commands", "raw", "data"):
            length = int(reader.readline())
            with open(os.path.join(sys.argv[2], name), "wb") as f:
                f.write(reader.read(length))
    elif command == "check":
        with open(sys.argv[2], "rb") as f:
            message = email.message_from_bytes(f.read(), policy=email.policy.default)
        with open(sys.argv[3], encoding="utf-8") as f:
            expect = json.load(f)
        failures = []
        if "subject" in expect and str(message["Subject"]) != expect["subject"]:
            failures.append(f"subject {str(message['Subject'])!r}")
        if "from_name" in expect and message["From"].addresses[0].display_name != expect["from_name"]:
            failures.append(f"from {str(message['From'])!r}")
        parts = list(message.walk()) if message.is_multipart() else [message]
        texts = [p for p in parts if p.get_content_type() == "text/plain"]
        if "body" in expect:
            # Line ends compared as LF; the blank lines closing a part do not count.
            got = texts[0].get_content().replace("\r\n", "\n").rstrip("\n") if texts else None
            if got != expect["body"].replace("\r\n", "\n").rstrip("\n"):
                failures.append(f"body {got!r}")
            if texts and "charset" in expect and texts[0].get_content_charset() != expect["charset"]:
                failures.append(f"charset {texts[0].get_content_charset()}")
        if "attachment" in expect:
            name, path = expect["attachment"]
            with open(path, "rb") as f:
                source = f.read()
            found = [p for p in parts if p.get_filename() == name]
            if not found or found[0].get_payload(decode=True) != source:
                failures.append(f"attachment {name}")
        for failure in failures:
            print("FAIL " + failure)
        sys.exit(1 if failures else 0)


main()
