#!/usr/bin/env python3
"""Loopback HTTP server for the transport tests: authentication, odd status codes, hostile
bodies and requests that never get an answer.

  http_test_server.py start --state DIR   bind, detach, write DIR/server.pid, log to DIR/server.log
  http_test_server.py stop --state DIR    end the detached server
  http_test_server.py run                 serve in the foreground (debugging)

Listens on 127.0.0.201 ports 80 and 443 (plain HTTP on both: a camera that serves HTTP on the
HTTPS port). User "admin", password "secret".
"""
import argparse
import base64
import hashlib
import os
import select
import signal
import socket
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

ADDRESS = "127.0.0.201"
PORTS = (80, 443)
USER = "admin"
PASSWORD = "secret"
REALM = "camera"
NONCE = "4f1d6c0e9a2b"


def md5(text):
    return hashlib.md5(text.encode()).hexdigest()


def parse_digest(header):
    fields = {}
    rest = header[len("Digest "):]
    for part in rest.split(","):
        if "=" not in part:
            continue
        key, value = part.split("=", 1)
        fields[key.strip().lower()] = value.strip().strip('"')
    return fields


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "TestCamera/1.0"

    def log_message(self, fmt, *args):
        sys.stderr.write("%s %s\n" % (self.address_string(), fmt % args))

    def send_body(self, status, body, content_type="text/plain", extra=None, length=None):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        for name, value in (extra or []):
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body) if length is None else length))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def basic_ok(self):
        auth = self.headers.get("Authorization", "")
        if not auth.startswith("Basic "):
            return False
        try:
            return base64.b64decode(auth[6:]).decode() == "%s:%s" % (USER, PASSWORD)
        except Exception:
            return False

    def digest_ok(self):
        auth = self.headers.get("Authorization", "")
        if not auth.startswith("Digest "):
            return False
        f = parse_digest(auth)
        if f.get("username") != USER or f.get("realm") != REALM or f.get("nonce") != NONCE:
            return False
        ha1 = md5("%s:%s:%s" % (USER, REALM, PASSWORD))
        ha2 = md5("%s:%s" % (self.command, f.get("uri", "")))
        if f.get("qop"):
            expected = md5(":".join([ha1, NONCE, f.get("nc", ""), f.get("cnonce", ""), f["qop"], ha2]))
        else:
            expected = md5("%s:%s:%s" % (ha1, NONCE, ha2))
        return f.get("response") == expected

    def challenge(self, scheme):
        if scheme == "basic":
            value = 'Basic realm="%s"' % REALM
        else:
            value = 'Digest realm="%s", qop="auth", nonce="%s", algorithm=MD5' % (REALM, NONCE)
        self.send_body(401, b"unauthorized", extra=[("WWW-Authenticate", value)])

    def wait_for_client_close(self, limit=120):
        # A camera that accepted the request and never answers: hold the connection until the
        # client gives up (or the limit passes).
        end = time.time() + limit
        conn = self.connection
        while time.time() < end:
            ready, _, _ = select.select([conn], [], [], 0.5)
            if ready:
                try:
                    if not conn.recv(4096):
                        return
                except OSError:
                    return

    def do_GET(self):
        path = self.path
        route = path.split("?", 1)[0]
        parts = route.strip("/").split("/")
        head = parts[0] if parts else ""
        arg = parts[1] if len(parts) > 1 else ""

        if head == "basic":
            if self.basic_ok():
                return self.send_body(200, b"basic-ok")
            return self.challenge("basic")
        if head == "digest":
            if self.digest_ok():
                return self.send_body(200, b"digest-ok")
            return self.challenge("digest")
        if head == "status":
            code = int(arg or "200")
            if code == 204:
                self.send_response(204)
                self.end_headers()
                return
            return self.send_body(code, b"status %d" % code)
        if head == "echo":
            return self.send_body(200, path.encode())
        if head == "body":
            return self.send_body(200, bytes((i * 7) & 0xFF for i in range(int(arg))))
        if head == "unannounced":
            # No Content-Length: the body runs until the connection closes.
            count = int(arg)
            self.send_response(200)
            self.send_header("Connection", "close")
            self.end_headers()
            chunk = b"x" * 65536
            try:
                while count > 0:
                    self.wfile.write(chunk[:min(count, len(chunk))])
                    count -= len(chunk)
            except OSError:
                pass
            self.close_connection = True
            return
        if head == "short":
            # Announces more than it sends, then closes.
            self.send_body(200, b"0123456789", length=1000)
            self.close_connection = True
            return
        if head == "stall":
            # Announces more than it sends and keeps the connection open.
            self.send_body(200, b"0123456789", length=1000)
            self.wfile.flush()
            self.wait_for_client_close(30)
            self.close_connection = True
            return
        if head == "huge":
            # A Content-Length no camera reply should have.
            self.send_body(200, b"x" * 100, length=4000000000)
            self.close_connection = True
            return
        if head == "deep":
            depth = int(arg or "100000")
            body = b"<rcp>" + b"<a>" * depth + b"</a>" * depth + b"</rcp>"
            return self.send_body(200, body, content_type="text/xml")
        if head == "binary":
            return self.send_body(200, bytes(range(256)) * 64, content_type="application/octet-stream")
        if head == "drop":
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            return
        if head == "garbage":
            self.wfile.write(b"\x00\x01NOT HTTP AT ALL\r\n\r\n")
            self.close_connection = True
            return
        if head == "hang":
            self.wait_for_client_close()
            self.close_connection = True
            return
        return self.send_body(404, b"not found")


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64


def bind_all():
    servers = []
    for port in PORTS:
        servers.append(Server((ADDRESS, port), Handler))
    return servers


def serve(servers):
    threads = [threading.Thread(target=s.serve_forever, daemon=True) for s in servers]
    for t in threads:
        t.start()
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    while True:
        time.sleep(3600)


def ensure_address():
    # 127.0.0.0/8 is all loopback on Linux; nothing to configure, but fail clearly if not.
    probe = socket.socket()
    try:
        probe.bind((ADDRESS, 0))
    finally:
        probe.close()


def start(state):
    os.makedirs(state, exist_ok=True)
    pidfile = os.path.join(state, "server.pid")
    stop(state)
    ensure_address()
    servers = bind_all()  # bound before detaching, so the fixture is ready when we return
    pid = os.fork()
    if pid:
        with open(pidfile, "w") as f:
            f.write(str(pid))
        return 0
    os.setsid()
    log = os.open(os.path.join(state, "server.log"), os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    null = os.open(os.devnull, os.O_RDONLY)
    os.dup2(null, 0)
    os.dup2(log, 1)
    os.dup2(log, 2)
    serve(servers)


def stop(state):
    pidfile = os.path.join(state, "server.pid")
    try:
        with open(pidfile) as f:
            pid = int(f.read().strip())
    except (OSError, ValueError):
        return 0
    try:
        os.kill(pid, signal.SIGTERM)
        for _ in range(50):
            os.kill(pid, 0)
            time.sleep(0.1)
    except OSError:
        pass
    os.unlink(pidfile)
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("action", choices=["start", "stop", "run"])
    parser.add_argument("--state", default="/tmp/lumivar-http-test-server")
    args = parser.parse_args()
    if args.action == "start":
        return start(args.state)
    if args.action == "stop":
        return stop(args.state)
    serve(bind_all())


if __name__ == "__main__":
    sys.exit(main())
