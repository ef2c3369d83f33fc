"""Cameras whose RTSP side is our own socket code instead of GStreamer's server.

GStreamer's server cannot misbehave on request; this one can. It serves one pre-encoded H.264
clip (ffmpeg, 320x240, 25 fps, a key frame every second, parameter sets before each) as RTP
payload type 96 (RFC 6184: single NAL units and FU-A, small packets so that most frames span
several), over UDP unicast and interleaved on the RTSP connection, with OPTIONS, DESCRIBE,
SETUP, PLAY, PAUSE, GET_PARAMETER, SET_PARAMETER and TEARDOWN. Sender reports go out every two
seconds on the RTCP channel, so a client's receiver reports can be counted.

What the camera checks and what it does wrong is switched through the control interface
(`/camera/<a>/rtsp_fault?name=set&KEY=VALUE...`, see ../../README.md): Digest variants checked
strictly (the uri must be the request line's, nc must grow), stale or renewed nonces, an enforced
session time-out, bare LF line ends, requests of its own and late duplicate responses, other
interleaved channels, reordered and duplicated datagrams, a foreign sender and a Transport
"source=" naming another sender. What the client did (requests, keep-alives, receiver reports,
accepted and refused logins, answers to the camera's requests) is counted for the tests.
"""

import base64
import os
import random
import secrets
import socket
import struct
import subprocess
import threading
import time

from ..camera import register_state
from ..common import log
from ..control import camera_call
from .. import h264_rtp
from ..h264_rtp import access_units, clip_command
from ..rtsp_socket_server import RtspSocketServer, rtsp_stream
from ..http_side import md5hex, parse_auth_params
from ..models import register_camera
from ..plugins import register_service

WIDTH, HEIGHT, FPS, CLIP_FRAMES = 320, 240, 25, 100
MAX_PAYLOAD = 600
SR_INTERVAL_S = 2.0

# Fault keys and their defaults; `set` takes any of them, `clear` restores these.
FAULT_DEFAULTS = {
    "auth": None,             # none|basic|digest; None = the camera's own `auth`
    "qop": "auth",            # auth|auth-int|auth,auth-int|none (Digest)
    "algorithm": "MD5",       # MD5|MD5-sess
    "opaque": 0,              # 1: challenge carries opaque, which must come back
    "basic_too": 0,           # 1: the 401 offers Basic before Digest (both accepted)
    "stale_after": 0,         # N: a nonce answers N requests, then 401 stale=true, new nonce
    "renew_after": 0,         # N: as stale_after but a plain new challenge (no stale flag)
    "nonce_seconds": 0,       # N: a nonce expires N s after it was issued (401 stale=true)
    "password": None,         # the password the camera expects (refused-login tests)
    "session_timeout": 0,     # N s: Session timeout=N, enforced (no request within N s ends it)
    "bare_lf": 0,             # 1: responses end lines with LF only
    "server_requests": "",    # "OPTIONS,SET_PARAMETER,ANNOUNCE": sent in turn while playing
    "server_request_every": 2.0,
    "late_responses": 0,      # 1: every response is preceded by a repeat of the previous one
    "channel": -1,            # N >= 0: interleaved answers on N-(N+1), whatever was asked
    "other_channels": 0,      # 1: frames of channels nobody set up come between media frames
    "reorder": 0,             # 1: UDP packets leave in swapped pairs
    "duplicate": 0,           # 1: every third UDP packet is sent again after the next one
    "foreign": 0,             # 1: another address also sends datagrams to the client's port
    "sender": "",             # address the UDP media leave from (default: the camera's)
    "name_source": 0,         # 1: the SETUP reply names the sender with Transport "source="
    "refuse_options": 0,      # status (403, 405, 501...): OPTIONS naming the playing session refused
    "refuse_get_parameter": 0,  # the same for GET_PARAMETER
}

COUNT_KEYS = ("connections", "requests", "keep_alives", "rtcp_rr", "rtcp_other", "digest_accepted",
              "digest_rejected", "basic_accepted", "basic_rejected", "stale_sent", "renewed_sent",
              "sessions_expired", "plays", "teardowns", "rtp_packets", "foreign_packets")


