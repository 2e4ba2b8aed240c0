#!/usr/bin/python3
"""TLS and TCP test peer for the client socket tests, on loopback only.

A test connects to the control port, sends "MODE CERT\n" and reads back "PORT\n": a listener
on 127.0.0.1 that serves one connection in that mode with that certificate. When the
connection is over, the peer writes one report line to the control connection:
"REPORT key=value ..." (bytes received as hex, records, close_notify seen before the TCP
close). TLS runs through memory BIOs, so every record and every TCP piece is sent as the
mode says.
"""
import argparse
import os
import socket
import ssl
import sys
import threading
import time

LIFETIME = 900  # seconds; the peer never outlives a test run
STEP = 30       # every socket wait is bounded


class Tls:
    def __init__(self, sock, certfile, keyfile):
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(certfile, keyfile)
        self.sock = sock
        self.inc = ssl.MemoryBIO()
        self.out = ssl.MemoryBIO()
        self.obj = ctx.wrap_bio(self.inc, self.out, server_side=True)
        self.close_notify = False
        self.tcp_closed = False
        self.raw = b''          # received bytes not yet split into records
        self.data_records = 0   # application data records received

    def count_records(self, data):
        self.raw += data
        while len(self.raw) >= 5:
            length = int.from_bytes(self.raw[3:5], 'big')
            if len(self.raw) < 5 + length:
                break
            if self.raw[0] == 23:
                self.data_records += 1
            self.raw = self.raw[5 + length:]

    def flush(self):
        data = self.out.read()
        if data:
            self.sock.sendall(data)

    def feed(self):
        data = self.sock.recv(65536)
        if not data:
            self.tcp_closed = True
            return False
        self.count_records(data)
        self.inc.write(data)
        return True

    def handshake(self, flush_last=True):
        while True:
            try:
                self.obj.do_handshake()
                if flush_last:
                    self.flush()
                return True
            except ssl.SSLWantReadError:
                self.flush()
                if not self.feed():
                    return False

    def read(self, count):
        """Up to count application bytes; b'' at close_notify or TCP close."""
        while True:
            try:
                data = self.obj.read(count)
                if not data:  # a memory BIO gives b'' only at close_notify
                    self.close_notify = True
                return data
            except ssl.SSLWantReadError:
                if not self.feed():
                    return b''
            except ssl.SSLZeroReturnError:
                self.close_notify = True
                return b''

    def read_exactly(self, count):
        got = b''
        while len(got) < count:
            piece = self.read(count - len(got))
            if not piece:
                break
            got += piece
        return got

    def record(self, data):
        """The bytes of one record holding data."""
        self.obj.write(data)
        return self.out.read()

    def until_close(self):
        """Reads to the end, noting whether close_notify came before the TCP close."""
        rest = b''
        while True:
            piece = self.read(65536)
            if not piece:
                break
            rest += piece
        if self.close_notify:
            while not self.tcp_closed:
                try:
                    if not self.sock.recv(65536):
                        break
                except OSError:
                    break
        return rest


def raw_until_close(sock):
    got = b''
    while True:
        try:
            piece = sock.recv(65536)
        except OSError:
            break
        if not piece:
            break
        got += piece
    return got


