#!/usr/bin/python3
"""Camera simulator: several simulated IP cameras in one process.

Each camera listens on its own loopback address (127.0.0.x) and answers the RCP+ requests on
"/rcp.xml" and the snapshot requests on "/snap.jpg" from a state model that tests can read back
and steer through a JSON control interface (default 127.0.0.1:18080). See README.md.

Only the Python standard library is used for HTTP; ffmpeg renders the snapshot pictures once at
start-up. When tools/camsim/rtsp_server.py imports, its start(camera) is called for every camera
so that the RTSP side streams what the driver configured here.
"""

import argparse
import base64
import copy
import hashlib
import json
import os
import random
import secrets
import signal
import socket
import subprocess
import sys
import threading
import time
import traceback
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

HERE = os.path.dirname(os.path.abspath(__file__))

# RCP+ error codes this simulator reports (the wire value of <err>).
ERR_UNKNOWN_COMMAND = 0x10
ERR_BAD_DIRECTION = 0x20
ERR_BAD_NUM = 0x40
ERR_BAD_PAYLOAD = 0x60
ERR_REFUSED = 0x0A

TYPES = ("F_FLAG", "T_OCTET", "T_INT", "T_DWORD", "P_OCTET", "P_STRING", "P_ULONG")

# Seconds between 1970-01-01 and 2000-01-01: camera times count from the latter.
CAMERA_EPOCH = 946684800
# The newest of the sources this process runs, taken at start-up: camsimctl.sh compares it with
# the files on disk to replace a daemon that runs older code (of either side).
SOURCE_MTIME = max(os.path.getmtime(os.path.join(os.path.dirname(os.path.abspath(__file__)), f))
                   for f in ("camsim.py", "rtsp_server.py", "edge_replay.py")
                   if os.path.exists(os.path.join(os.path.dirname(os.path.abspath(__file__)), f)))

# Snapshot size classes as the driver asks for them ("JpegSize=S|M|L|XL").
SNAP_SIZES = {"S": (176, 144), "M": (352, 288), "L": (704, 288), "XL": (704, 576)}

# H.264/MPEG-4 resolution codes written with 0x0608, as sizes (for the RTSP side).
RESOLUTION_SIZES = {
    0: (176, 144), 1: (352, 288), 2: (704, 288), 3: (704, 576), 6: (320, 240), 7: (640, 480),
    8: (256, 144), 9: (512, 288), 10: (768, 432), 12: (1280, 720), 14: (1920, 1080), 15: (2592, 1944),
}


def log(msg):
    sys.stderr.write("%s camsim: %s\n" % (time.strftime("%H:%M:%S"), msg))
    sys.stderr.flush()


# ---------------------------------------------------------------------------------------------
# Camera configuration: the fixed facts of a simulated camera.
# ---------------------------------------------------------------------------------------------

BASE_CONFIG = {
    "port": 80,
    "auth": "basic",            # "none" | "basic" | "digest"
    "challenge": None,          # schemes announced in a 401, in order; default [auth]
    "user": "service",
    "password": "camsim",
    "realm": "camsim",
    "model": "Camsim HD 1080",
    "firmware": "7.80.0128",
    "mac": [0x00, 0x1B, 0x2C, 0x03, 0x04, 0x05],
    "video_lines": 1,
    "encoders": 2,              # 0x0504
    "frame_rate_milli": 30000,  # 0x0AD6
    "inputs": 2,                # 0x01DB
    "outputs": 2,               # 0x01DC
    "storage": True,            # 0x09D4
    "login_string": "service",  # 0x028B num 2
    # Capability list (0xFF10): the six masks and audio elements announced.
    "capabilities": {"mask1": 0x0006, "mask2": 0x03EF, "mask3": 0x0001, "mask4": 0x0001,
                     "mask5": 0x0001, "mask6": 0x0000},
    # Record list (0x0C00) per line: [value, width, height].
    "records": [[30, 1920, 1080], [30, 1280, 720], [30, 640, 480]],
    # Encoder profile pairs (0x0AF9) per line: [first, second]; empty = no list.
    "profiles": [],
    "encoder_instances": [1, 2, 3],  # 0xFF11
    "encoder_mode": [0, 0, 0, 0, 0, 0, 0, 0],  # 0x0AD3
    "dewarp": [0],              # 0x0BF6
    "ptz_octet": 0,             # 0x01F1
    "accepts_0a82": True,       # quantizer set-up
    "refuses_io_exchange": False,  # 0x09A5 input set-up refused (driver falls back to 0x008D)
    "session_base": 0x1000,     # 0x0AE8 answers session_base + key (0 = no session)
    # Recordings on the storage: [start, end] in camera seconds; None = generated around now.
    "recordings": None,
    # Extra RCP+ errors: "0xCMD" or "0xCMD/num" -> error code.
    "rcp_errors": {},
    "xml_declaration": '<?xml version="1.0" encoding="iso-8859-1"?>',
    # Pre-encoded H.264 clip (MP4) served, from its start, to every live H.264 stream instead
    # of an encoded test pattern (benchmarks); None = encode live.
    "rtsp_clip": None,
    # "edge": served by edge_replay.py (a camera that records what it streams; replay of that
    # recording); None = GStreamer's server (rtsp_server.py).
    "rtsp_server": None,
    "replay_speed": 4,          # edge replay: times real time
    "storage_seconds": 600,     # edge replay: how far back the recording reaches
}

