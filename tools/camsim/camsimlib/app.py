"""Start-up and shutdown of the simulator process (camsim.py calls main())."""

import argparse
import json
import os
import signal
import threading
import traceback

from . import commands  # noqa: F401  (registers the built-in RCP+ commands)
from .camera import Camera
from .common import log
from .control import ControlServer, Simulator
from .http_side import CameraServer, make_tls_context, render_snapshots
from .models import DEFAULT_CAMERAS, make_config
from .plugins import load_modules, start_services, stop_services


def load_rtsp_side():
    try:
        from . import rtsp_server
    except Exception as e:  # any import failure leaves the HTTP side running
        log("RTSP side not loaded: %s" % e)
        return None
    return rtsp_server


def main(description=None):
    ap = argparse.ArgumentParser(description=description or __doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--control", default="127.0.0.1:18080", help="control interface address:port")
    ap.add_argument("--cache-dir", default=os.path.join(os.getcwd(), "camsim-cache"))
    ap.add_argument("--config", help="JSON file: list of camera objects replacing the default set")
    ap.add_argument("--only", help="comma-separated addresses: serve only these cameras")
    ap.add_argument("--no-rtsp", action="store_true", help="do not start the RTSP side")
    ap.add_argument("--pidfile")
    opts = ap.parse_args()

    # Modules register commands, calls, configuration keys and cameras: before anything is built.
    load_modules()
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
    sim.cache_dir = opts.cache_dir
    sim.rtsp_enabled = not opts.no_rtsp

    tls = None
    if any(cam.config.get("tls_ports") for cam in cameras):
        tls = make_tls_context(opts.cache_dir)
    for cam in cameras:
        # Plain HTTP on the camera's port unless that port is one of its TLS ports (HTTPS only).
        tls_ports = list(cam.config.get("tls_ports") or [])
        listeners = [] if cam.http_port in tls_ports else [(cam.http_port, None)]
        listeners += [(port, tls) for port in tls_ports]
        for port, context in listeners:
            try:
                srv = CameraServer(cam, snapshots, port, context)
            except OSError as e:
                log("cannot listen on %s:%d: %s" % (cam.address, port, e))
                return 1
            sim.servers.append(srv)
            threading.Thread(target=srv.serve_forever, name="camera %s:%d" % (cam.address, port),
                             daemon=True).start()

    rtsp = None if opts.no_rtsp else load_rtsp_side()
    if rtsp is not None and hasattr(rtsp, "start"):
        for cam in cameras:
            try:
                if cam.config.get("rtsp_server") == "raw":
                    continue  # served by modules/raw_rtsp.py
                if cam.config.get("rtsp_server") == "edge":
                    from . import edge_replay
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
    services = start_services(sim)
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
    stop_services(services)
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

