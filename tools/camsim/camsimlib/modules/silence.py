"""A camera that goes silent: it accepts TCP connections and never answers, and the connections
it already has stop carrying anything without being closed (a camera that vanished from the
network mid-session looks the same to its client). One switch per camera serves every side it
has: HTTP and RCP+, the RCP+ streamer, the raw RTSP and edge-replay servers, and GStreamer's
RTSP server.

  POST /camera/<a>/silent?on=1     the camera goes silent
  POST /camera/<a>/silent?on=0     it answers again (held requests and media go on)
  GET  /camera/<a>/silent          {"silent": true|false}

Every side written in Python uses Python sockets; while the camera is silent each receive or
send on a socket bound to the camera's address waits (the kernel still accepts connections and
buffers what the client sends). GStreamer's server is driven from its own main context: that
context is held in a callback until the camera answers again, and its streams are silenced with
the server's own valve. The cameras 127.0.0.160-170 exist for the host-safety tests, one per
subsystem, so that silencing one never disturbs another test.
"""

import socket
import threading

from ..control import camera_call
from ..models import register_camera
from ..plugins import register_service

_cond = threading.Condition()
_silent = set()       # addresses of silent cameras
_gst_holds = {}       # address -> (release event, stream silencing it undoes)

_SOCKET_CALLS = ("recv", "recv_into", "recvfrom", "recvfrom_into", "recvmsg", "send", "sendall", "sendto",
                 "sendmsg")


def _wait_while_silent(sock):
    if not _silent:  # the usual case costs one set lookup, no system call
        return
    try:
        address = sock.getsockname()[0]
    except (OSError, IndexError, TypeError):
        return
    with _cond:
        while address in _silent:
            _cond.wait(1.0)


def _wrap(original):
    def call(self, *args, **kwargs):
        _wait_while_silent(self)
        return original(self, *args, **kwargs)
    call.__name__ = original.__name__
    return call


for _name in _SOCKET_CALLS:
    setattr(socket.socket, _name, _wrap(getattr(socket.socket, _name)))


def _hold_gstreamer(cam):
    """Holds the GStreamer server's main context of `cam` until released; None when the camera
    has no GStreamer server."""
    rtsp = cam.rtsp
    if rtsp is None or not hasattr(rtsp, "context") or not hasattr(rtsp, "_set_dropping"):
        return None
    from gi.repository import GLib  # only cameras with a GStreamer server get here

    was_dropping = rtsp.dropping
    rtsp._call(rtsp._set_dropping, True)
    release = threading.Event()
    started = threading.Event()

    def hold(*unused):
        started.set()
        release.wait()
        return False

    source = GLib.idle_source_new()
    source.set_priority(GLib.PRIORITY_HIGH)
    source.set_callback(hold)
    source.attach(rtsp.context)
    started.wait(10.0)
    return release, was_dropping


def set_silent(cam, on):
    with _cond:
        already = cam.address in _silent
        if on:
            _silent.add(cam.address)
        else:
            _silent.discard(cam.address)
        _cond.notify_all()
    if on and not already:
        hold = _hold_gstreamer(cam)
        if hold is not None:
            _gst_holds[cam.address] = hold
    if not on:
        hold = _gst_holds.pop(cam.address, None)
        if hold is not None:
            release, was_dropping = hold
            release.set()
            if not was_dropping:
                cam.rtsp._call(cam.rtsp._set_dropping, False)


@camera_call("silent")
def silent(ctl, cam, args):
    if "on" in args:
        if cam.address == "127.0.0.1":
            return ctl.reply(400, {"error": "the control interface shares this address"})
        set_silent(cam, str(args["on"]) not in ("0", "false", ""))
    with _cond:
        return ctl.reply(200, {"silent": cam.address in _silent})


class _Releaser:
    """Lets every held camera go at shutdown, so no server thread waits forever."""

    def __init__(self, sim):
        self.sim = sim

    def stop(self):
        for cam in self.sim.cameras.values():
            if cam.address in _silent:
                set_silent(cam, False)


@register_service
def start(sim):
    return _Releaser(sim)


# One camera per subsystem of the host-safety matrix. Streamer, PTZ and event commands answer
# for every camera; the configuration picks the RTSP server and the audio and PTZ details.
register_camera({"address": "127.0.0.160", "auth": "none", "model": "Camsim Safety Live"})
register_camera({"address": "127.0.0.161", "auth": "none", "model": "Camsim Safety MJPEG"})
register_camera({"address": "127.0.0.162", "auth": "none", "model": "Camsim Safety MPEG-4"})
register_camera({"address": "127.0.0.163", "auth": "none", "model": "Camsim Safety Audio In"})
register_camera({"address": "127.0.0.164", "auth": "none", "model": "Camsim Safety Audio Out"})
register_camera({"address": "127.0.0.165", "auth": "none", "model": "Camsim Safety Motion"})
register_camera({"address": "127.0.0.166", "auth": "none", "model": "Camsim Safety IO", "inputs": 2,
                 "outputs": 1})
register_camera({"address": "127.0.0.167", "auth": "none", "model": "Camsim PTZ Dome", "ptz_octet": 0xFF})
register_camera({"address": "127.0.0.168", "auth": "none", "model": "Camsim Safety Edge",
                 "rtsp_server": "edge"})
register_camera({"address": "127.0.0.169", "auth": "none", "model": "Camsim Safety Query"})
register_camera({"address": "127.0.0.170", "auth": "none", "model": "Camsim PTZ Dome", "ptz_octet": 0xFF})
