#!/usr/bin/python3
"""The STARTTLS sink of mail_bench, on 127.0.0.1 only.

Answers like an SMTP server that offers STARTTLS, upgrades with the PKI's "good" leaf (for
"localhost"), and drains DATA in large reads. The DATA of each session, with the CR LF before
it and the end mark, goes to --data-file. The port goes to --port-file once it listens.
"""
import argparse
import os
import socket
import ssl
import time

LIFETIME = 900  # seconds; the sink never outlives a bench run
WAIT = 60       # every socket wait is bounded


def session(conn, ctx, data_file):
    sock = conn
    pending = b""

    def reply(text):
        sock.sendall(text.encode("ascii"))

    def line():
        nonlocal pending
        while b"\r\n" not in pending:
            chunk = sock.recv(1 << 20)
            if not chunk:
                raise EOFError
            pending += chunk
            if len(pending) > 1 << 16:
                raise EOFError
        at = pending.index(b"\r\n") + 2
        got, pending = pending[:at], pending[at:]
        return got

    reply("220 localhost ready\r\n")
    encrypted = False
    while True:
        verb = line()[:4].upper()
        if verb in (b"EHLO", b"HELO"):
            reply("250-localhost\r\n" + ("" if encrypted else "250-STARTTLS\r\n") + "250 HELP\r\n")
        elif verb == b"STAR":
            reply("220 go ahead\r\n")
            pending = b""
            sock = ctx.wrap_socket(conn, server_side=True)
            sock.settimeout(WAIT)
            encrypted = True
        elif verb == b"DATA":
            reply("354 go ahead\r\n")
            data = bytearray(b"\r\n" + pending)
            pending = b""
            seen = 0  # the end mark is searched only in what came since, with 4 bytes before
            while True:
                end = data.find(b"\r\n.\r\n", max(0, seen - 4))
                if end >= 0:
                    pending = bytes(data[end + 5:])
                    del data[end + 5:]
                    break
                seen = len(data)
                chunk = sock.recv(1 << 20)
                if not chunk:
                    raise EOFError
                data += chunk
            with open(data_file + ".tmp", "wb") as f:
                f.write(data)
            os.replace(data_file + ".tmp", data_file)
            reply("250 queued\r\n")
        elif verb == b"QUIT":
            reply("221 bye\r\n")
            return
        else:
            reply("250 ok\r\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pki", required=True)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--data-file", required=True)
    args = parser.parse_args()
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(os.path.join(args.pki, "good.pem"), os.path.join(args.pki, "good.key"))
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)
    listener.settimeout(WAIT)
    with open(args.port_file + ".tmp", "w") as f:
        f.write(str(listener.getsockname()[1]))
    os.replace(args.port_file + ".tmp", args.port_file)
    start = time.monotonic()
    while time.monotonic() - start < LIFETIME:
        try:
            conn, _ = listener.accept()
        except socket.timeout:
            continue
        conn.settimeout(WAIT)
        try:
            session(conn, ctx, args.data_file)
        except (EOFError, OSError, ssl.SSLError):
            pass
        finally:
            conn.close()


if __name__ == "__main__":
    main()
