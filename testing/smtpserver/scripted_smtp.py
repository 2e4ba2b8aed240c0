#!/usr/bin/python3
"""A scripted SMTP server on 127.0.0.1 for the mail session's tests.

A control connection (port written to --port-file) takes one command a line:
  case <json>   the script of the next SMTP session; answers "ok <smtp port>"
  record        the last session: three fields, each "<length>\n" and that many bytes:
                the commands received, the DATA as it came, the DATA un-stuffed
The script names replies by step ("greeting", "HELO", "EHLO", "STARTTLS", "AUTH", "MAIL",
"RCPT", "DATA", "END", "QUIT", "AUTH2", "AUTH3" for the later AUTH answers), and may ask
  "close": step      close the connection instead of that reply
  "silent": step     send nothing at that step and wait for the client to go
  "split": true      each reply line its own write, 20 ms apart (else one write)
  "tls": "starttls" | "implicit", with "cert" naming the leaf of the PKI folder
  "secret": [user, password]  checked for LOGIN, PLAIN and CRAM-MD5
  "challenge": text  the CRAM-MD5 challenge (base64 of it is sent)
"""
import argparse, base64, hashlib, hmac, json, os, socket, ssl, threading, time

DEFAULTS = {
    "greeting": ["220 scripted.test ready"],
    "HELO": ["250 scripted.test"],
    "EHLO": ["250-scripted.test", "250-SIZE 1000000", "250 HELP"],
    "STARTTLS": ["220 go ahead"],
    "MAIL": ["250 sender ok"],
    "RCPT": ["250 recipient ok"],
    "DATA": ["354 end with ."],
    "END": ["250 queued"],
    "QUIT": ["221 bye"],
}
WAIT_LIMIT = 90  # seconds a silent or reading session waits at most


