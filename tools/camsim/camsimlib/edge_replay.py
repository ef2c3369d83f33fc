"""RTSP side of a camera that records what it streams onto its own storage (edge storage).

Cameras whose configuration has "rtsp_server": "edge" are served by this small RTSP/1.0 server
instead of GStreamer's: the replay path needs frames with known capture times, a seek point and
RTP timestamps relative to it, which a GStreamer pipeline does not give easily.

What it streams is one pre-encoded H.264 clip (ffmpeg, 320x240, 10 fps, a key frame every
second, 10 s long), laid onto the wall clock: the frame shown at time t is clip frame
(t * fps) mod clip length, so every whole second starts with a key frame. Live sessions send the
frame of "now"; the storage holds the same frames for the recording window (from the camera's
start, at most `storage_seconds` back), listed as 10-second recordings. A replay session
(query "rec=1&rnd=<key>") follows the RCP+ replay session of that key: before any seek it sends
the current frames, 0x0902 "0" stops it, 0x0905 seeks, 0x0902 non-zero plays from the seek
point at `replay_speed` times real time (never past now), the first frame at the seek second
with RTP timestamps counted from it.

Transports: RTP over UDP unicast (client_port) and interleaved on the RTSP connection.
No authentication (configure these cameras with "auth": "none").

Faults (handle.fault): "link_down" (seconds=N): every RTSP connection is closed and new ones are
closed at once for N seconds while the recording goes on; "link_up" ends it early.
What real recorders' cameras also do, for the replay: "end_short" (seconds=S): the replay of a
recording stops S seconds before the end the recordings list gives (0 = plays to the end);
"session_zero" (on=1|0): the RCP+ replay session id (0x0AE8) reads 0; "replay_close" (count=N,
-1 = every one): the next N replay connections are closed right after PLAY, without data;
"replay_normal" ends those three. "stats" counts the RTSP connections accepted (live and replay,
by their DESCRIBE) and refused since the last "stats_reset", so a test can see a connection storm.
"""

import random
import socket
import struct
import subprocess
import threading
import time
import base64

from . import h264_rtp
from .h264_rtp import access_units, clip_command
from .rtsp_socket_server import RtspSocketServer, rtsp_stream

CAMERA_EPOCH = 946684800
NTP_EPOCH_OFFSET = 2208988800  # seconds from 1900 (NTP) to 1970 (Unix)
FPS = 10
CLIP_FRAMES = 100
SEGMENT_SECONDS = 10
MAX_PAYLOAD = 1400
WIDTH, HEIGHT = 320, 240

_clip_lock = threading.Lock()
_clip = None  # (access units [list of NAL bytes], sps, pps)


def log(msg):
    import sys
    sys.stderr.write("%s edge_replay: %s\n" % (time.strftime("%H:%M:%S"), msg))
    sys.stderr.flush()


def load_clip():
    global _clip
    with _clip_lock:
        if _clip is not None:
            return _clip
        cmd = clip_command(WIDTH, HEIGHT, FPS, CLIP_FRAMES, "-")
        data = subprocess.run(cmd, check=True, stdout=subprocess.PIPE).stdout
        units, sps, pps = access_units(data)
        if len(units) != CLIP_FRAMES or sps is None or pps is None:
            raise RuntimeError("clip has %d access units" % len(units))
        _clip = (units, sps, pps)
        return _clip


def packetize(nals, seq, ts, ssrc):
    return h264_rtp.packetize(nals, seq, ts, ssrc, MAX_PAYLOAD)


