"""RCP+ streaming side of a simulated camera (protocol: docs/RCPPLUS_STREAMING.md).

A client upgrades a GET of "/rcpplus/stream" on the camera's HTTP port and sends CONNECT. For a
receiver (mode 0) asking for MPEG-4 (coding bit 0x002) the camera encodes a live test pattern
with ffmpeg's mpeg4 encoder at the size, frame rate and bit rate the driver set over RCP+ for the
coder selected on that encoder instance (0x0600), and sends each picture as RTP packets of
payload type 34 (a 4-byte RFC 2190 mode A header, then up to 1400 bytes of the elementary
stream; the marker on a picture's last packet). For a sender (mode 1, arg1 2) it accepts audio
while audio is enabled (RCP+ 0x000C) and keeps every TRANSMIT payload with its arrival time for
tests to read back.

Faults (control "streamer_fault", each for the next `count` connections, default 1):
refuse (CONNECTED with error `code`), close (close after `after` packets), stall (stop sending
after `after` packets, keep the connection open), garbage (bytes that are no frame after `after`
packets). With running=1, close, stall or garbage hits the video stream already running instead. "no_ack" (until cleared with name "none") makes the camera stop acknowledging audio:
0x000C reads 0 and writes fail.
"""

import os
import random
import socket
import struct
import subprocess
import threading
import time

from .. import commands  # noqa: F401  (the built-in handlers wrapped below must be registered first)
from ..camera import register_state
from ..common import RESOLUTION_SIZES, ERR_REFUSED, log, parse_number
from ..control import camera_call
from ..http_side import register_http_path
from ..models import register_camera
from ..rcp import COMMANDS, error_reply, number_reply, register_command

MAGIC = 0x52
CONNECT, CONNECTED, PACKET, TRANSMIT, BYE = 1, 2, 3, 4, 5
BOUNDS = {CONNECT: (17, 17), CONNECTED: (12, 12), PACKET: (14, 0xFFFF), TRANSMIT: (2, 0xFFFF), BYE: (4, 4)}
ERR_UNSUPPORTED = 0x30
ERR_AUDIO_OFF = 0x31
RTP_CHUNK = 1400

# Cameras of the streaming tests.
register_camera({"address": "127.0.0.30", "auth": "basic"})
register_camera({"address": "127.0.0.31", "auth": "basic"})
register_camera({"address": "127.0.0.32", "auth": "none"})
register_camera({"address": "127.0.0.33", "auth": "basic"})


class StreamerState:
    """Per-camera state; `lock` guards every field."""

    def __init__(self):
        self.lock = threading.Lock()
        self.faults = []          # [{"name", "count", "after", "code"}]
        self.no_ack = False
        self.connections = []     # one entry per CONNECT: mode, coding, value, arg1, time, result
        self.active = 0
        self.audio_packets = []   # [arrival time, size, payload type]
        self.audio_bytes = bytearray()
        self.video_packets = 0
        self.running_fault = None  # a fault for the streams already running, taken by the first
        self.generation = 0        # raised when the encoder's size changes: running streams end

    def take_running_fault(self):
        with self.lock:
            f, self.running_fault = self.running_fault, None
            return f

    def take_fault(self):
        with self.lock:
            if not self.faults:
                return None
            f = self.faults[0]
            f["count"] -= 1
            if f["count"] <= 0:
                self.faults.pop(0)
            return dict(f)

    def summary(self):
        with self.lock:
            return {"connections": len(self.connections), "active": self.active, "no_ack": self.no_ack,
                    "video_packets": self.video_packets, "audio_packets": len(self.audio_packets)}

    def to_json(self):
        with self.lock:
            return {"connections": list(self.connections), "active": self.active, "no_ack": self.no_ack,
                    "faults": list(self.faults), "video_packets": self.video_packets,
                    "audio_packets": list(self.audio_packets), "audio_bytes": self.audio_bytes.hex()}


register_state("streamer", lambda cam: StreamerState(), view=lambda st: st.summary())


def state(cam):
    with cam.lock:
        return cam.extra["streamer"]


def encoder_changed(cam):
    """The simulated encoder restarts on a new size, like cameras do: video streams end and their
    clients reconnect at the new size."""
    st = state(cam)
    with st.lock:
        st.generation += 1


def acknowledges_audio(cam):
    return not state(cam).no_ack


@camera_call("streamer_state")
def streamer_state(ctl, cam, a):
    return ctl.reply(200, state(cam).to_json())


@camera_call("streamer_clear")
def streamer_clear(ctl, cam, a):
    st = state(cam)
    with st.lock:
        st.audio_packets = []
        st.audio_bytes = bytearray()
        st.connections = []
        st.video_packets = 0
    return ctl.reply(200, {"ok": True})