def new_state(cam):
    counts = {k: 0 for k in COUNT_KEYS}
    counts["methods"] = {}
    counts["server_request_answers"] = {}  # "METHOD STATUS" -> count
    counts["refusals"] = {}                # "METHOD STATUS" -> count (refuse_* faults)
    counts["rejections"] = []              # why Digest answers were refused (last 20)
    return {"faults": dict(FAULT_DEFAULTS), "counts": counts}


register_state("raw_rtsp", new_state)

for _addr in ("127.0.0.90", "127.0.0.91", "127.0.0.92"):
    register_camera({"address": _addr, "auth": "digest", "rtsp_server": "raw",
                     "model": "Camsim Raw RTSP", "records": [[25, 320, 240]], "frame_rate_milli": 25000})

# ---- the clip -------------------------------------------------------------------------

_clip_lock = threading.Lock()
_clip = None


def load_clip(cache_dir):
    """[access units (lists of NAL units)], sps, pps; encoded once into the cache directory."""
    global _clip
    with _clip_lock:
        if _clip is not None:
            return _clip
        path = os.path.join(cache_dir, "raw_rtsp_%dx%d_%d.h264" % (WIDTH, HEIGHT, FPS))
        if not os.path.exists(path):
            os.makedirs(cache_dir, exist_ok=True)
            tmp = path + ".%d.tmp" % os.getpid()
            subprocess.run(clip_command(WIDTH, HEIGHT, FPS, CLIP_FRAMES, tmp), check=True, stdin=subprocess.DEVNULL)
            os.replace(tmp, path)
        with open(path, "rb") as f:
            data = f.read()
        units, sps, pps = access_units(data)
        if not units or sps is None or pps is None:
            raise RuntimeError("raw RTSP clip %s has no usable access units" % path)
        _clip = (units, sps, pps)
        return _clip


def packetize(nals, seq, ts, ssrc):
    return h264_rtp.packetize(nals, seq, ts, ssrc, MAX_PAYLOAD)


def sender_report(ssrc, rtp_ts, packets, octets):
    now = time.time() + 2208988800
    return struct.pack("!BBHIIIIII", 0x80, 200, 6, ssrc, int(now), int((now % 1) * (1 << 32)),
                       rtp_ts & 0xFFFFFFFF, packets & 0xFFFFFFFF, octets & 0xFFFFFFFF)


def is_receiver_report(data):
    return len(data) >= 8 and data[1] == 201


def _int(v, default=0):
    try:
        return int(float(v))
    except (TypeError, ValueError):
        return default


# ---- one RTSP connection -------------------------------------------------------------