class Session:
    """One RTSP connection with at most one session."""

    def __init__(self, server, conn, peer):
        self.server = server
        self.cam = server.cam
        self.conn = conn
        self.peer = peer
        self.send_lock = threading.Lock()
        self.closed = threading.Event()
        self.query = ""
        self.transport = None  # ("udp", (ip, port)) | ("tcp", channel)
        self.udp = None
        self.sender = None
        self.session_id = "%08X" % random.getrandbits(32)

    def close(self):
        self.closed.set()
        try:
            self.conn.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        try:
            self.conn.close()
        except OSError:
            pass
        if self.udp is not None:
            try:
                self.udp.close()
            except OSError:
                pass

    # -- RTSP ----------------------------------------------------------------------------
    def run(self):
        try:
            for item in rtsp_stream(self.conn, self.closed):
                if item[0] == "message":
                    self.handle(item[2], item[3])  # RTCP from the client is ignored
        except OSError:
            pass
        finally:
            self.close()
            self.server.forget(self)

    def reply(self, cseq, status="200 OK", headers=(), body=b""):
        text = "RTSP/1.0 %s\r\nCSeq: %s\r\n" % (status, cseq)
        for h in headers:
            text += h + "\r\n"
        if body:
            text += "Content-Length: %d\r\n" % len(body)
        text += "\r\n"
        self.send(text.encode("latin-1") + body)

    def send(self, data):
        with self.send_lock:
            self.conn.sendall(data)

    def handle(self, request_line, hdr):
        method, url = request_line.split(" ")[:2]
        cseq = hdr.get("cseq", "0")
        log("%s %s %s%s" % (self.cam.address, method, url,
                             (" transport=" + hdr["transport"]) if "transport" in hdr else ""))
        if "?" in url and method in ("DESCRIBE", "SETUP"):
            q = url.split("?", 1)[1]
            if method == "DESCRIBE" or not self.query:
                self.query = q.split("/")[0]
        sess = ["Session: %s;timeout=60" % self.session_id]
        if method == "OPTIONS":
            self.reply(cseq, headers=["Public: OPTIONS, DESCRIBE, SETUP, PLAY, PAUSE, TEARDOWN, GET_PARAMETER"])
        elif method == "DESCRIBE":
            self.server.count("replay" if "rec=1" in self.query else "live")
            units, sps, pps = load_clip()
            sprop = base64.b64encode(sps).decode() + "," + base64.b64encode(pps).decode()
            sdp = ("v=0\r\no=- 1 1 IN IP4 %s\r\ns=camsim edge\r\nc=IN IP4 0.0.0.0\r\nt=0 0\r\n"
                   "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n"
                   "a=fmtp:96 packetization-mode=1;profile-level-id=42c01e;sprop-parameter-sets=%s\r\n"
                   "a=control:stream=0\r\n" % (self.cam.address, sprop))
            self.reply(cseq, headers=["Content-Type: application/sdp",
                                      "Content-Base: rtsp://%s:554/" % self.cam.address], body=sdp.encode())
        elif method == "SETUP":
            t = hdr.get("transport", "")
            if "interleaved=" in t or "/TCP" in t.upper():
                # A client that names no channels leaves them to the server (RFC 2326 12.39).
                ch = int(t.split("interleaved=")[1].split("-")[0].split(";")[0]) if "interleaved=" in t else 0
                self.transport = ("tcp", ch)
                out = "RTP/AVP/TCP;unicast;interleaved=%d-%d" % (ch, ch + 1)
            elif "client_port=" in t:
                port = int(t.split("client_port=")[1].split("-")[0].split(";")[0])
                self.udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
                self.udp.bind((self.cam.address, 0))
                sp = self.udp.getsockname()[1]
                self.transport = ("udp", (self.peer[0], port))
                out = "RTP/AVP;unicast;client_port=%d-%d;server_port=%d-%d" % (port, port + 1, sp, sp + 1)
            else:
                self.reply(cseq, "461 Unsupported Transport")
                return
            self.reply(cseq, headers=["Transport: " + out] + sess)
        elif method == "PLAY":
            if self.transport is None:
                self.reply(cseq, "455 Method Not Valid in This State")
                return
            self.reply(cseq, headers=sess + ["Range: npt=0.000-"])
            if "rec=1" in self.query and self.server.take_replay_close():
                log("%s replay connection closed without data" % self.cam.address)
                self.closed.set()
                self.close()
                return
            if self.sender is None:
                target = self.replay if "rec=1" in self.query else self.live
                self.sender = threading.Thread(target=target, daemon=True, name="edge sender")
                self.sender.start()
        elif method in ("GET_PARAMETER", "PAUSE"):
            self.reply(cseq, headers=sess)
        elif method == "TEARDOWN":
            self.reply(cseq, headers=sess)
            self.closed.set()
        else:
            self.reply(cseq, "501 Not Implemented")

    # -- media ---------------------------------------------------------------------------
    def send_packets(self, pkts):
        kind, where = self.transport
        for p in pkts:
            if kind == "tcp":
                self.send(b"$" + bytes([where]) + struct.pack("!H", len(p)) + p)
            else:
                self.udp.sendto(p, where)

    def sender_report(self, ssrc, k, rtp, packets, octets):
        """RTCP sender report (RFC 3550 6.4.1) for frame k: the camera's clock, which is also what
        its recordings are timed by, against the stream's RTP clock."""
        seconds = k // FPS + NTP_EPOCH_OFFSET
        fraction = ((k % FPS) << 32) // FPS
        sr = struct.pack("!BBHIIIIII", 0x80, 200, 6, ssrc, seconds & 0xFFFFFFFF, fraction,
                         rtp & 0xFFFFFFFF, packets & 0xFFFFFFFF, octets & 0xFFFFFFFF)
        kind, where = self.transport
        if kind == "tcp":
            self.send(b"$" + bytes([where + 1]) + struct.pack("!H", len(sr)) + sr)
        else:
            self.udp.sendto(sr, (where[0], where[1] + 1))

    def live(self):
        units = load_clip()[0]
        ssrc = random.getrandbits(32)
        seq = random.getrandbits(16)
        offset = random.getrandbits(32)
        k = int(time.time() * FPS) + 1
        packets = octets = 0
        try:
            while not self.closed.is_set():
                delay = k / FPS - time.time()
                if delay > 0 and self.closed.wait(delay):
                    break
                if self.server.sending:
                    rtp = (offset + k * (90000 // FPS)) & 0xFFFFFFFF
                    # One report before the first frame, then one every two seconds.
                    if packets == 0 or k % (2 * FPS) == 0:
                        self.sender_report(ssrc, k, rtp, packets, octets)
                    pkts, seq = packetize(units[k % CLIP_FRAMES], seq, rtp, ssrc)
                    self.send_packets(pkts)
                    packets += len(pkts)
                    octets += sum(len(p) - 12 for p in pkts)
                k += 1
        except OSError:
            self.close()

    def rcp_session(self, key):
        for s in self.cam.sessions.values():
            if s.get("key") == key:
                return s
        return None

    def replay(self):
        units = load_clip()[0]
        ssrc = random.getrandbits(32)
        seq = random.getrandbits(16)
        try:
            key = int(dict(p.split("=", 1) for p in self.query.split("&") if "=" in p).get("rnd", "0"))
        except ValueError:
            key = 0
        speed = float(self.cam.config.get("replay_speed", 4))
        with self.cam.lock:
            s = self.rcp_session(key)
            if s is not None:
                # A new replay connection is a new replay: what an earlier connection of the same
                # key was told (stop, seek, play) does not carry over, or a retry would get nothing.
                s.update(playing=False, seek=None, gen=0)
        mode, gen = None, None
        k = start_k = 0
        ts0 = 0
        next_at = 0.0
        try:
            while not self.closed.is_set():
                with self.cam.lock:
                    s = self.rcp_session(key)
                    state = None if s is None else (s.get("gen", 0), s.get("playing"), s.get("seek"))
                if state is None or state[0] == 0:
                    # No replay command yet: what the camera holds at its current position.
                    if mode != "edge":
                        mode, k = "edge", int(time.time() * FPS) + 1
                    if k / FPS > time.time():
                        self.closed.wait(k / FPS - time.time())
                        continue
                    pkts, seq = packetize(units[k % CLIP_FRAMES], seq, k * (90000 // FPS), ssrc)
                    self.send_packets(pkts)
                    k += 1
                    continue
                if state[0] != gen:
                    gen = state[0]
                    mode = "play" if state[1] else "stopped"
                    if mode == "play":
                        seek = state[2] if state[2] is not None else int(time.time()) - CAMERA_EPOCH
                        start_k = k = (seek + CAMERA_EPOCH) * FPS
                        # The recording holding the seek point ends at the next segment boundary.
                        seg_end = ((seek + CAMERA_EPOCH) // SEGMENT_SECONDS + 1) * SEGMENT_SECONDS
                        ts0 = random.getrandbits(31) + 1
                        next_at = time.time()
                short = self.server.end_short
                if mode != "play" or (short > 0 and k / FPS >= seg_end - short):
                    self.closed.wait(0.01)
                    continue
                # Never ahead of what has been recorded, never faster than the replay speed.
                now = time.time()
                if k / FPS > now or next_at > now:
                    self.closed.wait(max(0.002, max(next_at, k / FPS) - now))
                    continue
                pkts, seq = packetize(units[k % CLIP_FRAMES], seq, ts0 + (k - start_k) * (90000 // FPS), ssrc)
                self.send_packets(pkts)
                k += 1
                next_at += 1.0 / (FPS * speed)
        except OSError:
            self.close()


class EdgeServer(RtspSocketServer):
    def __init__(self, cam):
        self.cam = cam
        self.sending = True
        self.down_until = 0.0
        self.started = time.time()
        self.end_short = 0.0
        self.replay_close = 0
        self.session_base = cam.config.get("session_base")
        self.counts = {"live": 0, "replay": 0, "refused": 0}
        self.listen(cam.address, getattr(cam, "rtsp_port", 554), "edge rtsp %s" % cam.address)
        cam.live_recording = self.recordings
        threading.Thread(target=load_clip, daemon=True).start()

    def new_connection(self, conn, peer):
        # While the link is down the camera is unreachable: connections end at once.
        if time.time() < self.down_until:
            self.count("refused")
            return None
        return Session(self, conn, peer)

    def count(self, kind):
        with self.lock:
            self.counts[kind] += 1

    def take_replay_close(self):
        with self.lock:
            if self.replay_close == 0:
                return False
            if self.replay_close > 0:
                self.replay_close -= 1
            return True

    def recordings(self):
        """[[start, end], ...] camera seconds: 10-second pieces of the recording window."""
        if not self.cam.config.get("storage", True):
            return []
        now = int(time.time())
        first = max(int(self.started), now - int(self.cam.config.get("storage_seconds", 600)))
        out = []
        s = first - first % SEGMENT_SECONDS
        while s < now:
            a, b = max(s, first), min(s + SEGMENT_SECONDS, now)
            if b > a:
                out.append([a - CAMERA_EPOCH, b - CAMERA_EPOCH])
            s += SEGMENT_SECONDS
        return out

    def fault(self, name, **args):
        if name == "link_down":
            seconds = float(args.get("seconds", 20))
            self.down_until = time.time() + seconds
            self.close_all()
            return {"ok": True, "down_until": self.down_until}
        if name == "link_up":
            self.down_until = 0.0
            return {"ok": True}
        if name == "stop_sending":
            self.sending = False
            return {"ok": True}
        if name == "resume_sending":
            self.sending = True
            return {"ok": True}
        if name == "end_session":
            self.close_all()
            return {"ok": True}
        if name == "end_short":
            self.end_short = float(args.get("seconds", 0.5))
            return {"ok": True}
        if name == "session_zero":
            on = str(args.get("on", "1")) not in ("0", "false")
            with self.cam.lock:
                self.cam.config["session_base"] = 0 if on else self.session_base
            return {"ok": True}
        if name == "replay_close":
            with self.lock:
                self.replay_close = int(args.get("count", -1))
            return {"ok": True}
        if name == "replay_normal":
            self.end_short = 0.0
            with self.lock:
                self.replay_close = 0
            with self.cam.lock:
                self.cam.config["session_base"] = self.session_base
            return {"ok": True}
        if name == "stats":
            with self.lock:
                return dict(self.counts)
        if name == "stats_reset":
            with self.lock:
                self.counts = {"live": 0, "replay": 0, "refused": 0}
            return {"ok": True}
        raise ValueError("unknown fault %s" % name)


def start(cam):
    return EdgeServer(cam)
