"""What a PTZ head makes of the serial frames a camera passes through to it.

Written from the protocol descriptions (Pelco-D, BiCom, OSRD), not from the driver, so that a
test can tell a frame that moves the head the wrong way from one that moves it right. Each
decode returns a dict: "protocol", "valid" (False with "error" for a frame a head would drop)
and the meaning: "action" plus its details, e.g.
  {"action": "move", "pan": "left", "pan_speed": 20, "tilt": None, "zoom": None, ...}
  {"action": "stop"}, {"action": "store_preset", "preset": 5},
  {"action": "focus_mode", "mode": "manual"}, {"action": "zoom_speed", "speed": 3}.
"""


def _hex(data):
    return " ".join("%02x" % b for b in data)


# ---- Pelco-D: FF addr cmd1 cmd2 data1 data2 cksum ------------------------------------------

PELCO_EXTENDED = {
    0x03: "store_preset", 0x05: "clear_preset", 0x07: "goto_preset",
    0x25: "zoom_speed", 0x27: "focus_speed", 0x2B: "focus_mode", 0x2D: "iris_mode",
}


def decode_pelco_d(data):
    out = {"protocol": "pelco-d", "bytes": _hex(data)}
    if len(data) != 7 or data[0] != 0xFF:
        return dict(out, valid=False, error="not a 7-byte frame with sync FF")
    if sum(data[1:6]) & 0xFF != data[6]:
        return dict(out, valid=False, error="checksum")
    addr, c1, c2, d1, d2 = data[1:6]
    out.update(valid=True, address=addr)
    if c2 & 0x01:
        # Bit 0 of command 2 set: an extended command.
        name = PELCO_EXTENDED.get(c2)
        if c1 != 0 or name is None:
            return dict(out, valid=False, error="unknown extended command %02x %02x" % (c1, c2))
        if name.endswith("preset"):
            return dict(out, action=name, preset=d2)
        if name.endswith("_mode"):
            # This head takes 1 = automatic, 2 = manual.
            modes = {1: "auto", 2: "manual"}
            return dict(out, action=name, mode=modes.get(d2, "unknown %d" % d2))
        return dict(out, action=name, speed=d2)
    if c1 == 0 and c2 == 0:
        return dict(out, action="stop")
    pan = "right" if c2 & 0x02 else "left" if c2 & 0x04 else None
    tilt = "up" if c2 & 0x08 else "down" if c2 & 0x10 else None
    zoom = "tele" if c2 & 0x20 else "wide" if c2 & 0x40 else None
    focus = "far" if c2 & 0x80 else "near" if c1 & 0x01 else None
    iris = "open" if c1 & 0x02 else "close" if c1 & 0x04 else None
    if (c2 & 0x06) == 0x06 or (c2 & 0x18) == 0x18 or (c2 & 0x60) == 0x60 or (c1 & 0x06) == 0x06:
        return dict(out, valid=False, error="opposite directions at once")
    return dict(out, action="move", pan=pan, pan_speed=d1 if pan else None, tilt=tilt,
                tilt_speed=d2 if tilt else None, zoom=zoom, focus=focus, iris=iris)


# ---- BiCom: 80 00 <len> 01 <server/object...> -----------------------------------------------

def decode_bicom(data):
    out = {"protocol": "bicom", "bytes": _hex(data)}
    if len(data) < 8 or data[0] != 0x80 or data[1] != 0x00 or data[3] != 0x01:
        return dict(out, valid=False, error="not a BiCom frame")
    out["valid"] = True
    kind, b4, b5 = data[2], data[4], data[5]
    if kind == 0x06 and len(data) == 9 and (b4, b5) == (0x10, 0x85):
        axes = {}
        for name, byte, pos, neg in (("pan", data[6], "right", "left"), ("tilt", data[7], "up", "down"),
                                     ("zoom", data[8], "tele", "wide")):
            speed = byte & 0x7F
            axes[name] = (pos if byte & 0x80 else neg) if speed else None
            axes[name + "_speed"] = speed if speed else None
        if not any(axes[a] for a in ("pan", "tilt", "zoom")):
            return dict(out, action="stop")
        return dict(out, action="move", focus=None, iris=None, **axes)
    if kind == 0x04 and len(data) == 8:
        lens = {0xF0: "focus", 0xB0: "iris"}.get(b4)
        value = data[7]
        if lens is None:
            return dict(out, valid=False, error="unknown lens object %02x" % b4)
        if b5 == 0x82:
            if value == 0:
                return dict(out, action="stop_" + lens)
            if lens == "focus":
                return dict(out, action="move", focus={1: "far", 2: "near"}.get(value, "?"), iris=None,
                            pan=None, tilt=None, zoom=None)
            return dict(out, action="move", iris={2: "open", 1: "close"}.get(value, "?"), focus=None,
                        pan=None, tilt=None, zoom=None)
        if b5 == 0x02:
            # Focus: 2 manual, 1 automatic; iris: 1 manual, 0 automatic.
            manual = value == 2 if lens == "focus" else value == 1
            return dict(out, action=lens + "_mode", mode="manual" if manual else "auto")
        return dict(out, valid=False, error="unknown lens operation %02x" % b5)
    if kind == 0x02 and len(data) == 9 and (b4, b5, data[6]) == (0xB0, 0x80, 0x07):
        op = {4: "store_preset", 5: "goto_preset", 0: "preset_idle"}.get(data[7])
        if op is None:
            return dict(out, valid=False, error="unknown preset operation %02x" % data[7])
        return dict(out, action=op, preset=data[8])
    return dict(out, valid=False, error="unknown BiCom frame")


