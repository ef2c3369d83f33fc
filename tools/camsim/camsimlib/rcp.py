"""RCP+ as a camera speaks it: the command registry, request checking and the XML reply.

Commands live in COMMANDS (code -> Command). The built-in ones are in commands.py; a module
adds its own with @rcp_command(code, type) and they are served like the built-in ones:
injected errors, type and direction checks, the write log and `values` all apply.
"""

from .common import (ERR_BAD_DIRECTION, ERR_BAD_NUM, ERR_BAD_PAYLOAD, ERR_UNKNOWN_COMMAND, TYPES,
                     hexbytes, log, parse_number, parse_payload_bytes)

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


class Command:
    """One RCP+ command a camera knows: the data type it is addressed with (a camera knows a
    command by code and type together), the directions it takes and its handler."""

    def __init__(self, code, types, handler, directions):
        self.code = code
        self.types = (types,) if isinstance(types, str) else tuple(types)
        self.handler = handler
        self.directions = tuple(directions)
        unknown = [t for t in self.types if t not in TYPES]
        if unknown or not self.types:
            raise ValueError("command 0x%04X: unknown type %s" % (code, unknown))


# Code -> Command: the built-in commands (commands.py) and whatever modules register.
COMMANDS = {}


def register_command(code, types, handler, directions=("READ", "WRITE"), replace=False):
    """handler(h, direction, typ, num, payload, session) -> RcpReply, called with h.cam.lock held.

    `replace` must be given to take over a command that is already registered, so that two
    modules never serve one command by accident.
    """
    if code in COMMANDS and not replace:
        raise ValueError("RCP+ command 0x%04X is already registered" % code)
    COMMANDS[code] = Command(code, types, handler, directions)


def rcp_command(code, types, directions=("READ", "WRITE"), replace=False):
    """Decorator form of register_command()."""
    def add(fn):
        register_command(code, types, fn, directions, replace)
        return fn
    return add


class RcpHandler:
    """Answers one RCP+ request of one camera; command handlers get it as `h`."""

    def __init__(self, cam, query=None):
        self.cam = cam
        self.query = query or {}
        self.note = ""  # why a request was refused, for the request log

    def handle(self, q):
        cam = self.cam
        self.query = q
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
            command = COMMANDS.get(cmd)
            if command is None:
                self.note = "unknown command"
                return error_reply(ERR_UNKNOWN_COMMAND), cmd, typ
            # A camera looks commands up by code and type: under another type the command does
            # not exist, whatever the payload would have meant.
            if typ not in command.types:
                self.note = "wrong type %s, the camera knows 0x%04X as %s" % (
                    typ, cmd, "/".join(command.types))
                log("%s: %s" % (cam.address, self.note))
                return error_reply(ERR_UNKNOWN_COMMAND), cmd, typ
            if direction not in command.directions:
                self.note = "wrong direction"
                return error_reply(ERR_BAD_DIRECTION), cmd, typ
            if direction == "WRITE":
                if payload is None:
                    return error_reply(ERR_BAD_PAYLOAD), cmd, typ
                cam.writes.append({"command": key, "type": typ, "num": num, "payload": payload,
                                   "session": session})
            reply = command.handler(self, direction, typ, num, payload, session)
            if direction == "WRITE" and reply.err is None:
                cam.values["%s/%d" % (key, num)] = payload
        return reply, cmd, typ

    # Helpers for writes ------------------------------------------------------------------
    def echo_write(self, typ, payload):
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

    def settings_for_coder(self, num):
        """Per-coder record; mirrored into the line's settings when the coder maps to a line."""
        if num < 1 or num > 16:
            return None
        line, live = coder_slot(num)
        s = self.cam.settings.get(line)
        if s is None:
            return self.cam.coders.setdefault(num, {})
        return s["live"] if live else s

    def coder_write(self, direction, typ, num, payload, field, convert=None):
        if direction != "WRITE":
            return error_reply(ERR_BAD_DIRECTION)
        v, reply = self.echo_write(typ, payload)
        if reply.err:
            return reply
        s = self.settings_for_coder(num)
        if s is None:
            return error_reply(ERR_BAD_NUM)
        if field:
            s[field] = convert(v) if convert else v
        return reply

    def line_bytes(self, direction, typ, num, payload, field, length=None):
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

    def read_only(self, direction, reply):
        return reply if direction == "READ" else error_reply(ERR_BAD_DIRECTION)


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