class Session:
    def __init__(self, sock, script, pki):
        self.sock, self.script, self.pki = sock, script, pki
        self.commands, self.raw, self.buffer = [], b"", b""

    def reply(self, step, lines=None):
        if self.script.get("close") == step:
            raise EOFError
        if self.script.get("silent") == step:
            self.sock.settimeout(WAIT_LIMIT)
            try:
                while self.sock.recv(4096):
                    pass
            except OSError:
                pass
            raise EOFError
        lines = self.script.get(step, lines if lines is not None else DEFAULTS.get(step, ["250 ok"]))
        if isinstance(lines, str):
            lines = [lines]
        if self.script.get("split"):
            for line in lines:
                self.sock.sendall(line.encode("latin-1") + b"\r\n")
                time.sleep(0.02)
        else:
            self.sock.sendall(b"".join(l.encode("latin-1") + b"\r\n" for l in lines))

    def line(self):
        while b"\n" not in self.buffer:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise EOFError
            self.buffer += chunk
            if len(self.buffer) > 16 * 1024 * 1024:
                raise EOFError
        at = self.buffer.index(b"\n") + 1
        got, self.buffer = self.buffer[:at], self.buffer[at:]
        return got

    def starttls(self, server_side_sock):
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        cert = self.script.get("cert", "good")
        ctx.load_cert_chain(os.path.join(self.pki, cert + ".pem"), os.path.join(self.pki, cert + ".key"))
        return ctx.wrap_socket(server_side_sock, server_side=True)

    def auth(self, words):
        user, password = self.script.get("secret", ["user", "secret"])
        mechanism = words[1].upper() if len(words) > 1 else ""
        ok = False
        if mechanism == "PLAIN":
            self.reply("AUTH", ["334 "])
            answer = base64.b64decode(self.line().strip() or b"=")
            # The authorisation identity may be empty or the user's own.
            ok = answer.split(b"\0") in ([b"", user.encode(), password.encode()],
                                          [user.encode(), user.encode(), password.encode()])
        elif mechanism == "LOGIN":
            self.reply("AUTH", ["334 VXNlcm5hbWU6"])
            got_user = base64.b64decode(self.line().strip())
            self.reply("AUTH2", ["334 UGFzc3dvcmQ6"])
            got_password = base64.b64decode(self.line().strip())
            ok = got_user == user.encode() and got_password == password.encode()
        elif mechanism == "CRAM-MD5":
            challenge = self.script.get("challenge", "<1896.697170952@scripted.test>").encode()
            self.reply("AUTH", ["334 " + base64.b64encode(challenge).decode()])
            answer = base64.b64decode(self.line().strip()).decode("latin-1")
            expected = user + " " + hmac.new(password.encode(), challenge, hashlib.md5).hexdigest()
            ok = answer == expected
        self.reply("AUTH3", ["235 authenticated"] if ok else ["535 authentication failed"])

    def run(self):
        if self.script.get("tls") == "implicit":
            self.sock = self.starttls(self.sock)
        self.sock.settimeout(WAIT_LIMIT)
        self.reply("greeting")
        while True:
            text = self.line()
            self.commands.append(text.decode("latin-1"))
            words = text.decode("latin-1").strip().split()
            verb = words[0].upper() if words else ""
            if verb in ("HELO", "EHLO", "MAIL", "RCPT", "QUIT"):
                self.reply(verb)
                if verb == "QUIT":
                    return
            elif verb == "STARTTLS":
                self.reply("STARTTLS")
                self.buffer = b""
                self.sock = self.starttls(self.sock)
                self.sock.settimeout(WAIT_LIMIT)
            elif verb == "AUTH":
                self.auth(words)
            elif verb == "DATA":
                self.reply("DATA")
                while True:
                    line = self.line()
                    if line == b".\r\n":
                        break
                    self.raw += line
                self.reply("END")
            else:
                self.reply("other", ["500 unknown"])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--pki", default="")
    args = parser.parse_args()
    smtp = socket.socket()
    smtp.bind(("127.0.0.1", 0))
    smtp.listen(8)
    control = socket.socket()
    control.bind(("127.0.0.1", 0))
    control.listen(1)
    state = {"script": {}, "record": None}
    lock = threading.Lock()

    def serve_smtp():
        while True:
            conn, _ = smtp.accept()
            with lock:
                script = state["script"]
            session = Session(conn, script, args.pki)
            try:
                session.run()
            except (EOFError, OSError, ValueError, ssl.SSLError):
                pass
            finally:
                try:
                    session.sock.close()
                except OSError:
                    pass
            raw = session.raw.decode("latin-1")
            # Lines end with CR LF only (str.splitlines would also cut at FF, VT, 0x1C-0x1E, 0x85).
            lines = raw.split("\r\n")
            unstuffed = "\r\n".join(l[1:] if l.startswith(".") else l for l in lines)
            with lock:
                state["record"] = {"commands": session.commands, "data_raw": raw, "data": unstuffed}

    threading.Thread(target=serve_smtp, daemon=True).start()
    with open(args.port_file + ".tmp", "w") as f:
        f.write(str(control.getsockname()[1]))
    os.replace(args.port_file + ".tmp", args.port_file)
    while True:
        conn, _ = control.accept()
        with conn, conn.makefile("rwb") as stream:
            for line in stream:
                text = line.decode().strip()
                if text.startswith("case "):
                    with lock:
                        state["script"] = json.loads(text[5:])
                        state["record"] = None
                    stream.write(b"ok %d\n" % smtp.getsockname()[1])
                elif text == "record":
                    # The session may still be closing: wait a bounded time for its record.
                    for _ in range(200):
                        with lock:
                            record = state["record"]
                        if record is not None:
                            break
                        time.sleep(0.05)
                    record = record or {"commands": ["(no session)\n"], "data_raw": "", "data": ""}
                    for field in ("".join(record["commands"]), record["data_raw"], record["data"]):
                        data = field.encode("latin-1")
                        stream.write(b"%d\n" % len(data) + data)
                stream.flush()


if __name__ == "__main__":
    main()