def serve(mode, certs, conn):
    report = {'mode': mode}
    cert, key = certs
    if mode == 'nottls':
        conn.sendall(b'this is not TLS\r\n')
        return report
    if mode == 'cut':
        conn.recv(65536)  # the ClientHello, then gone
        return report
    if mode == 'plain':
        report['received'] = raw_until_close(conn).hex()
        return report
    if mode == 'starttls':
        conn.sendall(b'220 ready\r\n')
        line = b''
        while not line.endswith(b'\r\n'):
            piece = conn.recv(1)
            if not piece:
                return report
            line += piece
        report['command'] = line.decode('latin-1').strip()
        conn.sendall(b'220 go ahead\r\n')
    tls = Tls(conn, cert, key)
    if mode == 'eager':
        # Data right behind the server's Finished, in the same TCP write.
        if not tls.handshake(flush_last=False):
            report['handshake'] = 'failed'
            return report
        report['handshake'] = 'done'
        tls.obj.write(b'E' * 40000)
        tls.flush()
        report['received'] = tls.until_close().hex()
        report['close_notify'] = '1' if tls.close_notify else '0'
        return report
    if not tls.handshake():
        report['handshake'] = 'failed'
        return report
    report['handshake'] = 'done'
    if mode in ('echo', 'starttls'):
        request = tls.read(65536)
        conn.sendall(tls.record(b'echo:' + request))
        report['received'] = (request + tls.until_close()).hex()
    elif mode == 'reply3':
        request = tls.read(65536)
        records = [tls.record(b'one,'), tls.record(b'two,'), tls.record(b'three')]
        for r in records:
            conn.sendall(r)
            time.sleep(0.0002)
        time.sleep(0.5)
        conn.sendall(tls.record(b'later'))
        report['received'] = (request + tls.until_close()).hex()
    elif mode == 'split':
        request = tls.read(65536)
        gap = float(request.decode() or '0.05')
        for text in (b'A' * 50, b'B' * 50):
            r = tls.record(text)
            conn.sendall(r[:10])
            time.sleep(gap)
            conn.sendall(r[10:])
            time.sleep(0.05)
        report['received'] = (request + tls.until_close()).hex()
    elif mode == 'closenotify':
        request = tls.read(65536)
        conn.sendall(tls.record(b'bye'))
        try:
            tls.obj.unwrap()
        except ssl.SSLWantReadError:
            pass
        tls.flush()
        report['received'] = request.hex()
    elif mode == 'silent':
        report['received'] = tls.until_close().hex()
    elif mode == 'large':
        # Three records of 16384 bytes, then 1 MB read slowly.
        first = tls.read_exactly(3 * 16384)
        report['first'] = str(len(first))
        report['first_records'] = str(tls.data_records)
        conn.sendall(tls.record(b'ok'))  # the client sends the bulk only after this
        total = b''
        while len(total) < 1024 * 1024:
            time.sleep(0.001)
            piece = tls.read(8192)
            if not piece:
                break
            total += piece
        report['bulk'] = str(len(total))
        report['bulkok'] = '1' if total == bytes(i % 251 for i in range(len(total))) else '0'
        tls.until_close()
    else:  # wrongname, selfsigned and other handshakes the client should refuse
        tls.until_close()
    report['close_notify'] = '1' if tls.close_notify else '0'
    return report


def session(control, pki, deadline):
    try:
        control.settimeout(STEP)
        line = b''
        while not line.endswith(b'\n'):
            piece = control.recv(256)
            if not piece:
                return
            line += piece
        mode, certname = line.decode().split()
        certs = (os.path.join(pki, certname + '.pem'), os.path.join(pki, certname + '.key'))
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        listener.bind(('127.0.0.1', 0))
        listener.listen(1)
        listener.settimeout(STEP)
        control.sendall(b'%d\n' % listener.getsockname()[1])
        try:
            conn, _ = listener.accept()
        except socket.timeout:
            control.sendall(b'REPORT connections=0\n')
            return
        finally:
            listener.close()
        conn.settimeout(STEP)
        # Small records go out at once, not behind a delayed acknowledgement.
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        try:
            report = serve(mode, certs, conn)
        except (OSError, ssl.SSLError) as e:
            report = {'mode': mode, 'error': type(e).__name__}
        finally:
            conn.close()
        report['connections'] = '1'
        control.sendall(('REPORT ' + ' '.join('%s=%s' % kv for kv in report.items()) + '\n').encode())
    except (OSError, ValueError):
        pass
    finally:
        control.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--pki', required=True)
    parser.add_argument('--port-file', required=True)
    args = parser.parse_args()
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.bind(('127.0.0.1', 0))
    server.listen(16)
    server.settimeout(1)
    with open(args.port_file + '.tmp', 'w') as f:
        f.write('%d\n' % server.getsockname()[1])
    os.rename(args.port_file + '.tmp', args.port_file)
    deadline = time.monotonic() + LIFETIME
    while time.monotonic() < deadline:
        try:
            control, _ = server.accept()
        except socket.timeout:
            continue
        threading.Thread(target=session, args=(control, args.pki, deadline), daemon=True).start()
    return 0


if __name__ == '__main__':
    sys.exit(main())
