"""Control interface (default 127.0.0.1:18080): tests steer the cameras and read them back.

Modules add calls without touching this file:
  @camera_call("name")     serves /camera/<a>/name: fn(ctl, cam, args); answer with
                           ctl.reply(status, obj) or ctl.reply(200, None, text)
  @simulator_call("name")  serves /name: fn(ctl, sim, args)
  register_set_key("key", fn)  lets /camera/<a>/set take "key": fn(cam, args) runs with
                           cam.lock held and returns an error text or None
Arguments come from the query string and the JSON body alike (args is a dict).
"""

import json
import threading
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from .camera import Fault
from .common import ERR_REFUSED, SOURCE_MTIME, parse_number

CAMERA_CALLS = {}
SIMULATOR_CALLS = {}
SET_KEYS = {}
BUILT_IN_CAMERA_CALLS = ("state", "requests", "requests.txt", "last_request", "clear_log", "reset",
                         "value", "set", "fault", "clear_faults", "rtsp_fault")
BUILT_IN_SIMULATOR_CALLS = ("health", "cameras", "shutdown")


def camera_call(name):
    if name in CAMERA_CALLS or name in BUILT_IN_CAMERA_CALLS:
        raise ValueError("control call %s is already taken" % name)

    def add(fn):
        CAMERA_CALLS[name] = fn
        return fn
    return add


def simulator_call(name):
    if name in SIMULATOR_CALLS or name in BUILT_IN_SIMULATOR_CALLS or name == "camera":
        raise ValueError("control call %s is already taken" % name)

    def add(fn):
        SIMULATOR_CALLS[name] = fn
        return fn
    return add


def register_set_key(key, setter):
    if key in SET_KEYS or key in ("input", "value", "motion", "rcp_error", "code", "recordings",
                                  "ptz_octet"):
        raise ValueError("set key %s is already taken" % key)
    SET_KEYS[key] = setter


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
            if len(parts) == 1 and parts[0] in SIMULATOR_CALLS:
                return SIMULATOR_CALLS[parts[0]](self, sim, args)
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
        if op in CAMERA_CALLS:
            return CAMERA_CALLS[op](self, cam, a)
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
            for key, setter in SET_KEYS.items():
                if key in a:
                    error = setter(cam, a)
                    if error:
                        return self.reply(400, {"error": error})
        return self.reply(200, {"ok": True})


class ControlServer(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, sim):
        self.sim = sim
        super().__init__(address, ControlHandler)