class Connection:
    def __init__(self, server, conn, peer):
        self.server = server
        self.cam = server.cam
        self.conn = conn
        self.peer = peer
        self.send_lock = threading.Lock()
        self.closed = threading.Event()
        self.session_id = "%08X%04X" % (random.getrandbits(32), random.getrandbits(16))
        self.transport = None      # ("tcp", rtp channel) | ("udp", (client ip, rtp port), rtcp port)
        self.rtp_sock = self.rtcp_sock = None
        self.playing = False
        self.last_alive = time.monotonic()
        self.previous_response = None
        self.server_cseq = 1000
        self.server_methods = {}  # CSeq of a request the camera sent -> its method
        self.sender = None

    def faults(self):
        with self.cam.lock:
            return dict(self.cam.extra["raw_rtsp"]["faults"])

    def count(self, key, n=1):
        with self.cam.lock:
            counts = self.cam.extra["raw_rtsp"]["counts"]
            counts[key] = counts.get(key, 0) + n

    def count_in(self, table, key):
        with self.cam.lock:
            t = self.cam.extra["raw_rtsp"]["counts"][table]
            t[key] = t.get(key, 0) + 1

    def close(self):
        if self.closed.is_set():
            return
        self.closed.set()
        for s in (self.conn, self.rtp_sock, self.rtcp_sock):
            if s is None:
                continue
            try:
                if s is self.conn:
                    s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            try:
                s.close()
            except OSError:
                pass

    def send(self, data):
        with self.send_lock:
            self.conn.sendall(data)

    # -- reading ---------------------------------------------------------------------------
    def run(self):
        try:
            for item in rtsp_stream(self.conn, self.closed):
                if item[0] == "$":
                    self.on_interleaved(item[1], item[2])
                elif item[2].startswith("RTSP/"):
                    self.on_response(item[2], item[3])
                else:
                    self.on_request(item[2], item[3], item[4])
        except OSError:
            pass
        finally:
            self.close()
            self.server.forget(self)

    def on_interleaved(self, channel, data):
        if self.transport and self.transport[0] == "tcp" and channel == self.transport[1] + 1 \
                and is_receiver_report(data):
            self.count("rtcp_rr")
        else:
            self.count("rtcp_other")

    def on_response(self, status_line, hdr):
        parts = status_line.split(" ")
        status = parts[1] if len(parts) > 1 else "?"
        method = self.server_methods.pop(hdr.get("cseq", ""), "?")
        self.count_in("server_request_answers", "%s %s" % (method, status))

    # -- answering -------------------------------------------------------------------------
    def reply(self, cseq, status="200 OK", headers=(), body=b""):
        f = self.faults()
        eol = "\n" if _int(f["bare_lf"]) else "\r\n"
        lines = ["RTSP/1.0 " + status, "CSeq: %s" % cseq] + list(headers)
        if body:
            lines.append("Content-Length: %d" % len(body))
        data = (eol.join(lines) + eol + eol).encode("latin-1") + body
        if _int(f["late_responses"]) and self.previous_response is not None:
            self.send(self.previous_response)  # a late duplicate of the answer before
        self.previous_response = data
        self.send(data)

    def challenge(self, cseq, stale=False):
        f = self.faults()
        headers = []
        if self.server.auth_kind() == "basic" or _int(f["basic_too"]):
            headers.append('WWW-Authenticate: Basic realm="%s"' % self.cam.config["realm"])
        if self.server.auth_kind() == "digest":
            nonce = self.server.new_nonce()
            parts = ['realm="%s"' % self.cam.config["realm"], 'nonce="%s"' % nonce]
            if f["qop"] and f["qop"] != "none":
                parts.append('qop="%s"' % f["qop"])
            if _int(f["opaque"]):
                parts.append('opaque="%s"' % self.server.opaque)
            if f["algorithm"] and f["algorithm"] != "MD5":
                parts.append("algorithm=%s" % f["algorithm"])
            if stale:
                parts.append("stale=TRUE")
            headers.append("WWW-Authenticate: Digest " + ", ".join(parts))
        self.reply(cseq, "401 Unauthorized", headers)

    def authorized(self, method, uri, hdr, body, cseq):
        """True when the request may go on; otherwise the 401 has been sent."""
        kind = self.server.auth_kind()
        if kind == "none":
            return True
        f = self.faults()
        password = f["password"] if f["password"] is not None else self.cam.password
        auth = hdr.get("authorization", "")
        scheme, _, rest = auth.partition(" ")
        if scheme.lower() == "basic" and (kind == "basic" or _int(f["basic_too"])):
            try:
                ok = base64.b64decode(rest.strip()).decode("utf-8") == "%s:%s" % (self.cam.user, password)
            except (ValueError, UnicodeDecodeError):
                ok = False
            self.count("basic_accepted" if ok else "basic_rejected")
            if ok:
                return True
        elif scheme.lower() == "digest" and kind == "digest":
            verdict = self.server.check_digest(parse_auth_params(rest), method, uri, body, password, f)
            if verdict == "ok":
                self.count("digest_accepted")
                return True
            if verdict in ("stale", "renew"):
                self.count("stale_sent" if verdict == "stale" else "renewed_sent")
                self.challenge(cseq, stale=verdict == "stale")
                return False
            self.count("digest_rejected")
            with self.cam.lock:
                r = self.cam.extra["raw_rtsp"]["counts"]["rejections"]
                r.append("%s %s: %s" % (method, uri, verdict))
                del r[:-20]
        self.challenge(cseq)
        return False

    def on_request(self, start, hdr, body):
        parts = start.split(" ")
        if len(parts) != 3:
            self.reply(hdr.get("cseq", "0"), "400 Bad Request")
            return
        method, uri = parts[0], parts[1]
        cseq = hdr.get("cseq", "0")
        self.count("requests")
        self.count_in("methods", method)
        if not self.authorized(method, uri, hdr, body, cseq):
            return
        f = self.faults()
        timeout = _int(f["session_timeout"]) or 60
        sess = ["Session: %s;timeout=%d" % (self.session_id, timeout)]
        in_session = hdr.get("session", "").split(";")[0].strip() == self.session_id
        if in_session:
            self.last_alive = time.monotonic()
            if self.playing and method not in ("PLAY", "PAUSE", "TEARDOWN"):
                self.count("keep_alives")
        base = "rtsp://%s:554/" % self.cam.address
        refused = _int(f.get("refuse_" + method.lower(), 0)) if method in ("OPTIONS", "GET_PARAMETER") else 0
        if refused and in_session and self.playing:
            # Some cameras take neither keep-alive inside a session (the request still names it,
            # so the session's time-out is met).
            self.count_in("refusals", "%s %d" % (method, refused))
            self.reply(cseq, "%d %s" % (refused, {403: "Forbidden", 405: "Method Not Allowed",
                                                  501: "Not Implemented"}.get(refused, "Refused")))
            return
        if method == "OPTIONS":
            self.reply(cseq, headers=["Public: OPTIONS, DESCRIBE, SETUP, PLAY, PAUSE, TEARDOWN, "
                                      "GET_PARAMETER, SET_PARAMETER"] + (sess if in_session else []))
        elif method == "DESCRIBE":
            units, sps, pps = load_clip(self.server.cache_dir)
            sprop = base64.b64encode(sps).decode() + "," + base64.b64encode(pps).decode()
            eol = "\n" if _int(f["bare_lf"]) else "\r\n"
            sdp = eol.join(["v=0", "o=- 1 1 IN IP4 %s" % self.cam.address, "s=camsim raw", "c=IN IP4 0.0.0.0",
                            "t=0 0", "a=control:*", "m=video 0 RTP/AVP 96", "a=rtpmap:96 H264/90000",
                            "a=fmtp:96 packetization-mode=1;profile-level-id=%s;sprop-parameter-sets=%s"
                            % (sps[1:4].hex(), sprop), "a=framerate:%d" % FPS, "a=control:track1", ""])
            self.reply(cseq, headers=["Content-Type: application/sdp", "Content-Base: " + base],
                       body=sdp.encode())
        elif method == "SETUP":
            self.setup(cseq, hdr.get("transport", ""), sess, f)
        elif method == "PLAY":
            if self.transport is None or (hdr.get("session") and not in_session):
                self.reply(cseq, "454 Session Not Found" if self.transport else "455 Method Not Valid in This State")
                return
            self.reply(cseq, headers=sess + ["Range: npt=0.000-", "RTP-Info: url=%strack1" % base])
            self.count("plays")
            self.playing = True
            self.last_alive = time.monotonic()
            if self.sender is None:
                self.sender = threading.Thread(target=self.stream, daemon=True, name="raw rtsp sender")
                self.sender.start()
        elif method in ("GET_PARAMETER", "SET_PARAMETER", "PAUSE"):
            if hdr.get("session") and not in_session:
                self.reply(cseq, "454 Session Not Found")
                return
            if method == "PAUSE":
                self.playing = False
            self.reply(cseq, headers=sess)
        elif method == "TEARDOWN":
            self.count("teardowns")
            self.reply(cseq, headers=sess)
            self.close()
        else:
            self.reply(cseq, "501 Not Implemented")

    def setup(self, cseq, t, sess, f):
        low = t.lower()
        if "interleaved=" in low or "/tcp" in low:
            asked = 0
            if "interleaved=" in low:
                asked = _int(low.split("interleaved=")[1].split("-")[0].split(";")[0])
            ch = _int(f["channel"], -1)
            ch = asked if ch < 0 else ch
            self.transport = ("tcp", ch)
            out = "RTP/AVP/TCP;unicast;interleaved=%d-%d" % (ch, ch + 1)
        elif "client_port=" in low:
            port = _int(low.split("client_port=")[1].split("-")[0].split(";")[0])
            sender = f["sender"] or self.cam.address
            try:
                self.rtp_sock, self.rtcp_sock = self.server.udp_pair(sender)
            except OSError as e:
                log("raw rtsp %s: no UDP ports on %s: %s" % (self.cam.address, sender, e))
                self.reply(cseq, "500 Internal Server Error")
                return
            sp = self.rtp_sock.getsockname()[1]
            self.transport = ("udp", (self.peer[0], port), port + 1)
            out = "RTP/AVP;unicast;client_port=%d-%d;server_port=%d-%d" % (port, port + 1, sp, sp + 1)
            if _int(f["name_source"]):
                out += ";source=%s" % sender
            threading.Thread(target=self.read_rtcp, daemon=True, name="raw rtcp").start()
        else:
            self.reply(cseq, "461 Unsupported Transport")
            return
        self.reply(cseq, headers=["Transport: " + out] + sess)

    def read_rtcp(self):
        sock = self.rtcp_sock
        while not self.closed.is_set():
            try:
                data = sock.recv(2048)
            except OSError:
                return
            self.count("rtcp_rr" if is_receiver_report(data) else "rtcp_other")

    # -- media -------------------------------------------------------------------------------
    def send_rtp(self, pkt, f, rtcp=False):
        kind = self.transport[0]
        if kind == "tcp":
            ch = self.transport[1] + (1 if rtcp else 0)
            self.send(b"$" + bytes([ch]) + struct.pack("!H", len(pkt)) + pkt)
            return
        sock = self.rtcp_sock if rtcp else self.rtp_sock
        sock.sendto(pkt, (self.transport[1][0], self.transport[2] if rtcp else self.transport[1][1]))

    def stream(self):
        units = load_clip(self.server.cache_dir)[0]
        ssrc = random.getrandbits(32)
        seq = random.getrandbits(16)
        ts0 = random.getrandbits(32)
        start = time.monotonic()
        k = 0
        sent_packets = sent_octets = 0
        next_sr = start
        next_request = start + 1.0
        held = []  # UDP packets kept back by reorder / duplicate
        foreign = None
        try:
            while not self.closed.is_set():
                delay = start + k / FPS - time.monotonic()
                if delay > 0 and self.closed.wait(delay):
                    break
                f = self.faults()
                now = time.monotonic()
                timeout = _int(f["session_timeout"])
                if timeout and now - self.last_alive > timeout:
                    self.count("sessions_expired")
                    log("raw rtsp %s: session %s expired (no request for %.1f s)"
                        % (self.cam.address, self.session_id, now - self.last_alive))
                    self.close()
                    break
                if not self.playing or not self.server.sending:
                    k += 1
                    continue
                ts = ts0 + k * (90000 // FPS)
                if now >= next_sr:
                    self.send_rtp(sender_report(ssrc, ts, sent_packets, sent_octets), f, rtcp=True)
                    next_sr = now + SR_INTERVAL_S
                if f["server_requests"] and now >= next_request:
                    self.send_server_request(f)
                    next_request = now + max(0.2, float(f["server_request_every"]))
                pkts, seq = packetize(units[k % len(units)], seq, ts, ssrc)
                for i, p in enumerate(pkts):
                    sent_packets += 1
                    sent_octets += len(p) - 12
                    self.count("rtp_packets")
                    if self.transport[0] == "tcp":
                        self.send_rtp(p, f)
                        if _int(f["other_channels"]) and i % 4 == 0:
                            junk = bytes([0x80, 96]) + os.urandom(30)
                            for ch in (self.transport[1] + 2, self.transport[1] + 3, 250):
                                self.send(b"$" + bytes([ch & 0xFF]) + struct.pack("!H", len(junk)) + junk)
                        continue
                    out = [p]
                    if _int(f["reorder"]):
                        held.append(p)
                        out = []
                        if len(held) == 2:
                            out = [held[1], held[0]]
                            held = []
                    if _int(f["duplicate"]) and (sent_packets % 3 == 0):
                        out.append(p)
                    for q in out:
                        self.send_rtp(q, f)
                    if _int(f["foreign"]):
                        if foreign is None:
                            foreign = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
                            foreign.bind((self.server.foreign_address(), 0))
                        foreign.sendto(p[:12] + os.urandom(40), self.transport[1])
                        self.count("foreign_packets")
                # A pair left half-way at the end of a frame goes out with it: frames stay whole.
                for q in held:
                    self.send_rtp(q, f)
                held = []
                k += 1
        except OSError:
            self.close()
        finally:
            if foreign is not None:
                foreign.close()

    def send_server_request(self, f):
        methods = [m.strip().upper() for m in f["server_requests"].split(",") if m.strip()]
        method = methods[self.server_cseq % len(methods)]
        self.server_cseq += 1
        cseq = str(self.server_cseq)
        self.server_methods[cseq] = method
        eol = "\n" if _int(f["bare_lf"]) else "\r\n"
        body = b""
        lines = ["%s rtsp://%s:554/ RTSP/1.0" % (method, self.cam.address), "CSeq: " + cseq,
                 "Session: " + self.session_id]
        if method == "SET_PARAMETER":
            body = b"camsim_ping: 1\r\n"
            lines.append("Content-Type: text/parameters")
        elif method == "ANNOUNCE":
            body = b"v=0\r\no=- 2 2 IN IP4 %s\r\ns=camsim\r\n" % self.cam.address.encode()
            lines.append("Content-Type: application/sdp")
        if body:
            lines.append("Content-Length: %d" % len(body))
        self.send((eol.join(lines) + eol + eol).encode("latin-1") + body)


# ---- one camera's server ---------------------------------------------------------------


class RawServer(RtspSocketServer):
    def __init__(self, cam, cache_dir):
        self.cam = cam
        self.cache_dir = cache_dir
        self.lock = threading.Lock()
        self.sending = True
        self.opaque = secrets.token_hex(8)
        self.nonces = {}  # nonce -> {"uses": n, "nc": last nc}
        self.listen(cam.address, cam.rtsp_port, "raw rtsp %s" % cam.address)

    def auth_kind(self):
        with self.cam.lock:
            kind = self.cam.extra["raw_rtsp"]["faults"]["auth"]
        return kind or self.cam.auth

    def foreign_address(self):
        a, b, c, d = self.cam.address.split(".")
        return "%s.%s.%s.%d" % (a, b, c, int(d) + 1)

    def udp_pair(self, address):
        """Two UDP sockets on neighbouring ports, the first even, as RTP and RTCP expect."""
        for _ in range(50):
            rtp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            rtp.bind((address, 0))
            port = rtp.getsockname()[1]
            if port % 2 == 0 and port < 65535:
                rtcp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
                try:
                    rtcp.bind((address, port + 1))
                    return rtp, rtcp
                except OSError:
                    rtcp.close()
            rtp.close()
        raise OSError("no free port pair")

    def new_nonce(self):
        nonce = secrets.token_hex(16)
        with self.lock:
            if len(self.nonces) > 1000:
                self.nonces.clear()
            self.nonces[nonce] = {"uses": 0, "nc": 0, "issued": time.monotonic()}
        return nonce

    def check_digest(self, p, method, uri, body, password, f):
        """"ok", "stale"/"renew" (valid answer, nonce used up), or why the answer is refused."""
        realm = self.cam.config["realm"]
        for key in ("username", "realm", "nonce", "uri", "response"):
            if key not in p:
                return "no %s" % key
        if p["username"] != self.cam.user or p["realm"] != realm:
            return "wrong user or realm"
        if p["uri"] != uri:
            return "uri %r is not the request line's %r" % (p["uri"], uri)
        with self.lock:
            state = self.nonces.get(p["nonce"])
        if state is None:
            return "unknown nonce"
        if _int(f["opaque"]) and p.get("opaque") != self.opaque:
            return "opaque not returned"
        algorithm = f["algorithm"] or "MD5"
        if p.get("algorithm", "MD5").lower() != algorithm.lower():
            return "algorithm %s, offered %s" % (p.get("algorithm"), algorithm)
        offered = [q.strip() for q in (f["qop"] or "").split(",") if q.strip() and q.strip() != "none"]
        qop = p.get("qop")
        if offered and qop not in offered:
            return "qop %r not offered" % qop
        if not offered and qop:
            return "qop %r without an offer" % qop
        ha1 = md5hex("%s:%s:%s" % (self.cam.user, realm, password))
        if algorithm.lower() == "md5-sess":
            if not p.get("cnonce"):
                return "MD5-sess without cnonce"
            ha1 = md5hex("%s:%s:%s" % (ha1, p["nonce"], p["cnonce"]))
        if qop == "auth-int":
            ha2 = md5hex("%s:%s:%s" % (method, uri, md5hex(body.decode("latin-1"))))
        else:
            ha2 = md5hex("%s:%s" % (method, uri))
        if qop:
            nc_text = p.get("nc", "")
            if len(nc_text) != 8 or not p.get("cnonce"):
                return "nc %r or cnonce missing" % nc_text
            try:
                nc = int(nc_text, 16)
            except ValueError:
                return "nc %r not hexadecimal" % nc_text
            expect = md5hex("%s:%s:%s:%s:%s:%s" % (ha1, p["nonce"], nc_text, p["cnonce"], qop, ha2))
        else:
            nc = None
            expect = md5hex("%s:%s:%s" % (ha1, p["nonce"], ha2))
        if p["response"] != expect:
            return "wrong response"
        with self.lock:
            if nc is not None:
                if nc <= state["nc"]:
                    return "nc %08x not above %08x" % (nc, state["nc"])
                state["nc"] = nc
            limit_stale, limit_renew = _int(f["stale_after"]), _int(f["renew_after"])
            if limit_stale and state["uses"] >= limit_stale:
                return "stale"
            lifetime = float(f["nonce_seconds"] or 0)
            if lifetime and time.monotonic() - state["issued"] > lifetime:
                return "stale"
            if limit_renew and state["uses"] >= limit_renew:
                return "renew"
            state["uses"] += 1
        return "ok"

    def new_connection(self, conn, peer):
        c = Connection(self, conn, peer)
        c.count("connections")
        return c

    def fault(self, name, **args):
        state = self.cam.extra["raw_rtsp"]
        if name == "set":
            with self.cam.lock:
                for k, v in args.items():
                    if k not in FAULT_DEFAULTS:
                        raise ValueError("unknown raw RTSP fault key %s" % k)
                    state["faults"][k] = v
                return dict(state["faults"])
        if name == "clear":
            with self.cam.lock:
                state["faults"] = dict(FAULT_DEFAULTS)
            return {"ok": True}
        if name == "counts":
            with self.cam.lock:
                return dict(state["counts"])
        if name == "clear_counts":
            with self.cam.lock:
                state["counts"] = new_state(self.cam)["counts"]
            return {"ok": True}
        if name == "end_session":
            self.close_all()
            return {"ok": True}
        if name == "stop_sending":
            self.sending = False
            return {"ok": True}
        if name == "resume_sending":
            self.sending = True
            return {"ok": True}
        raise ValueError("unknown fault %s" % name)


@camera_call("raw_rtsp")
def raw_rtsp_state(ctl, cam, args):
    """GET /camera/<a>/raw_rtsp: the faults in force and what the client did."""
    with cam.lock:
        return ctl.reply(200, cam.extra["raw_rtsp"])


class Servers:
    def __init__(self, servers):
        self.servers = servers

    def stop(self):
        for s in self.servers:
            s.stop()


@register_service
def start(sim):
    cache_dir = getattr(sim, "cache_dir", None) or os.path.join(os.getcwd(), "camsim-cache")
    servers = []
    cams = [c for c in sim.cameras.values() if c.config.get("rtsp_server") == "raw"]
    if not getattr(sim, "rtsp_enabled", True):
        cams = []
    if cams:
        # Before listening: a first DESCRIBE must not wait for the encoder on a busy machine.
        load_clip(cache_dir)
    for cam in cams:
        try:
            cam.rtsp = RawServer(cam, cache_dir)
        except OSError as e:
            log("raw RTSP side of %s not started: %s" % (cam.address, e))
            continue
        servers.append(cam.rtsp)
    return Servers(servers)


# A two-line camera served by GStreamer's server: the encoder each stream's RTSP request selects
# must be the one the driver configured for that stream, at that stream's size.
register_camera({"address": "127.0.0.93", "auth": "basic", "model": "Camsim Dual Line", "video_lines": 2})
