#!/usr/bin/env python3
"""A camera that answers RCP+ over HTTPS only (TLS on 127.0.0.202:443, certificate made at
start-up), for the tests of what the live channels do with such a camera. Every request is
written to DIR/requests.log as "READ 0xff11" or "WRITE 0x0600" (the test reads it back).

  https_camera.py start --state DIR   bind, detach, write DIR/server.pid
  https_camera.py stop --state DIR    end the detached server
"""
import argparse
import os
import signal
import ssl
import subprocess
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

ADDRESS = "127.0.0.202"
PORT = 443
# Encoder instances of the camera's streams (recording, live, remote).
INSTANCES = bytes([1, 2, 3])


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        pass

    def do_GET(self):
        query = urllib.parse.parse_qs(urllib.parse.urlsplit(self.path).query)
        command = query.get("command", [""])[0].lower()
        direction = query.get("direction", ["READ"])[0].upper()
        with open(self.server.request_log, "a") as log:
            log.write("%s %s\n" % (direction, command))
        result = "<err>0x60</err>"
        if command == "0xff11" and direction == "READ":
            result = "<str>%s</str>" % " ".join("%02x" % b for b in INSTANCES)
        body = ("<rcp><command><hex>%s</hex></command><type>%s</type><direction>%s</direction>"
                "<num>%s</num><result>%s</result></rcp>\r\n" %
                (command, query.get("type", [""])[0], direction, query.get("num", ["0"])[0], result)).encode()
        self.send_response(200)
        self.send_header("Content-Type", "text/xml")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


def bind(state):
    cert = os.path.join(state, "camera.pem")
    key = os.path.join(state, "camera.key")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                    "/CN=%s" % ADDRESS, "-keyout", key, "-out", cert],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    server = ThreadingHTTPServer((ADDRESS, PORT), Handler)
    server.daemon_threads = True
    server.request_log = os.path.join(state, "requests.log")
    open(server.request_log, "w").close()
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    return server


def start(state):
    os.makedirs(state, exist_ok=True)
    stop(state)
    server = bind(state)  # bound before detaching, so the fixture is ready when we return
    pid = os.fork()
    if pid:
        with open(os.path.join(state, "server.pid"), "w") as f:
            f.write(str(pid))
        return 0
    os.setsid()
    null = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(null, fd)
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    while True:
        time.sleep(3600)


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
    parser.add_argument("action", choices=["start", "stop"])
    parser.add_argument("--state", required=True)
    args = parser.parse_args()
    return start(args.state) if args.action == "start" else stop(args.state)


if __name__ == "__main__":
    sys.exit(main())