@camera_call("streamer_fault")
def streamer_fault(ctl, cam, a):
    st = state(cam)
    name = a.get("name", "none")
    with st.lock:
        if name == "none":
            st.faults = []
            st.no_ack = False
        elif name == "no_ack":
            st.no_ack = True
        elif name in ("close", "stall", "garbage") and a.get("running") in ("1", 1, True):
            st.running_fault = name
        elif name in ("refuse", "close", "stall", "garbage"):
            st.faults.append({"name": name, "count": int(a.get("count", 1)),
                              "after": int(a.get("after", 0)), "code": int(a.get("code", ERR_REFUSED))})
        else:
            return ctl.reply(400, {"error": "unknown streamer fault " + name})
    return ctl.reply(200, {"ok": True})


def frame(kind, payload):
    return struct.pack(">BBH", MAGIC, kind, len(payload)) + payload


def read_frame(rfile):
    head = rfile.read(4)
    if len(head) < 4:
        return None
    magic, kind, length = struct.unpack(">BBH", head)
    if magic != MAGIC or kind not in BOUNDS or not BOUNDS[kind][0] <= length <= BOUNDS[kind][1]:
        raise ValueError("garbage from the client")
    payload = rfile.read(length)
    if len(payload) < length:
        return None
    return kind, payload


def coder_settings(cam, instance):
    """What the driver set for the coder it selected on `instance`; defaults where it set nothing."""
    with cam.lock:
        coder = parse_number(str(cam.values.get("0x0600/%d" % instance, "")))
        settings = None
        if isinstance(coder, int) and 1 <= coder <= 16:
            line, live = (coder + 1) // 2, coder % 2 == 0
            s = cam.settings.get(line)
            settings = dict((s["live"] if live else s) if s else cam.coders.get(coder, {}))
        settings = settings or {}
    size = RESOLUTION_SIZES.get(settings.get("resolution_code"), (352, 288))
    rate = max(1, min(30, int(settings.get("frame_rate") or 25)))
    kbps = max(64, min(8000, int(settings.get("bitrate_kbps") or 1000)))
    return size, rate, kbps


def serve(handler, cam, auth):
    """Takes the connection of an authenticated GET /rcpplus/stream over."""
    if handler.command != "GET":
        handler.record(405, auth)
        handler.send_body(405, b"GET only", "text/plain")
        return
    handler.record(101, auth, "rcpplus stream")
    st = state(cam)
    handler.close_connection = True
    sock = handler.connection
    send_lock = threading.Lock()

    def send(data):
        with send_lock:
            sock.sendall(data)

    try:
        send(b"HTTP/1.1 101 Switching Protocols\r\nUpgrade: rcpplus-stream/1\r\nConnection: Upgrade\r\n\r\n")
        sock.settimeout(10)
        got = read_frame(handler.rfile)
        if got is None or got[0] != CONNECT:
            return
        mode, coding, value, arg1, arg2, client = struct.unpack(">HHBIII", got[1])
        entry = {"time": time.time(), "mode": mode, "coding": coding, "value": value, "arg1": arg1,
                 "arg2": arg2, "result": 0}
        fault = st.take_fault()
        error = 0
        if fault and fault["name"] == "refuse":
            error = fault["code"]
        elif mode == 0 and not coding & 0x002:
            error = ERR_UNSUPPORTED  # this camera encodes MPEG-4 only on this path
        elif mode == 1 and arg1 != 2:
            error = ERR_UNSUPPORTED
        elif mode == 1 and (not cam.audio_enabled or st.no_ack):
            error = ERR_AUDIO_OFF
        elif mode not in (0, 1):
            error = ERR_UNSUPPORTED
        entry["result"] = error
        entry["fault"] = fault["name"] if fault else None
        with st.lock:
            st.connections.append(entry)
            if len(st.connections) > 1000:
                del st.connections[:100]
        send(frame(CONNECTED, struct.pack(">III", (0xFFCC << 16) | 0x31, client, error)))
        if error:
            return
        with st.lock:
            st.active += 1
        try:
            if mode == 0:
                stream_video(handler, cam, st, value, send, fault)
            else:
                receive_audio(handler, st)
        finally:
            with st.lock:
                st.active -= 1
    except (ValueError, struct.error) as e:
        log("%s: streaming client sent garbage (%s); connection closed" % (cam.address, e))
    except OSError:
        pass  # the client went away: an ordinary end
    finally:
        try:
            sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


