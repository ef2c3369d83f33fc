"""The state of one simulated camera: what the driver wrote, what tests injected, the request log.

Modules keep state of their own on the camera with register_state(): it is built from the
configuration when the camera starts and on every reset, lives in camera.extra[name] (guarded
by camera.lock like the rest) and appears in the control interface's state under that name.
"""

import threading
import time

from .common import CAMERA_EPOCH, RESOLUTION_SIZES

STATE_FACTORIES = {}
STATE_VIEWS = {}


def register_state(name, factory, view=None):
    """factory(camera) -> initial state; view(state) -> JSON-able form (default: the state)."""
    if name in STATE_FACTORIES:
        raise ValueError("camera state %s is already registered" % name)
    STATE_FACTORIES[name] = factory
    STATE_VIEWS[name] = view or (lambda state: state)


class Fault:
    """An injected misbehaviour: applies to requests whose target contains `match`."""

    def __init__(self, kind, match="", count=1, **args):
        self.kind = kind
        self.match = match or ""
        self.count = int(count)  # <= 0: until cleared
        self.args = args
        # "asleep": a camera still booting drops every matching request until `seconds` after
        # the fault was set, then answers as usual (the fault ends itself; `count` is ignored).
        self.wakes = time.time() + float(args.get("seconds", 15)) if kind == "asleep" else None

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
            # State of the modules, one entry per register_state() name.
            self.extra = {name: factory(self) for name, factory in STATE_FACTORIES.items()}

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
                **{name: STATE_VIEWS[name](self.extra[name]) for name in self.extra},
            }

    def take_fault(self, target):
        with self.lock:
            for f in list(self.faults):
                if f.wakes is not None:
                    if time.time() >= f.wakes:
                        self.faults.remove(f)
                        continue
                    if f.match in target:
                        return f
                    continue
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

