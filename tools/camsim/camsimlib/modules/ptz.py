"""PTZ heads behind the simulated cameras: every frame passed to a head (0xFFDD Pelco-D/OSRD,
0x09A5 BiCom) is recorded with what the head makes of it (ptz_decoder), and two PTZ domes: one
whose PTZ port is set up for OSRD heads and one whose port cannot be switched to them.

Control calls: /camera/<a>/ptz (decoded frames, JSON) and /camera/<a>/ptz.txt (a line each).
"""

from .. import commands  # noqa: F401  (the built-in handlers wrapped below must be registered first)
from ..common import ERR_REFUSED
from ..control import camera_call
from ..models import register_camera, register_config
from ..rcp import COMMANDS, error_reply, register_command
from . import ptz_decoder

# A PTZ port whose set-up octet (0x01F1) cannot be written.
register_config(ptz_octet_fixed=False)

register_camera({"address": "127.0.0.60", "auth": "basic", "model": "Camsim PTZ Dome", "ptz_octet": 0xFF})
register_camera({"address": "127.0.0.61", "auth": "basic", "model": "Camsim PTZ Dome Fixed", "ptz_octet": 0x01,
                 "ptz_octet_fixed": True})


def _wrap(code, wrapper):
    original = COMMANDS[code]
    register_command(code, original.types, wrapper(original.handler), original.directions, replace=True)


def _fixed_port(handler):
    def cmd(h, direction, typ, num, payload, session):
        if direction == "WRITE" and h.cam.config["ptz_octet_fixed"] and num == 1:
            return error_reply(ERR_REFUSED)
        return handler(h, direction, typ, num, payload, session)
    return cmd


def _decoding(code):
    def wrapper(handler):
        def cmd(h, direction, typ, num, payload, session):
            cam = h.cam
            before = len(cam.ptz_frames)
            reply = handler(h, direction, typ, num, payload, session)
            for frame in cam.ptz_frames[before:]:
                decoded = ptz_decoder.decode(code, bytes.fromhex(frame["bytes"].replace(" ", "")))
                # OSRD heads hear frames only while the PTZ port is set up for them.
                if decoded.get("protocol") == "osrd" and cam.ptz_octet != 0xFF:
                    decoded["ignored"] = "PTZ port not set up for OSRD"
                frame["decoded"] = decoded
            return reply
        return cmd
    return wrapper


_wrap(0x01F1, _fixed_port)
_wrap(0xFFDD, _decoding(0xFFDD))
_wrap(0x09A5, _decoding(0x09A5))


@camera_call("ptz")
def ptz(ctl, cam, args):
    with cam.lock:
        return ctl.reply(200, [dict(f.get("decoded", {}), command=f["command"], num=f["num"])
                               for f in cam.ptz_frames])


@camera_call("ptz.txt")
def ptz_txt(ctl, cam, args):
    with cam.lock:
        return ctl.reply(200, None, "".join(ptz_decoder.line(f["decoded"]) + "\n"
                                             for f in cam.ptz_frames if "decoded" in f))