def receive_audio(handler, st):
    handler.connection.settimeout(None)
    while True:
        got = read_frame(handler.rfile)
        if got is None or got[0] == BYE:
            return
        kind, payload = got
        if kind != TRANSMIT:
            return
        now = time.time()
        with st.lock:
            st.audio_packets.append([now, len(payload) - 1, payload[0]])
            st.audio_bytes += payload[1:]
            if len(st.audio_bytes) > 16 << 20:
                del st.audio_bytes[:8 << 20]


def split_pictures(buf):
    """Pops whole pictures (headers before a VOP, the VOP) off `buf`; the last one stays until the
    next start code shows where it ends."""
    out = []
    while True:
        vop = buf.find(b"\x00\x00\x01\xb6")
        if vop < 0:
            return out
        end = buf.find(b"\x00\x00\x01", vop + 4)
        if end < 0:
            return out
        out.append(bytes(buf[:end]))
        del buf[:end]


def stream_video(handler, cam, st, instance, send, fault):
    (width, height), rate, kbps = coder_settings(cam, instance)
    cmd = ["ffmpeg", "-hide_banner", "-loglevel", "error", "-re", "-f", "lavfi", "-i",
           "testsrc=size=%dx%d:rate=%d" % (width, height, rate), "-c:v", "mpeg4", "-b:v", "%dk" % kbps,
           "-g", str(rate), "-bf", "0", "-f", "m4v", "pipe:1"]
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    done = threading.Event()

    def watch_client():
        # The client's BYE or close ends the stream; anything else from it is garbage.
        handler.connection.settimeout(None)
        try:
            while True:
                got = read_frame(handler.rfile)
                if got is None or got[0] == BYE:
                    break
        except (OSError, ValueError):
            pass
        done.set()

    threading.Thread(target=watch_client, daemon=True).start()
    seq = random.randint(0, 0xFFFF)
    ssrc = random.randint(1, 0xFFFFFFFF)
    ts0 = random.randint(0, 0xFFFFFFFF)
    sent = 0
    picture = 0
    buf = bytearray()
    after = fault["after"] if fault else 0
    with st.lock:
        generation = st.generation
    kind = fault["name"] if fault else None
    try:
        while not done.is_set():
            chunk = proc.stdout.read1(65536) if hasattr(proc.stdout, "read1") else proc.stdout.read(4096)
            if not chunk:
                return
            buf += chunk
            for pic in split_pictures(buf):
                ts = (ts0 + picture * 90000 // rate) & 0xFFFFFFFF
                picture += 1
                pieces = [pic[i:i + RTP_CHUNK] for i in range(0, len(pic), RTP_CHUNK)]
                for n, piece in enumerate(pieces):
                    if done.is_set():
                        return
                    if st.generation != generation:
                        return
                    running = st.take_running_fault() if n == 0 else None
                    if running:
                        kind, after = running, 0
                    if kind and sent >= after:
                        if kind == "close":
                            return
                        if kind == "stall":
                            done.wait()
                            return
                        if kind == "garbage":
                            send(os.urandom(512))
                            done.wait(5)
                            return
                    marker = 0x80 if n == len(pieces) - 1 else 0
                    rtp = struct.pack(">BBHII", 0x80, marker | 34, seq, ts, ssrc)
                    seq = (seq + 1) & 0xFFFF
                    # RFC 2190 mode A header: F=0 P=0 SBIT=0 EBIT=0; the rest is not read.
                    send(frame(PACKET, b"\xff" + rtp + b"\x00\x00\x00\x00" + piece))
                    sent += 1
                    with st.lock:
                        st.video_packets += 1
    finally:
        proc.kill()
        proc.wait()


register_http_path("/rcpplus/stream", serve)


# The camera's side of RCP+: a new size restarts the streams; 0x000C follows the no_ack fault.
def _wrap(code, wrapper):
    original = COMMANDS[code]
    register_command(code, original.types, wrapper(original.handler), original.directions, replace=True)


def _restarting(handler):
    def cmd(h, direction, typ, num, payload, session):
        s = h.settings_for_coder(num)
        before = s.get("resolution_code") if s is not None else None
        reply = handler(h, direction, typ, num, payload, session)
        after = s.get("resolution_code") if s is not None else None
        if reply.err is None and before is not None and after != before:
            encoder_changed(h.cam)
        return reply
    return cmd


def _acknowledging(handler):
    def cmd(h, direction, typ, num, payload, session):
        if not acknowledges_audio(h.cam):
            return number_reply(0) if direction == "READ" else error_reply(ERR_REFUSED)
        return handler(h, direction, typ, num, payload, session)
    return cmd


_wrap(0x0608, _restarting)
_wrap(0x000C, _acknowledging)