# ---- OSRD: len|80 line_hi line_lo kind ... 7-bit sum ----------------------------------------

def decode_osrd(data):
    out = {"protocol": "osrd", "bytes": _hex(data)}
    if len(data) < 5 or not data[0] & 0x80 or (data[0] & 0x7F) != len(data) - 1:
        return dict(out, valid=False, error="length byte does not match")
    if sum(data[:-1]) & 0x7F != data[-1]:
        return dict(out, valid=False, error="checksum")
    if any(b & 0x80 for b in data[1:]):
        return dict(out, valid=False, error="8-bit byte in the body")
    line = data[1] << 7 | data[2]
    kind = data[3]
    out.update(valid=True, line=line)
    if kind == 5 and len(data) == 8:
        b4, b5, b6 = data[4], data[5], data[6]
        if b4 == b5 == b6 == 0:
            return dict(out, action="stop")
        pan = "right" if b6 & 0x01 else "left" if b6 & 0x02 else None
        tilt = "up" if b6 & 0x08 else "down" if b6 & 0x04 else None
        zoom = "tele" if b6 & 0x20 else "wide" if b6 & 0x10 else None
        iris = "open" if b5 & 0x04 else "close" if b5 & 0x02 else None
        focus = "far" if b5 & 0x01 else "near" if b6 & 0x40 else None
        return dict(out, action="move", pan=pan, pan_speed=(b5 >> 3) & 0x0F if pan else None, tilt=tilt,
                    tilt_speed=b4 & 0x0F if tilt else None, zoom=zoom, focus=focus, iris=iris,
                    lens_speed=(b4 >> 4) & 0x07 if (zoom or iris or focus) else None)
    if kind == 7 and len(data) == 7:
        op = data[4] & 0x0F
        preset = ((data[4] >> 4) & 0x07) << 7 | data[5]
        name = {4: "store_preset", 5: "goto_preset"}.get(op)
        if name is None:
            return dict(out, valid=False, error="unknown preset operation %d" % op)
        return dict(out, action=name, preset=preset)
    return dict(out, valid=False, error="unknown kind %d" % kind)


def decode(command, data):
    """A frame as it arrived: 0x09A5 carries BiCom, 0xFFDD Pelco-D or OSRD (after 4 zero bytes,
    already removed by the caller)."""
    data = bytes(data)
    if command == 0x09A5:
        return decode_bicom(data)
    if data[:1] == b"\xff":
        return decode_pelco_d(data)
    return decode_osrd(data)


# Order of the details in the one-line form.
_KEYS = ("pan", "pan_speed", "tilt", "tilt_speed", "zoom", "focus", "iris", "lens_speed", "preset", "mode",
         "speed")


def line(decoded):
    """One line per frame for tests: "<protocol> <action> key=value ...", only the details that
    are set; "<protocol> invalid <error>" for a frame a head would drop; " ignored" when the
    head never heard it."""
    if not decoded.get("valid"):
        text = "%s invalid %s" % (decoded.get("protocol"), decoded.get("error"))
    else:
        parts = [decoded["protocol"], decoded["action"]]
        parts += ["%s=%s" % (k, decoded[k]) for k in _KEYS if decoded.get(k) is not None]
        text = " ".join(parts)
    if decoded.get("ignored"):
        text += " ignored"
    return text
