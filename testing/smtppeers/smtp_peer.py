#!/usr/bin/python3
"""A real SMTP peer on 127.0.0.1 for the Windows tests: aiosmtpd or a private exim4 daemon.

usage: smtp_peer.py aiosmtpd|exim4 --state DIR --pki DIR [--lifetime SECONDS]

Every port is chosen by the system. When the peer is ready it writes DIR/env, one
"export NAME=value" a line (see CMakeLists.txt for the names). Every message accepted is
written to DIR/received/<local part of the envelope sender>.eml with CR LF line ends, as the
peer holds it after removing the dot stuffing (exim's own Received header left out). The peer
stops on SIGTERM or after --lifetime seconds.
"""
import argparse
import base64
import hashlib
import hmac
import os
import re
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time

USER, PASSWORD = "user", "secret"


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def received_name(sender):
    local = sender.split("@")[0] if sender else ""
    return re.sub(r"[^A-Za-z0-9_.-]", "_", local) or "message"


def write_received(folder, sender, content):
    name = os.path.join(folder, received_name(sender) + ".eml")
    with open(name + ".tmp", "wb") as f:
        f.write(content)
    os.replace(name + ".tmp", name)


def write_env(state, values):
    path = os.path.join(state, "env")
    with open(path + ".tmp", "w") as f:
        for name, value in values.items():
            f.write("export %s='%s'\n" % (name, value))
    os.replace(path + ".tmp", path)


def common_values(state, pki):
    return {
        "SMTP_PEER_USER": USER,
        "SMTP_PEER_PASSWORD": PASSWORD,
        "SMTP_PEER_CA": windows_path(os.path.join(pki, "ca.pem")),
    }


def server_context(pki, leaf):
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(os.path.join(pki, leaf + ".pem"), os.path.join(pki, leaf + ".key"))
    return ctx


def run_aiosmtpd(args, received, stop):
    from aiosmtpd.controller import Controller
    from aiosmtpd.smtp import MISSING, AuthResult

    class Handler:
        async def handle_DATA(self, server, session, envelope):
            write_received(received, envelope.mail_from, envelope.original_content or b"")
            return "250 OK"

        async def auth_CRAM__MD5(self, server, args):
            challenge = ("<%d.%d@aiosmtpd.test>" % (os.getpid(), time.time_ns())).encode()
            answer = await server.challenge_auth(base64.b64encode(challenge), encode_to_b64=False)
            if answer is MISSING:
                return AuthResult(success=False, handled=True)
            user, _, digest = answer.decode("latin-1").rpartition(" ")
            want = hmac.new(PASSWORD.encode(), challenge, hashlib.md5).hexdigest()
            return AuthResult(success=user == USER and hmac.compare_digest(digest, want), handled=False)

    def authenticator(server, session, envelope, mechanism, data):
        return AuthResult(success=data.login == USER.encode() and data.password == PASSWORD.encode())

    class BoundController(Controller):
        """Serves on a socket already bound to a port the system chose."""

        def __init__(self, sock, **kwargs):
            self._sock = sock
            super().__init__(Handler(), hostname="127.0.0.1", port=sock.getsockname()[1],
                             server_hostname="aiosmtpd.test", **kwargs)

        def _create_server(self):
            return self.loop.create_server(self._factory_invoker, sock=self._sock, ssl=self.ssl_context)

    def listener():
        s = socket.socket()
        s.bind(("127.0.0.1", 0))
        s.listen(16)
        return s

    good, wrong = server_context(args.pki, "good"), server_context(args.pki, "wrongname")
    setups = {
        # STARTTLS offered; AUTH offered before it too.
        "SMTP_AIOSMTPD_STARTTLS": dict(tls_context=good, auth_require_tls=False),
        # AUTH offered only once STARTTLS ran (aiosmtpd's default).
        "SMTP_AIOSMTPD_TLSONLYAUTH": dict(tls_context=good),
        "SMTP_AIOSMTPD_IMPLICIT": dict(ssl_context=good, auth_require_tls=False),
        "SMTP_AIOSMTPD_WRONGNAME": dict(tls_context=wrong, auth_require_tls=False),
        "SMTP_AIOSMTPD_IMPLICIT_WRONGNAME": dict(ssl_context=wrong, auth_require_tls=False),
    }
    controllers, values = [], common_values(args.state, args.pki)
    for name, options in setups.items():
        sock = listener()
        controller = BoundController(sock, authenticator=authenticator, **options)
        controller.start()
        controllers.append(controller)
        values[name] = str(sock.getsockname()[1])
    values["SMTP_AIOSMTPD_RECEIVED"] = windows_path(received)
    write_env(args.state, values)
    stop.wait(args.lifetime)
    for controller in controllers:
        controller.stop()


EXIM_CONFIG = """\
exim_user = Debian-exim
exim_group = Debian-exim
primary_hostname = exim.test
spool_directory = {state}/spool
log_file_path = {state}/log/%slog
local_interfaces = <; 127.0.0.1
tls_on_connect_ports = {tls_port}
tls_certificate = {state}/tls/good.pem
tls_privatekey = {state}/tls/good.key
tls_advertise_hosts = *
auth_advertise_hosts = *
queue_only = true
rfc1413_hosts =
host_lookup =
keep_environment =
acl_smtp_rcpt = acl_rcpt

begin acl
acl_rcpt:
  accept

begin routers

begin transports

begin authenticators
plain:
  driver = plaintext
  public_name = PLAIN
  server_prompts = :
  server_condition = ${{if and {{{{eq{{$auth2}}{{{user}}}}}{{eq{{$auth3}}{{{password}}}}}}}}}
login:
  driver = plaintext
  public_name = LOGIN
  server_prompts = Username:: : Password::
  server_condition = ${{if and {{{{eq{{$auth1}}{{{user}}}}}{{eq{{$auth2}}{{{password}}}}}}}}}
cram:
  driver = cram_md5
  public_name = CRAM-MD5
  server_secret = ${{if eq{{$auth1}}{{{user}}}{{{password}}}fail}}
"""


