#!/usr/bin/python3
"""The scripted SMTP server's control port from a shell, and the check of what it received.

  smtpctl.py case <json>                  prints the SMTP port of the next session
  smtpctl.py record <folder>              writes commands, raw and data of the last session
  smtpctl.py check <data> <expect.json>   decodes the message and compares it with the sources:
      {"subject": text, "from_name": text, "body": text, "charset": name,
       "attachment": [name, path]}  (each key optional)
  smtpctl.py texts <file>                 writes the texts of japanese.vbs (UTF-16, one a line)
  smtpctl.py check-jp|check-eu <data> <csv path>   checks japanese.vbs's JP or EU message
"""
import email
import email.policy
import json
import os
import socket
import sys


SUBJECT = "テスト送信：日本語の件名とASCII混在のメール件名を四十文字で確認します。終！"
TEXTS = ["山田太郎", "鈴木", SUBJECT, "本文の一行目", "..二つの点", "最後の行",
         "メールアイテムを追加できませんでした。", "メールを送信するための情報が足りません。",
         "René", "Café", "Café crème"]


def preset(kind, csv):
    if kind == "jp":
        return {"subject": SUBJECT, "from_name": "山田太郎", "charset": "iso-2022-jp",
                "body": "本文の一行目\n.\n..二つの点\n最後の行\n", "attachment": ["data.csv", csv]}
    return {"subject": "Café", "from_name": "René", "charset": "iso-8859-1", "body": "Café crème\n"}


def check(data, expect):
    with open(data, "rb") as f:
        message = email.message_from_bytes(f.read(), policy=email.policy.default)
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
        with open(sys.argv[3], encoding="utf-8") as f:
            check(sys.argv[2], json.load(f))
    elif command == "texts":
        with open(sys.argv[2], "wb") as f:
            f.write(("\ufeff" + "\r\n".join(TEXTS)).encode("utf-16-le"))
    elif command in ("check-jp", "check-eu"):
        check(sys.argv[2], preset(command[-2:], sys.argv[3] if len(sys.argv) > 3 else ""))
    else:
        sys.exit(f"smtpctl.py: unknown command {command}")

main()