DEFAULT_CAMERAS = [
    {"address": "127.0.0.10", "auth": "basic"},
    {"address": "127.0.0.11", "auth": "digest"},
    {"address": "127.0.0.12", "auth": "none"},
    {"address": "127.0.0.13", "auth": "basic", "port": 443},
    {"address": "127.0.0.14", "auth": "digest", "challenge": ["Digest", "Basic"]},
    {"address": "127.0.0.15", "auth": "basic", "model": "Camsim Encoder 4", "video_lines": 4,
     "encoders": 8, "inputs": 4, "outputs": 1, "storage": False, "accepts_0a82": False,
     "profiles": [[4, 3], [6, 3], [6, 4]], "encoder_mode": [0, 0, 0, 6, 0, 0, 0, 3]},
    {"address": "127.0.0.16", "auth": "basic", "model": "VG5 AutoDome Sim", "ptz_octet": 0x01,
     "capabilities": {"mask1": 0x0006, "mask2": 0x01EF, "mask3": 0x0001, "mask4": 0x0000,
                      "mask5": 0x0001, "mask6": 0x0001}},
    {"address": "127.0.0.17", "auth": "basic", "model": "Camsim Panoramic 2",
     "video_lines": 2, "dewarp": [1], "profiles": [[23, 0], [0, 22], [20, 3]],
     "encoder_mode": [0, 0, 0, 23, 0, 0, 0, 0], "frame_rate_milli": 25000,
     "capabilities": {"mask1": 0x0004, "mask2": 0x1000, "mask3": 0x0001, "mask4": 0x0001,
                      "mask5": 0x0000, "mask6": 0x0000}},
    {"address": "127.0.0.18", "auth": "basic", "model": "Camsim Encoder 1 SD", "encoders": 1,
     "frame_rate_milli": 25000, "storage": False, "records": [], "inputs": 1, "outputs": 1,
     "refuses_io_exchange": True,
     "capabilities": {"mask1": 0x0006, "mask2": 0x000F, "mask3": 0x0001, "mask4": 0x0001,
                      "mask5": 0x0000, "mask6": 0x0000}},
    {"address": "127.0.0.19", "auth": "basic", "session_base": 0, "storage": True},
    # Plain cameras of their own for long-running end-to-end tests, so that a test that
    # rewrites a camera's settings never ends the sessions of another running beside it.
    {"address": "127.0.0.20", "auth": "none"},
    {"address": "127.0.0.21", "auth": "none"},
    # Cameras that record what they stream (edge storage replay, edge_replay.py); .81 has no
    # storage.
    {"address": "127.0.0.80", "auth": "none", "rtsp_server": "edge"},
    {"address": "127.0.0.81", "auth": "none", "rtsp_server": "edge", "storage": False},
    {"address": "127.0.0.82", "auth": "none", "rtsp_server": "edge", "replay_speed": 1},
    {"address": "127.0.0.83", "auth": "none", "rtsp_server": "edge"},
]


def make_config(overrides):
    cfg = copy.deepcopy(BASE_CONFIG)
    for k, v in overrides.items():
        cfg[k] = copy.deepcopy(v)
    if not cfg.get("challenge"):
        cfg["challenge"] = {"basic": ["Basic"], "digest": ["Digest"]}.get(cfg["auth"], [])
    return cfg


# ---------------------------------------------------------------------------------------------
# Byte layouts the driver parses.
# ---------------------------------------------------------------------------------------------

def u16(v):
    return (v & 0xFFFF).to_bytes(2, "big")


def u32(v):
    return (v & 0xFFFFFFFF).to_bytes(4, "big")


def capability_list(caps):
    """0xFF10 reply: magic 0xBABA, version 1, sections of 16-bit words."""
    sections = [
        # type 1 (video): element id 1 carries mask 1 and mask 2; id 7 is an element the
        # driver skips (8 bytes).
        (1, [u16(1) + u16(0) + u16(caps["mask1"]) + u16(0) + u16(caps["mask2"]),
             u16(7) + bytes(8)]),
        # type 2 (audio): id 1 mask 3, id 2 mask 4, id 9 nothing more.
        (2, [u16(1) + u16(0) + u16(caps["mask3"]), u16(2) + u16(0) + u16(caps["mask4"]),
             u16(9)]),
        (3, [u16(caps["mask5"]) + u16(0)]),
        (4, [u16(caps["mask6"]) + u16(0)]),
        (5, [bytes(4)]),
    ]
    out = u16(0xBABA) + u16(1) + u16(len(sections))
    for stype, elements in sections:
        body = b"".join(elements)
        out += u16(stype) + u16(len(body)) + u16(len(elements)) + body
    return out


def record_list(records):
    """0x0C00 reply: 20-byte records: 2 x u16 (ignored), u32 value, u32 width, u32 height, u32."""
    out = b""
    for i, (value, width, height) in enumerate(records):
        out += u16(1) + u16(i) + u32(value) + u32(width) + u32(height) + u32(0)
    return out


def profile_list(profiles):
    """0x0AF9 reply: 12-byte records; byte 7 the first code, byte 11 the second."""
    out = b""
    for first, second in profiles:
        rec = bytearray(12)
        rec[7] = first & 0xFF
        rec[11] = second & 0xFF
        out += bytes(rec)
    return out


def hexbytes(data):
    return " ".join("%02x" % b for b in data)


def parse_payload_bytes(text):
    """"0x0102ab" -> bytes; None when not a hex byte string."""
    if text is None:
        return None
    t = text.strip()
    if t[:2].lower() == "0x":
        t = t[2:]
    if len(t) % 2 or any(c not in "0123456789abcdefABCDEF" for c in t):
        return None
    return bytes.fromhex(t)


def parse_number(text):
    t = (text or "").strip()
    try:
        return int(t, 16) if t[:2].lower() == "0x" else int(t, 10)
    except ValueError:
        return None


# ---------------------------------------------------------------------------------------------
# Camera state.
# ---------------------------------------------------------------------------------------------