def free_ports(count):
    socks = []
    for _ in range(count):
        s = socket.socket()
        s.bind(("127.0.0.1", 0))
        socks.append(s)
    ports = [s.getsockname()[1] for s in socks]
    for s in socks:
        s.close()
    return ports


def accepts(port):
    try:
        with socket.create_connection(("127.0.0.1", port), 0.5):
            return True
    except OSError:
        return False


def export_exim_message(state, config, header_file, received):
    """Writes one spooled message: its envelope sender from the -H file, the text from -Mvc.
    False when exim could not show it."""
    message_id = os.path.basename(header_file)[:-2]
    try:
        with open(header_file, "rb") as f:
            lines = f.read().split(b"\n")
    except OSError:
        return False
    sender = lines[2].strip(b"<>").decode("latin-1") if len(lines) > 2 else ""
    run = subprocess.run(["exim4", "-C", config, "-Mvc", message_id], capture_output=True, timeout=30)
    text = run.stdout
    if run.returncode != 0 or not text:
        return False
    # exim's own Received header (first in the text, folded over several lines) goes.
    if text.startswith(b"Received:"):
        at = 0
        while True:
            at = text.index(b"\n", at) + 1
            if text[at:at + 1] not in (b" ", b"\t"):
                break
        text = text[at:]
    write_received(received, sender, text.replace(b"\n", b"\r\n"))
    return True


def run_exim4(args, received, stop):
    # exim works as Debian-exim, which may not reach into the build folder (a checkout in a
    # private folder): its configuration, spool, logs and certificate live in a folder of their
    # own under the system's temporary folder, removed when the peer stops.
    state = tempfile.mkdtemp(prefix="suite-exim-")
    os.chmod(state, 0o755)
    try:
        run_exim4_in(state, args, received, stop)
    finally:
        shutil.rmtree(state, ignore_errors=True)


def run_exim4_in(state, args, received, stop):
    for sub in ("spool", "log", "tls"):
        os.makedirs(os.path.join(state, sub), exist_ok=True)
    for name in ("good.pem", "good.key"):
        shutil.copy(os.path.join(args.pki, name), os.path.join(state, "tls", name))
    for sub in ("spool", "log", "tls"):
        shutil.chown(os.path.join(state, sub), "Debian-exim", "Debian-exim")
        for name in os.listdir(os.path.join(state, sub)):
            shutil.chown(os.path.join(state, sub, name), "Debian-exim", "Debian-exim")
    config = os.path.join(state, "exim.conf")
    daemon = None
    # The ports are free when chosen; another program may take one before exim binds it.
    for _ in range(3):
        port, tls_port = free_ports(2)
        with open(config, "w") as f:
            f.write(EXIM_CONFIG.format(state=state, tls_port=tls_port, user=USER, password=PASSWORD))
        os.chmod(config, 0o644)
        log = open(os.path.join(args.state, "exim-daemon.log"), "ab")
        daemon = subprocess.Popen(["exim4", "-C", config, "-bdf", "-oX", "%d:%d" % (port, tls_port)],
                                  stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        for _ in range(100):
            if daemon.poll() is not None or (accepts(port) and accepts(tls_port)):
                break
            time.sleep(0.1)
        if daemon.poll() is None:
            break
        daemon = None
    if daemon is None:
        sys.exit("smtp_peer: exim4 did not start; see " + os.path.join(args.state, "exim-daemon.log"))
    values = common_values(args.state, args.pki)
    values.update(SMTP_EXIM4_PORT=str(port), SMTP_EXIM4_TLS_PORT=str(tls_port),
                  SMTP_EXIM4_RECEIVED=windows_path(received))
    write_env(args.state, values)
    seen = set()
    input_dir = os.path.join(state, "spool", "input")
    deadline = time.monotonic() + args.lifetime
    try:
        while not stop.wait(0.1) and time.monotonic() < deadline and daemon.poll() is None:
            names = os.listdir(input_dir) if os.path.isdir(input_dir) else []
            for name in sorted(names):
                # A message exim cannot show yet is tried again on the next round.
                if name.endswith("-H") and name not in seen:
                    if export_exim_message(state, config, os.path.join(input_dir, name), received):
                        seen.add(name)
    finally:
        daemon.terminate()
        try:
            daemon.wait(10)
        except subprocess.TimeoutExpired:
            daemon.kill()
            daemon.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("kind", choices=("aiosmtpd", "exim4"))
    parser.add_argument("--state", required=True)
    parser.add_argument("--pki", required=True)
    parser.add_argument("--lifetime", type=float, default=1800)
    args = parser.parse_args()
    received = os.path.join(args.state, "received")
    os.makedirs(received, exist_ok=True)
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    (run_aiosmtpd if args.kind == "aiosmtpd" else run_exim4)(args, received, stop)


if __name__ == "__main__":
    main()
