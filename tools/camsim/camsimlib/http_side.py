"""HTTP side of a camera: authentication, RCP+ on "/rcp.xml", snapshots on "/snap.jpg" and the
injected HTTP faults. One CameraServer per camera, on the camera's own address."""

import base64
import hashlib
import os
import random
import secrets
import socket
import subprocess
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from .common import ERR_REFUSED, SNAP_SIZES, log, parse_number
from .rcp import RcpHandler, RcpReply, error_reply, rcp_xml

# Further paths a module serves on the camera's HTTP port: path -> handler(request, camera, auth),
# called after authentication; the handler answers (and may take the connection over).
HTTP_PATHS = {}


def register_http_path(path, handler):
    if path in HTTP_PATHS or path in ("/rcp.xml", "/snap.jpg"):
        raise ValueError("HTTP path %s is already served" % path)
    HTTP_PATHS[path] = handler


def md5hex(s):
    return hashlib.md5(s.encode("utf-8")).hexdigest()


def parse_auth_params(text):
    """key=value, key="quoted, value" list of an Authorization header."""
    out = {}
    i, n = 0, len(text)
    while i < n:
        while i < n and text[i] in " ,\t":
            i += 1
        j = text.find("=", i)
        if j < 0:
            break
        key = text[i:j].strip().lower()
        i = j + 1
        if i < n and text[i] == '"':
            i += 1
            val = []
            while i < n and text[i] != '"':
                if text[i] == "\\" and i + 1 < n:
                    i += 1
                val.append(text[i])
                i += 1
            i += 1
            out[key] = "".join(val)
        else:
            j = text.find(",", i)
            j = n if j < 0 else j
            out[key] = text[i:j].strip()
            i = j
    return out


class CameraHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "camsim/1.0"
    sys_version = ""

    def log_message(self, fmt, *args):
        pass

    @property
    def cam(self):
        return self.server.camera

    def handle_one_request(self):
        # A TLS handshake sent to a camera that speaks plain HTTP (on port 443 as well): such
        # cameras keep waiting for a request line that never comes, so the client times out and
        # retries over HTTP. Answering "400" instead would depend on a newline byte turning up
        # in the handshake's random bytes.
        if self.server.tls is not None:
            super().handle_one_request()
            return
        try:
            first = self.connection.recv(1, socket.MSG_PEEK)
        except OSError:
            first = b""
        if first == b"\x16":
            self.connection.settimeout(120)
            try:
                while self.connection.recv(4096):
                    pass
            except OSError:
                pass
            self.close_connection = True
            self.record(0, None, "TLS handshake ignored")
            return
        super().handle_one_request()

    def do_GET(self):
        self.handle_request()

    def do_POST(self):
        length = parse_number(self.headers.get("Content-Length", "0")) or 0
        if 0 < length <= 1 << 20:
            self.rfile.read(length)
        self.handle_request()

    def check_auth(self):
        """Returns the scheme that authenticated the request, "" for none, or None (401 sent)."""
        cam = self.cam
        if cam.auth == "none":
            return ""
        header = self.headers.get("Authorization", "")
        scheme, _, rest = header.partition(" ")
        scheme = scheme.lower()
        if scheme == "basic" and cam.auth == "basic":
            try:
                user, _, pw = base64.b64decode(rest.strip()).decode("utf-8").partition(":")
            except Exception:
                user, pw = None, None
            if user == cam.user and pw == cam.password:
                return "basic"
        if scheme == "digest" and cam.auth == "digest":
            p = parse_auth_params(rest)
            with cam.lock:
                known = p.get("nonce") in cam.nonces
            if known and p.get("username") == cam.user and p.get("realm") == cam.config["realm"]:
                ha1 = md5hex("%s:%s:%s" % (cam.user, cam.config["realm"], cam.password))
                ha2 = md5hex("%s:%s" % (self.command, p.get("uri", "")))
                if p.get("qop"):
                    expect = md5hex("%s:%s:%s:%s:%s:%s" % (ha1, p["nonce"], p.get("nc", ""),
                                                           p.get("cnonce", ""), p["qop"], ha2))
                else:
                    expect = md5hex("%s:%s:%s" % (ha1, p["nonce"], ha2))
                if p.get("response", "").lower() == expect and p.get("uri", "") == self.path:
                    return "digest"
        # Logged before the answer leaves: a client that reads the log right after its reply
        # must find its request there.
        self.record(401, None)
        self.send_challenge()
        return None

    def send_challenge(self):
        cam = self.cam
        body = b"<html><body>401 Unauthorized</body></html>"
        self.send_response(401)
        for scheme in cam.config["challenge"]:
            if scheme.lower() == "digest":
                nonce = secrets.token_hex(16)
                with cam.lock:
                    if len(cam.nonces) > 4096:
                        cam.nonces.clear()
                    cam.nonces.add(nonce)
                self.send_header("WWW-Authenticate",
                                 'Digest realm="%s", qop="auth", nonce="%s", opaque="%s", algorithm=MD5'
                                 % (cam.config["realm"], nonce, secrets.token_hex(8)))
            else:
                self.send_header("WWW-Authenticate", '%s realm="%s"' % (scheme, cam.config["realm"]))
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def record(self, status, auth, note=""):
        entry = {"time": time.time(), "method": getattr(self, "command", None),
                 "target": getattr(self, "path", ""),
                 "status": status, "auth": auth, "note": note}
        with self.cam.lock:
            self.cam.requests.append(entry)
            if len(self.cam.requests) > 10000:
                del self.cam.requests[:1000]

    def handle_request(self):
        cam = self.cam
        fault = cam.take_fault(self.path)
        if fault is not None and fault.kind == "delay":
            time.sleep(min(float(fault.args.get("ms", 1000)), 120000) / 1000.0)
            fault = None
        if fault is not None and fault.kind in ("drop", "asleep"):
            self.record(0, None, "dropped" if fault.kind == "drop" else "asleep")
            self.close_connection = True
            try:
                self.connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            return
        auth = self.check_auth()
        if auth is None:
            return
        url = urllib.parse.urlsplit(self.path)
        # Camera queries carry hex payloads and plain words: keep "+" as it is.
        q = dict(urllib.parse.parse_qsl(url.query.replace("+", "%2B"), keep_blank_values=True))
        if fault is not None and fault.kind not in ("rcp_error",):
            self.send_fault(fault, auth)
            return
        if url.path == "/rcp.xml":
            rcp = RcpHandler(cam)
            reply, cmd, typ = rcp.handle(q)
            if fault is not None:
                reply = error_reply(int(fault.args.get("code", ERR_REFUSED)))
            body = rcp_xml(cam, q, reply, cmd, typ)
            self.record(200, auth, ("err " + rcp.note).strip() if reply.err else "")
            self.send_body(200, body, "text/xml")
        elif url.path == "/snap.jpg":
            size = q.get("JpegSize", "M")
            data = self.server.snapshots.get(size)
            if data is None:
                self.record(404, auth)
                self.send_body(404 if size not in SNAP_SIZES else 500, b"no picture", "text/plain")
                return
            self.record(200, auth, "snap %s cam %s quality %s" % (size, q.get("JpegCam"), q.get("JpegQuality")))
            self.send_body(200, data, "image/jpeg")
        elif url.path in HTTP_PATHS:
            HTTP_PATHS[url.path](self, cam, auth)
        else:
            self.record(404, auth)
            self.send_body(404, b"not found", "text/plain")

    def send_body(self, status, body, ctype, length=None, close=False):
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body) if length is None else length))
        if close:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        try:
            self.wfile.write(body)
            self.wfile.flush()
        except OSError:
            pass

    def send_fault(self, fault, auth):
        kind, a = fault.kind, fault.args
        self.record(-1, auth, "fault " + kind)
        good = rcp_xml(self.cam, {"direction": "READ"}, RcpReply(str_value="01 02 03 04"), 0x0807,
                       "P_OCTET")
        if kind == "status":
            code = int(a.get("status", 500))
            self.send_body(code, b"<html>simulated failure</html>", "text/html")
        elif kind == "malformed":
            self.send_body(200, a.get("body", "<rcp><result><str>01 02</result></rcp>").encode(), "text/xml")
        elif kind == "truncated":
            self.send_body(200, good[:len(good) // 2], "text/xml")
        elif kind == "long_length":
            # Announces more than it sends, then closes: the reader sees a short body.
            self.send_body(200, good, "text/xml", length=len(good) + int(a.get("extra", 100)), close=True)
        elif kind == "short_length":
            self.send_body(200, good, "text/xml", length=max(0, len(good) // 3), close=True)
        elif kind == "huge":
            size = int(a.get("bytes", 4 << 20))
            head = b"<rcp><result><str>"
            self.send_response(200)
            self.send_header("Content-Type", "text/xml")
            self.send_header("Content-Length", str(size))
            self.end_headers()
            try:
                self.wfile.write(head)
                chunk = b"00 " * 21845
                left = size - len(head)
                while left > 0:
                    piece = chunk[:left]
                    self.wfile.write(piece)
                    left -= len(piece)
            except OSError:
                self.close_connection = True
        elif kind == "binary":
            rnd = random.Random(int(a.get("seed", 1)))
            self.send_body(200, bytes(rnd.getrandbits(8) for _ in range(int(a.get("bytes", 4096)))),
                           "application/octet-stream")
        elif kind == "empty":
            self.send_body(200, b"", "text/xml")
        elif kind == "body":
            self.send_body(int(a.get("status", 200)), a.get("text", "").encode("latin-1", "replace"),
                           a.get("content_type", "text/xml"))
        else:
            self.send_body(500, b"unknown fault", "text/plain")


class CameraServer(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def __init__(self, camera, snapshots, port=None, tls=None):
        self.camera = camera
        self.snapshots = snapshots
        self.tls = tls
        super().__init__((camera.address, port or camera.http_port), CameraHandler)

    def get_request(self):
        sock, addr = super().get_request()
        if self.tls is not None:
            # The handshake runs on the request's own thread (first read), so a client that
            # connects and stays silent never holds up the accepting loop.
            sock = self.tls.wrap_socket(sock, server_side=True, do_handshake_on_connect=False)
        return sock, addr


def make_tls_context(cache_dir):
    """A self-signed certificate made at start-up with the openssl tool (kept in the cache)."""
    import ssl
    os.makedirs(cache_dir, exist_ok=True)
    cert, key = os.path.join(cache_dir, "camsim-cert.pem"), os.path.join(cache_dir, "camsim-key.pem")
    if not (os.path.exists(cert) and os.path.exists(key)):
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30",
                        "-subj", "/CN=camsim", "-keyout", key, "-out", cert],
                       check=True, timeout=60, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(cert, key)
    return ctx


def render_snapshots(cache_dir):
    """One JPEG per size class, rendered by ffmpeg once and kept in the cache directory."""
    os.makedirs(cache_dir, exist_ok=True)
    out = {}
    for name, (w, h) in SNAP_SIZES.items():
        path = os.path.join(cache_dir, "snap_%dx%d.jpg" % (w, h))
        if not os.path.exists(path) or os.path.getsize(path) == 0:
            tmp = path + ".tmp.jpg"
            cmd = ["ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                   "testsrc=size=%dx%d:rate=1" % (w, h), "-frames:v", "1", "-q:v", "5", tmp]
            try:
                subprocess.run(cmd, check=True, timeout=60, stdin=subprocess.DEVNULL)
                os.replace(tmp, path)
            except (OSError, subprocess.SubprocessError) as e:
                log("cannot render snapshot %s: %s" % (name, e))
                continue
        with open(path, "rb") as f:
            out[name] = f.read()
    return out