class Fault:
    """An injected misbehaviour: applies to requests whose target contains `match`."""

    def __init__(self, kind, match="", count=1, **args):
        self.kind = kind
        self.match = match or ""
        self.count = int(count)  # <= 0: until cleared
        self.args = args

    def to_json(self):
        return {"kind": self.kind, "match": self.match, "count": self.count, "args": self.args}


class Camera:
    """One simulated camera. `lock` guards every field below it.

    The RTSP side reads `address`, `user`, `password`, `auth` and `settings` (see README.md).
    """

    def __init__(self, cfg):
        self.config = cfg
        self.address = cfg["address"]
        self.http_port = cfg["port"]
        self.rtsp_port = 554
        self.user = cfg["user"]
        self.password = cfg["password"]
        self.auth = cfg["auth"]
        self.rtsp_clip = cfg["rtsp_clip"]
        self.lock = threading.RLock()
        self.rtsp = None  # what rtsp_server.start returned
        self.reset()

    # State that the driver or a test may change; reset() restores it from the configuration.
    def reset(self):
        cfg = self.config
        with self.lock:
            self.values = {}        # "0xCMD/num" -> last written value (int, text or hex bytes)
            self.writes = []        # every write, in order
            self.inputs = {i + 1: 0 for i in range(cfg["inputs"])}
            self.outputs = {i + 1: 0 for i in range(cfg["outputs"])}
            self.io_setup = []      # writes of 0x0048 / 0x0093 / 0x008D and I/O exchanges
            self.motion = {line + 1: False for line in range(cfg["video_lines"])}
            self.ptz_frames = []    # {"command", "num", "bytes"}
            self.ptz_octet = cfg["ptz_octet"]
            self.exchanges = []     # every 0x09A5 payload
            self.head = {}          # BiCom-style registers "server/object/sub" -> value
            self.zones = {}         # line -> 4 zones
            self.camera_time = None
            self.audio_enabled = 0
            # Encoder settings the RTSP side streams by: settings[line] for the first stream
            # (recording coder), settings["line/2"] (the same object as settings[line]["live"])
            # for the second. Keys stay absent until the driver writes them.
            self.settings = {}
            for line in range(1, cfg["video_lines"] + 1):
                live = {"frame_rate": cfg["frame_rate_milli"] // 1000}
                self.settings[line] = {
                    "frame_rate": cfg["frame_rate_milli"] // 1000, "live": live,
                    "encoder_mode": list(cfg["encoder_mode"]), "dewarp": list(cfg["dewarp"]),
                }
                self.settings["%d/2" % line] = live
            self.coders = {}        # stream coder -> settings, for coders beyond the lines
            self.sessions = {}      # session id -> {"key", "playing", "seek"}
            self.recordings = self._initial_recordings()
            self.requests = []      # request log
            self.faults = []
            self.rcp_errors = {k.lower(): v for k, v in cfg["rcp_errors"].items()}
            self.nonces = set()

    def _initial_recordings(self):
        if self.config["recordings"] is not None:
            return [list(r) for r in self.config["recordings"]]
        if not self.config["storage"]:
            return []
        now = int(time.time()) - CAMERA_EPOCH
        # Three recordings in the last hour, with gaps between them.
        return [[now - 3600, now - 2400], [now - 2100, now - 1200], [now - 900, now - 60]]

    def to_json(self):
        with self.lock:
            return {
                "address": self.address, "port": self.http_port, "auth": self.auth,
                "model": self.config["model"], "values": self.values, "writes": self.writes,
                "inputs": self.inputs, "outputs": self.outputs, "io_setup": self.io_setup,
                "motion": self.motion, "ptz_frames": self.ptz_frames, "ptz_octet": self.ptz_octet,
                "exchanges": self.exchanges, "head": self.head, "zones": self.zones,
                "camera_time": self.camera_time, "audio_enabled": self.audio_enabled,
                "settings": self.settings, "coders": self.coders, "sessions": self.sessions,
                "recordings": self.recordings, "faults": [f.to_json() for f in self.faults],
                "requests": len(self.requests),
            }

    def take_fault(self, target):
        with self.lock:
            for f in self.faults:
                if f.match in target:
                    if f.count > 0:
                        f.count -= 1
                        if f.count == 0:
                            self.faults.remove(f)
                    return f
        return None

    def stream_size(self, line=1, live=False):
        """Size the driver asked for on a line, or None when it wrote no known code."""
        with self.lock:
            s = self.settings.get(line)
            if not s:
                return None
            code = (s["live"] if live else s).get("resolution_code")
            return RESOLUTION_SIZES.get(code)


# ---------------------------------------------------------------------------------------------
# RCP+ command handling.
# ---------------------------------------------------------------------------------------------

class RcpReply:
    def __init__(self, hex_value=None, dec_value=None, str_value=None, err=None):
        self.hex = hex_value
        self.dec = dec_value
        self.str = str_value
        self.err = err


def number_reply(v):
    return RcpReply(hex_value="0x%08x" % (v & 0xFFFFFFFF), dec_value=str(v))


def bytes_reply(data):
    return RcpReply(str_value=hexbytes(data))


def error_reply(code):
    return RcpReply(err="0x%02x" % code)


def coder_slot(coder):
    """Stream coder -> (line, live): coders count 1, 2 for line 1, 3, 4 for line 2, ..."""
    if coder < 1:
        return None, False
    return (coder + 1) // 2, coder % 2 == 0


class RcpHandler:
    def __init__(self, cam):
        self.cam = cam

    def handle(self, q):
        cam = self.cam
        cmd = parse_number(q.get("command"))
        typ = q.get("type", "")
        direction = (q.get("direction") or "").upper()
        num = parse_number(q.get("num", "0")) or 0
        payload = q.get("payload")
        session = parse_number(q.get("sessionid", "0")) or 0
        if cmd is None or typ not in TYPES or direction not in ("READ", "WRITE"):
            return error_reply(ERR_BAD_PAYLOAD), cmd, typ
        key = "0x%04x" % cmd
        with cam.lock:
            for k in (key + "/%d" % num, key):
                if k in cam.rcp_errors:
                    return error_reply(cam.rcp_errors[k]), cmd, typ
            fn = getattr(self, "cmd_%04x" % cmd, None)
            if fn is None:
                return error_reply(ERR_UNKNOWN_COMMAND), cmd, typ
            if direction == "WRITE":
                if payload is None:
                    return error_reply(ERR_BAD_PAYLOAD), cmd, typ
                cam.writes.append({"command": key, "type": typ, "num": num, "payload": payload,
                                   "session": session})
            reply = fn(direction, typ, num, payload, session)
            if direction == "WRITE" and reply.err is None:
                cam.values["%s/%d" % (key, num)] = payload
        return reply, cmd, typ

    # Helpers for writes ------------------------------------------------------------------
    def _int_payload(self, payload):
        return parse_number(payload)

    def _echo_write(self, typ, payload):
        if typ in ("P_OCTET",):
            data = parse_payload_bytes(payload)
            if data is None:
                return None, error_reply(ERR_BAD_PAYLOAD)
            return data, bytes_reply(data)
        if typ == "P_STRING":
            return payload, RcpReply(str_value=payload)
        v = parse_number(payload)
        if v is None:
            return None, error_reply(ERR_BAD_PAYLOAD)
        return v, number_reply(v)

    def _settings_for_coder(self, num):
        """Per-coder record; mirrored into the line's settings when the coder maps to a line."""
        if num < 1 or num > 16:
            return None
        line, live = coder_slot(num)
        s = self.cam.settings.get(line)
        if s is None:
            return self.cam.coders.setdefault(num, {})
        return s["live"] if live else s

    def _coder_write(self, direction, typ, num, payload, field, convert=None):
        if direction != "WRITE":
            return error_reply(ERR_BAD_DIRECTION)
        v, reply = self._echo_write(typ, payload)
        if reply.err:
            return reply
        s = self._settings_for_coder(num)
        if s is None:
            return error_reply(ERR_BAD_NUM)
        if field:
            s[field] = convert(v) if convert else v
        return reply

    def _line_bytes(self, direction, typ, num, payload, field, length=None):
        s = self.cam.settings.get(num)
        if s is None:
            return error_reply(ERR_BAD_NUM)
        if direction == "READ":
            return bytes_reply(bytes(s.get(field) or []))
        data = parse_payload_bytes(payload)
        if data is None or (length is not None and len(data) != length):
            return error_reply(ERR_BAD_PAYLOAD)
        s[field] = list(data)
        return bytes_reply(data)

    def _read_only(self, direction, reply):
        return reply if direction == "READ" else error_reply(ERR_BAD_DIRECTION)

    # Commands ----------------------------------------------------------------------------
    def cmd_000c(self, direction, typ, num, payload, session):
        if direction == "READ":
            return RcpReply(dec_value=str(self.cam.audio_enabled), hex_value="0x%02x" % self.cam.audio_enabled)
        v = parse_number(payload)
        if v is None:
            return error_reply(ERR_BAD_PAYLOAD)
        self.cam.audio_enabled = 1 if v else 0
        return number_reply(self.cam.audio_enabled)

    def cmd_002f(self, direction, typ, num, payload, session):
        return self._read_only(direction, RcpReply(str_value=self.cam.config["firmware"]))

    def _io_write(self, direction, typ, num, payload, what, count):
        if direction != "WRITE":
            return error_reply(ERR_BAD_DIRECTION)
        if num < 1 or num > count:
            return error_reply(ERR_BAD_NUM)
        v, reply = self._echo_write(typ, payload)
        if reply.err is None:
            self.cam.io_setup.append({"command": what, "num": num, "value": v})
        return reply

    def cmd_0048(self, direction, typ, num, payload, session):
        return self._io_write(direction, typ, num, payload, "0x0048", self.cam.config["outputs"])

    def cmd_0093(self, direction, typ, num, payload, session):
        return self._io_write(direction, typ, num, payload, "0x0093", self.cam.config["outputs"])

    def cmd_008d(self, direction, typ, num, payload, session):
        return self._io_write(direction, typ, num, payload, "0x008d", self.cam.config["inputs"])

    def cmd_00bc(self, direction, typ, num, payload, session):
        return self._read_only(direction, bytes_reply(bytes(self.cam.config["mac"])))

    def cmd_01c0(self, direction, typ, num, payload, session):
        if num not in self.cam.inputs:
            return error_reply(ERR_BAD_NUM)
        v = self.cam.inputs[num]
        return self._read_only(direction, RcpReply(dec_value=str(v), hex_value="0x%02x" % v))

    def cmd_01c1(self, direction, typ, num, payload, session):
        if num not in self.cam.outputs:
            return error_reply(ERR_BAD_NUM)
        if direction == "READ":
            v = self.cam.outputs[num]
            return RcpReply(dec_value=str(v), hex_value="0x%02x" % v)
        v = parse_number(payload)
        if v is None:
            return error_reply(ERR_BAD_PAYLOAD)
        self.cam.outputs[num] = 1 if v else 0
        return number_reply(self.cam.outputs[num])

    def cmd_01d6(self, direction, typ, num, payload, session):
        return self._read_only(direction, number_reply(self.cam.config["video_lines"]))

    def cmd_01db(self, direction, typ, num, payload, session):
        return self._read_only(direction, number_reply(self.cam.config["inputs"]))

    def cmd_01dc(self, direction, typ, num, payload, session):
        return self._read_only(direction, number_reply(self.cam.config["outputs"]))

    def cmd_01f1(self, direction, typ, num, payload, session):
        if direction == "READ":
            return number_reply(self.cam.ptz_octet)
        v = parse_number(payload)
        if v is None or v > 0xFF:
            return error_reply(ERR_BAD_PAYLOAD)
        self.cam.ptz_octet = v
        return number_reply(v)

    def cmd_028b(self, direction, typ, num, payload, session):
        return self._read_only(direction, RcpReply(str_value=self.cam.config["login_string"]))

    def cmd_0504(self, direction, typ, num, payload, session):
        return self._read_only(direction, number_reply(self.cam.config["encoders"]))

    def cmd_0600(self, direction, typ, num, payload, session):
        # Coder selection per encoder instance: kept in the write log and `values` only.
        if direction != "WRITE":
            return error_reply(ERR_BAD_DIRECTION)
        return self._echo_write(typ, payload)[1]

    def cmd_0604(self, direction, typ, num, payload, session):
        return self._coder_write(direction, typ, num, payload, "intra_distance")

    def cmd_0606(self, direction, typ, num, payload, session):
        reply = self._coder_write(direction, typ, num, payload, "skip")
        s = self._settings_for_coder(num)
        if reply.err is None and s is not None and s.get("skip") is not None:
            base = self.cam.config["frame_rate_milli"] // 1000
            s["frame_rate"] = max(1, base // s["skip"]) if s["skip"] else base
        return reply

    def cmd_0607(self, direction, typ, num, payload, session):
        return self._coder_write(direction, typ, num, payload, "bitrate_kbps")

    def cmd_0608(self, direction, typ, num, payload, session):
        s = self._settings_for_coder(num)
        before = s.get("resolution_code") if s is not None else None
        reply = self._coder_write(direction, typ, num, payload, "resolution_code")
        after = s.get("resolution_code") if s is not None else None
        # The simulated encoder cannot change size inside a running stream: like cameras that
        # restart their encoder, it ends the RTSP sessions so clients reconnect at the new size.
        # The first write of a coder (stream set-up) changes nothing that is streaming.
        if reply.err is None and before is not None and after != before and self.cam.rtsp is not None:
            threading.Thread(target=self.cam.rtsp.fault, args=("end_session",), daemon=True).start()
        return reply

    def cmd_060a(self, direction, typ, num, payload, session):
        return self._coder_write(direction, typ, num, payload, "quantizer")

    def cmd_060b(self, direction, typ, num, payload, session):
        return self._coder_write(direction, typ, num, payload, "quantizer_p")

    def cmd_0612(self, direction, typ, num, payload, session):
        return self._coder_write(direction, typ, num, payload, "max_bitrate_kbps")

    def cmd_0a82(self, direction, typ, num, payload, session):
        if not self.cam.config["accepts_0a82"]:
            return error_reply(ERR_UNKNOWN_COMMAND)
        return self._coder_write(direction, typ, num, payload, "quantizer_setup")

    def cmd_0a94(self, direction, typ, num, payload, session):
        return self._coder_write(direction, typ, num, payload, "gop")

    def cmd_0a9c(self, direction, typ, num, payload, session):
        if direction != "WRITE":
            return error_reply(ERR_BAD_DIRECTION)
        v, reply = self._echo_write(typ, payload)
        return reply

    def cmd_0807(self, direction, typ, num, payload, session):
        if num not in self.cam.motion:
            return error_reply(ERR_BAD_NUM)
        state = 0x80 if self.cam.motion[num] else 0x00
        return self._read_only(direction, bytes_reply(bytes([state, 0, 0, 0])))

    def cmd_097c(self, direction, typ, num, payload, session):
        return self._read_only(direction, RcpReply(str_value=self.cam.config["model"]))

    def cmd_09d4(self, direction, typ, num, payload, session):
        data = bytes([1, 0, 0, 0]) if self.cam.config["storage"] else bytes(4)
        return self._read_only(direction, bytes_reply(data))

    def cmd_0a0f(self, direction, typ, num, payload, session):
        if direction != "WRITE":
            return error_reply(ERR_BAD_DIRECTION)
        data = parse_payload_bytes(payload)
        if data is None or len(data) != 7:
            return error_reply(ERR_BAD_PAYLOAD)
        year = data[0] << 8 | data[1]
        self.cam.camera_time = "%04d-%02d-%02dT%02d:%02d:%02d" % ((year,) + tuple(data[2:7]))
        return bytes_reply(data)

    def cmd_0ad2(self, direction, typ, num, payload, session):
        if direction != "WRITE":
            return error_reply(ERR_BAD_DIRECTION)
        return self._line_bytes(direction, typ, num, payload, "h264_setup", 12)

    def cmd_0ad3(self, direction, typ, num, payload, session):
        return self._line_bytes(direction, typ, num, payload, "encoder_mode", 8)

    def cmd_0ad5(self, direction, typ, num, payload, session):
        if direction != "WRITE":
            return error_reply(ERR_BAD_DIRECTION)
        reply = self._line_bytes(direction, typ, num, payload, "jpeg_setup", 12)
        s = self.cam.settings.get(num)
        if reply.err is None and s is not None:
            d = s["jpeg_setup"]
            s["jpeg_resolution_code"] = d[3]
            s["jpeg_frame_rate"] = max(1, int.from_bytes(bytes(d[4:8]), "big") // 1000)
            s["quality"] = d[11]
        return reply

    def cmd_0ad6(self, direction, typ, num, payload, session):
        return self._read_only(direction, number_reply(self.cam.config["frame_rate_milli"]))

    def cmd_0ae8(self, direction, typ, num, payload, session):
        if direction != "READ":
            return error_reply(ERR_BAD_DIRECTION)
        base = self.cam.config["session_base"]
        if not base:
            return number_reply(0)
        sid = base + num
        self.cam.sessions.setdefault(sid, {"key": num, "playing": False, "seek": None})
        return number_reply(sid)

    def cmd_0af9(self, direction, typ, num, payload, session):
        if num not in self.cam.settings:
            return error_reply(ERR_BAD_NUM)
        return self._read_only(direction, bytes_reply(profile_list(self.cam.config["profiles"])))

    def cmd_0bf6(self, direction, typ, num, payload, session):
        return self._line_bytes(direction, typ, num, payload, "dewarp")

    def cmd_0c00(self, direction, typ, num, payload, session):
        if num not in self.cam.settings and num != 0:
            return error_reply(ERR_BAD_NUM)
        return self._read_only(direction, bytes_reply(record_list(self.cam.config["records"])))

    def cmd_ff10(self, direction, typ, num, payload, session):
        return self._read_only(direction, bytes_reply(capability_list(self.cam.config["capabilities"])))

    def cmd_ff11(self, direction, typ, num, payload, session):
        if num not in self.cam.settings:
            return error_reply(ERR_BAD_NUM)
        return self._read_only(direction, bytes_reply(bytes(self.cam.config["encoder_instances"])))

    def cmd_ffdd(self, direction, typ, num, payload, session):
        if direction != "WRITE":
            return error_reply(ERR_BAD_DIRECTION)
        data = parse_payload_bytes(payload)
        if data is None or len(data) < 5:
            return error_reply(ERR_BAD_PAYLOAD)
        self.cam.ptz_frames.append({"command": "0xffdd", "num": num, "bytes": hexbytes(data[4:])})
        return bytes_reply(data)

    # Replay sessions ---------------------------------------------------------------------
    def _session(self, session):
        return self.cam.sessions.get(session)

    def cmd_0901(self, direction, typ, num, payload, session):
        if direction != "READ":
            return error_reply(ERR_BAD_DIRECTION)
        if self._session(session) is None:
            return error_reply(ERR_BAD_NUM)
        text = (payload or "").strip()
        if text[:2].lower() == "0x":
            text = text[2:]
        tail = "0000099900000000"
        if not text.endswith(tail) or len(text) <= len(tail) or (len(text) - len(tail)) % 2:
            return error_reply(ERR_BAD_PAYLOAD)
        times = text[:-len(tail)]
        half = len(times) // 2
        try:
            begin, end = int(times[:half], 16), int(times[half:], 16)
        except ValueError:
            return error_reply(ERR_BAD_PAYLOAD)
        out = b""
        live = getattr(self.cam, "live_recording", None)
        for start, stop in sorted(live() if live else self.cam.recordings):
            if stop > begin and start < end:
                out += u32(start) + u32(stop) + bytes(8)
        return bytes_reply(out)

    def cmd_0902(self, direction, typ, num, payload, session):
        s = self._session(session)
        if direction != "WRITE":
            return error_reply(ERR_BAD_DIRECTION)
        if s is None:
            return error_reply(ERR_BAD_NUM)
        v = parse_number(payload)
        if v is None:
            return error_reply(ERR_BAD_PAYLOAD)
        s["playing"] = v != 0
        s["speed"] = v
        s["gen"] = s.get("gen", 0) + 1
        return number_reply(v)

    def cmd_0905(self, direction, typ, num, payload, session):
        s = self._session(session)
        if direction != "WRITE":
            return error_reply(ERR_BAD_DIRECTION)
        if s is None:
            return error_reply(ERR_BAD_NUM)
        data = parse_payload_bytes(payload)
        if data is None or not data:
            return error_reply(ERR_BAD_PAYLOAD)
        s["seek"] = int.from_bytes(data, "big")
        s["gen"] = s.get("gen", 0) + 1
        return bytes_reply(data)

    # Byte messages to the camera head (0x09A5) -------------------------------------------
    def cmd_09a5(self, direction, typ, num, payload, session):
        if direction != "WRITE":
            return error_reply(ERR_BAD_DIRECTION)
        data = parse_payload_bytes(payload)
        if data is None or not data:
            return error_reply(ERR_BAD_PAYLOAD)
        cam = self.cam
        cam.exchanges.append({"num": num, "bytes": hexbytes(data)})
        # BiCom-style register access: 81 00 <server> <object> <sub> <01 read | 03 write> [value].
        if len(data) >= 6 and data[0] == 0x81 and data[5] in (0x01, 0x03):
            server, obj, sub = data[2], data[3], data[4]
            reg = "%02x/%02x/%02x/%d" % (server, obj, sub, num)
            if server == 0x0A and data[5] == 0x03:
                if cam.config["refuses_io_exchange"]:
                    return error_reply(ERR_REFUSED)
                cam.io_setup.append({"command": "0x09a5", "num": num, "bytes": hexbytes(data)})
            if server == 0x04 and obj == 0x03:
                self._zone_access(num, sub, data)
            if data[5] == 0x01:
                value = cam.head.get(reg, 0)
                return bytes_reply(bytes(data[:5]) + bytes([0x01]) + u16(value))
            value = int.from_bytes(data[6:], "big") if len(data) > 6 else 0
            cam.head[reg] = value
            return bytes_reply(data)
        # Anything else is a PTZ frame for the head (BiCom frames travel here, per camera line).
        cam.ptz_frames.append({"command": "0x09a5", "num": num, "bytes": hexbytes(data)})
        return bytes_reply(data)

    def _zone_access(self, num, sub, data):
        zone, field = sub >> 4, sub & 0x0F
        if zone > 3 or field > 4:
            return
        zones = self.cam.zones.setdefault(str(num), [
            {"enabled": 0, "left": 0, "top": 0, "right": 0, "bottom": 0} for _ in range(4)])
        name = ("enabled", "left", "top", "right", "bottom")[field]
        reg = "%02x/%02x/%02x/%d" % (data[2], data[3], sub, num)
        if data[5] == 0x03:
            zones[zone][name] = int.from_bytes(data[6:], "big") if len(data) > 6 else 0
        else:
            self.cam.head[reg] = zones[zone][name]


def rcp_xml(cam, q, reply, cmd, typ):
    parts = [cam.config["xml_declaration"] or "", "<rcp>"]
    if cmd is not None:
        parts.append("<command><hex>0x%04x</hex><dec>%d</dec></command>" % (cmd, cmd))
    parts.append("<type>%s</type>" % xml_escape(typ))
    parts.append("<direction>%s</direction>" % xml_escape(q.get("direction", "")))
    parts.append("<num>%s</num>" % xml_escape(q.get("num", "0")))
    parts.append("<idstring></idstring>")
    parts.append("<payload>%s</payload>" % xml_escape(q.get("payload", "")))
    parts.append("<cltid>0x%04x</cltid>" % (int(cam.address.split(".")[-1]) << 8 | 0x11))
    parts.append("<sessionid>0x%08x</sessionid>" % (parse_number(q.get("sessionid", "0")) or 0))
    parts.append("<auth>3</auth><protocol>TCP</protocol>")
    parts.append("<result>")
    if reply.err is not None:
        parts.append("<err>%s</err>" % reply.err)
    else:
        if reply.hex is not None:
            parts.append("<hex>%s</hex>" % reply.hex)
        if reply.dec is not None:
            parts.append("<dec>%s</dec>" % reply.dec)
        if reply.str is not None:
            parts.append("<str>%s</str>" % xml_escape(reply.str))
    parts.append("</result></rcp>\r\n")
    return "\r\n".join(p for p in parts if p).encode("latin-1", "replace")


def xml_escape(s):
    return (s or "").replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


# ---------------------------------------------------------------------------------------------
# HTTP side of a camera.
# ---------------------------------------------------------------------------------------------

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
        if fault is not None and fault.kind == "drop":
            self.record(0, None, "dropped")
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
            reply, cmd, typ = RcpHandler(cam).handle(q)
            if fault is not None:
                reply = error_reply(int(fault.args.get("code", ERR_REFUSED)))
            body = rcp_xml(cam, q, reply, cmd, typ)
            self.record(200, auth, "err" if reply.err else "")
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

    def __init__(self, camera, snapshots):
        self.camera = camera
        self.snapshots = snapshots
        super().__init__((camera.address, camera.http_port), CameraHandler)


# ---------------------------------------------------------------------------------------------
# Control interface.
# ---------------------------------------------------------------------------------------------

class Simulator:
    def __init__(self, cameras, snapshots):
        self.cameras = {c.address: c for c in cameras}
        self.snapshots = snapshots
        self.servers = []
        self.stop_event = threading.Event()


class ControlHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        pass

    def do_GET(self):
        self.dispatch(None)

    def do_POST(self):
        length = parse_number(self.headers.get("Content-Length", "0")) or 0
        body = self.rfile.read(length) if 0 < length <= 1 << 20 else b""
        try:
            data = json.loads(body) if body.strip() else {}
        except ValueError:
            return self.reply(400, {"error": "bad json"})
        self.dispatch(data)

    def reply(self, status, obj, text=None):
        body = (text if text is not None else json.dumps(obj, indent=1, default=str)).encode()
        self.send_response(status)
        self.send_header("Content-Type", "text/plain" if text is not None else "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def dispatch(self, data):
        sim = self.server.sim
        url = urllib.parse.urlsplit(self.path)
        args = dict(urllib.parse.parse_qsl(url.query, keep_blank_values=True))
        if isinstance(data, dict):
            args.update(data)
        parts = [p for p in url.path.split("/") if p]
        try:
            if parts == ["health"]:
                return self.reply(200, {"ok": True, "cameras": sorted(sim.cameras),
                                        "source_mtime": SOURCE_MTIME})
            if parts == ["cameras"]:
                return self.reply(200, [{"address": c.address, "port": c.http_port, "auth": c.auth,
                                         "model": c.config["model"]} for c in sim.cameras.values()])
            if parts == ["shutdown"]:
                self.reply(200, {"ok": True})
                sim.stop_event.set()
                return None
            if len(parts) >= 3 and parts[0] == "camera":
                cam = sim.cameras.get(parts[1])
                if cam is None:
                    return self.reply(404, {"error": "no camera " + parts[1]})
                return self.camera_op(cam, parts[2], args)
            return self.reply(404, {"error": "unknown path"})
        except (ValueError, KeyError, TypeError) as e:
            return self.reply(400, {"error": str(e)})

    def camera_op(self, cam, op, a):
        if op == "state":
            return self.reply(200, cam.to_json())
        if op == "requests":
            with cam.lock:
                return self.reply(200, list(cam.requests))
        if op == "requests.txt":
            with cam.lock:
                return self.reply(200, None, "".join(r["target"] + "\n" for r in cam.requests))
        if op == "last_request":
            with cam.lock:
                return self.reply(200, None, cam.requests[-1]["target"] if cam.requests else "")
        if op == "clear_log":
            with cam.lock:
                cam.requests.clear()
            return self.reply(200, {"ok": True})
        if op == "reset":
            cam.reset()
            return self.reply(200, {"ok": True})
        if op == "value":
            key = "0x%04x/%d" % (parse_number(a["command"]), parse_number(a.get("num", "0")) or 0)
            with cam.lock:
                return self.reply(200, None, str(cam.values.get(key, "")))
        if op == "set":
            return self.set_state(cam, a)
        if op == "fault":
            kind = a.pop("kind")
            match = a.pop("match", "")
            count = a.pop("count", 1)
            with cam.lock:
                cam.faults.append(Fault(kind, match, count, **a))
            return self.reply(200, {"ok": True})
        if op == "clear_faults":
            with cam.lock:
                cam.faults.clear()
                cam.rcp_errors = {k.lower(): v for k, v in cam.config["rcp_errors"].items()}
            return self.reply(200, {"ok": True})
        if op == "rtsp_fault":
            if cam.rtsp is None or not hasattr(cam.rtsp, "fault"):
                return self.reply(404, {"error": "no RTSP side for this camera"})
            name = a.pop("name")
            result = cam.rtsp.fault(name, **a)
            return self.reply(200, {"ok": True, "result": result})
        return self.reply(404, {"error": "unknown operation " + op})

    def set_state(self, cam, a):
        """Inputs, motion, RCP+ errors and recordings, from JSON or the query string.

        {"input": 1, "value": 1}, {"motion": 1, "value": 1} (line), {"rcp_error": "0x0607",
        "code": 10}, {"recordings": [[start, end], ...]}, {"ptz_octet": 255}.
        """
        with cam.lock:
            if "input" in a:
                n = int(a["input"])
                if n not in cam.inputs:
                    return self.reply(400, {"error": "no input %d" % n})
                cam.inputs[n] = int(a.get("value", 1))
            if "motion" in a:
                n = int(a["motion"])
                if n not in cam.motion:
                    return self.reply(400, {"error": "no line %d" % n})
                cam.motion[n] = bool(int(a.get("value", 1)))
            if "rcp_error" in a:
                code = a.get("code", ERR_REFUSED)
                cam.rcp_errors[str(a["rcp_error"]).lower()] = parse_number(str(code))
            if "recordings" in a:
                cam.recordings = [list(map(int, r)) for r in a["recordings"]]
            if "ptz_octet" in a:
                cam.ptz_octet = int(a["ptz_octet"])
        return self.reply(200, {"ok": True})


class ControlServer(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, sim):
        self.sim = sim
        super().__init__(address, ControlHandler)


# ---------------------------------------------------------------------------------------------
# Start-up.
# ---------------------------------------------------------------------------------------------

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


def load_rtsp_side():
    sys.path.insert(0, HERE)
    try:
        import rtsp_server  # noqa: written alongside; optional
    except Exception as e:  # any import failure leaves the HTTP side running
        log("RTSP side not loaded: %s" % e)
        return None
    return rtsp_server


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--control", default="127.0.0.1:18080", help="control interface address:port")
    ap.add_argument("--cache-dir", default=os.path.join(os.getcwd(), "camsim-cache"))
    ap.add_argument("--config", help="JSON file: list of camera objects replacing the default set")
    ap.add_argument("--only", help="comma-separated addresses: serve only these cameras")
    ap.add_argument("--no-rtsp", action="store_true", help="do not start the RTSP side")
    ap.add_argument("--pidfile")
    opts = ap.parse_args()

    specs = DEFAULT_CAMERAS
    if opts.config:
        with open(opts.config) as f:
            specs = json.load(f)
    if opts.only:
        wanted = set(opts.only.split(","))
        specs = [s for s in specs if s["address"] in wanted]
    cameras = [Camera(make_config(s)) for s in specs]
    snapshots = render_snapshots(opts.cache_dir)
    sim = Simulator(cameras, snapshots)

    for cam in cameras:
        try:
            srv = CameraServer(cam, snapshots)
        except OSError as e:
            log("cannot listen on %s:%d: %s" % (cam.address, cam.http_port, e))
            return 1
        sim.servers.append(srv)
        threading.Thread(target=srv.serve_forever, name="camera %s" % cam.address, daemon=True).start()

    rtsp = None if opts.no_rtsp else load_rtsp_side()
    if rtsp is not None and hasattr(rtsp, "start"):
        for cam in cameras:
            try:
                if cam.config["rtsp_server"] == "edge":
                    import edge_replay
                    cam.rtsp = edge_replay.start(cam)
                    continue
                cam.rtsp = rtsp.start(cam)
            except Exception:
                log("RTSP side failed for %s:\n%s" % (cam.address, traceback.format_exc()))

    host, _, port = opts.control.rpartition(":")
    try:
        ctl = ControlServer((host, int(port)), sim)
    except OSError as e:
        log("cannot listen on control %s: %s" % (opts.control, e))
        return 1
    threading.Thread(target=ctl.serve_forever, name="control", daemon=True).start()
    if opts.pidfile:
        with open(opts.pidfile, "w") as f:
            f.write("%d\n" % os.getpid())

    signal.signal(signal.SIGTERM, lambda *_: sim.stop_event.set())
    signal.signal(signal.SIGINT, lambda *_: sim.stop_event.set())
    log("serving %d cameras; control on %s" % (len(cameras), opts.control))
    while not sim.stop_event.wait(1.0):
        pass
    log("stopping")
    for cam in cameras:
        if cam.rtsp is not None and hasattr(cam.rtsp, "stop"):
            try:
                cam.rtsp.stop()
            except Exception:
                pass
    # Each shutdown waits for its server's poll; run them side by side.
    stoppers = [threading.Thread(target=s.shutdown) for s in [ctl] + sim.servers]
    for t in stoppers:
        t.start()
    for t in stoppers:
        t.join(5)
    for srv in sim.servers:
        srv.server_close()
    if opts.pidfile:
        try:
            os.unlink(opts.pidfile)
        except OSError:
            pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
