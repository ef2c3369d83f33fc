"""The camera's built-in RCP+ commands, each registered with the data type a camera knows it by.

`num` is checked where the command addresses something that exists a limited number of times
(inputs, outputs, video lines, stream coders, encoder instances, the PTZ head); the byte layouts
below are the ones the driver parses.
"""

import threading

from .common import (ERR_BAD_DIRECTION, ERR_BAD_NUM, ERR_BAD_PAYLOAD, ERR_REFUSED, ERR_UNKNOWN_COMMAND,
                     hexbytes, parse_number, parse_payload_bytes, u16, u32)
from .rcp import RcpReply, bytes_reply, error_reply, number_reply, rcp_command


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


@rcp_command(0x000C, "F_FLAG")
def cmd_000c(h, direction, typ, num, payload, session):
    if direction == "READ":
        return RcpReply(dec_value=str(h.cam.audio_enabled), hex_value="0x%02x" % h.cam.audio_enabled)
    v = parse_number(payload)
    if v is None:
        return error_reply(ERR_BAD_PAYLOAD)
    h.cam.audio_enabled = 1 if v else 0
    return number_reply(h.cam.audio_enabled)


@rcp_command(0x002F, "P_STRING")
def cmd_002f(h, direction, typ, num, payload, session):
    return h.read_only(direction, RcpReply(str_value=h.cam.config["firmware"]))


def _io_write(h, direction, typ, num, payload, what, count):
    if direction != "WRITE":
        return error_reply(ERR_BAD_DIRECTION)
    if num < 1 or num > count:
        return error_reply(ERR_BAD_NUM)
    v, reply = h.echo_write(typ, payload)
    if reply.err is None:
        h.cam.io_setup.append({"command": what, "num": num, "value": v})
    return reply


@rcp_command(0x0048, "T_OCTET")
def cmd_0048(h, direction, typ, num, payload, session):
    return _io_write(h, direction, typ, num, payload, "0x0048", h.cam.config["outputs"])


@rcp_command(0x0093, "T_OCTET")
def cmd_0093(h, direction, typ, num, payload, session):
    return _io_write(h, direction, typ, num, payload, "0x0093", h.cam.config["outputs"])


@rcp_command(0x008D, "T_OCTET")
def cmd_008d(h, direction, typ, num, payload, session):
    return _io_write(h, direction, typ, num, payload, "0x008d", h.cam.config["inputs"])


@rcp_command(0x00BC, "P_OCTET")
def cmd_00bc(h, direction, typ, num, payload, session):
    return h.read_only(direction, bytes_reply(bytes(h.cam.config["mac"])))


@rcp_command(0x01C0, "F_FLAG")
def cmd_01c0(h, direction, typ, num, payload, session):
    if num not in h.cam.inputs:
        return error_reply(ERR_BAD_NUM)
    v = h.cam.inputs[num]
    return h.read_only(direction, RcpReply(dec_value=str(v), hex_value="0x%02x" % v))


@rcp_command(0x01C1, "F_FLAG")
def cmd_01c1(h, direction, typ, num, payload, session):
    if num not in h.cam.outputs:
        return error_reply(ERR_BAD_NUM)
    if direction == "READ":
        v = h.cam.outputs[num]
        return RcpReply(dec_value=str(v), hex_value="0x%02x" % v)
    v = parse_number(payload)
    if v is None:
        return error_reply(ERR_BAD_PAYLOAD)
    h.cam.outputs[num] = 1 if v else 0
    return number_reply(h.cam.outputs[num])


@rcp_command(0x01D6, "P_ULONG")
def cmd_01d6(h, direction, typ, num, payload, session):
    return h.read_only(direction, number_reply(h.cam.config["video_lines"]))


@rcp_command(0x01DB, "P_ULONG")
def cmd_01db(h, direction, typ, num, payload, session):
    return h.read_only(direction, number_reply(h.cam.config["inputs"]))


@rcp_command(0x01DC, "P_ULONG")
def cmd_01dc(h, direction, typ, num, payload, session):
    return h.read_only(direction, number_reply(h.cam.config["outputs"]))


@rcp_command(0x01F1, "T_OCTET")
def cmd_01f1(h, direction, typ, num, payload, session):
    if num != 1:  # the camera has one PTZ head
        return error_reply(ERR_BAD_NUM)
    if direction == "READ":
        return number_reply(h.cam.ptz_octet)
    v = parse_number(payload)
    if v is None or v > 0xFF:
        return error_reply(ERR_BAD_PAYLOAD)
    h.cam.ptz_octet = v
    return number_reply(v)


@rcp_command(0x028B, "P_STRING")
def cmd_028b(h, direction, typ, num, payload, session):
    return h.read_only(direction, RcpReply(str_value=h.cam.config["login_string"]))


@rcp_command(0x0504, "P_ULONG")
def cmd_0504(h, direction, typ, num, payload, session):
    return h.read_only(direction, number_reply(h.cam.config["encoders"]))


def _is_encoder_instance(h, num):
    """Instances count from 1: as many as the camera has encoders, or as 0xFF11 names."""
    cfg = h.cam.config
    return 1 <= num <= max([cfg["encoders"]] + list(cfg["encoder_instances"]))


@rcp_command(0x0600, "T_DWORD")
def cmd_0600(h, direction, typ, num, payload, session):
    # Coder selection per encoder instance: kept in the write log and `values` only.
    if direction != "WRITE":
        return error_reply(ERR_BAD_DIRECTION)
    if not _is_encoder_instance(h, num):
        return error_reply(ERR_BAD_NUM)
    return h.echo_write(typ, payload)[1]


@rcp_command(0x0604, "T_DWORD")
def cmd_0604(h, direction, typ, num, payload, session):
    return h.coder_write(direction, typ, num, payload, "intra_distance")


@rcp_command(0x0606, "T_DWORD")
def cmd_0606(h, direction, typ, num, payload, session):
    reply = h.coder_write(direction, typ, num, payload, "skip")
    s = h.settings_for_coder(num)
    if reply.err is None and s is not None and s.get("skip") is not None:
        base = h.cam.config["frame_rate_milli"] // 1000
        s["frame_rate"] = max(1, base // s["skip"]) if s["skip"] else base
    return reply


@rcp_command(0x0607, "T_DWORD")
def cmd_0607(h, direction, typ, num, payload, session):
    return h.coder_write(direction, typ, num, payload, "bitrate_kbps")


@rcp_command(0x0608, "T_DWORD")
def cmd_0608(h, direction, typ, num, payload, session):
    s = h.settings_for_coder(num)
    before = s.get("resolution_code") if s is not None else None
    reply = h.coder_write(direction, typ, num, payload, "resolution_code")
    after = s.get("resolution_code") if s is not None else None
    # The simulated encoder cannot change size inside a running stream: like cameras that
    # restart their encoder, it ends the RTSP sessions so clients reconnect at the new size.
    # The first write of a coder (stream set-up) changes nothing that is streaming.
    if reply.err is None and before is not None and after != before and h.cam.rtsp is not None:
        threading.Thread(target=h.cam.rtsp.fault, args=("end_session",), daemon=True).start()
    return reply


@rcp_command(0x060A, "T_DWORD")
def cmd_060a(h, direction, typ, num, payload, session):
    return h.coder_write(direction, typ, num, payload, "quantizer")


@rcp_command(0x060B, "T_DWORD")
def cmd_060b(h, direction, typ, num, payload, session):
    return h.coder_write(direction, typ, num, payload, "quantizer_p")


@rcp_command(0x0612, "T_DWORD")
def cmd_0612(h, direction, typ, num, payload, session):
    return h.coder_write(direction, typ, num, payload, "max_bitrate_kbps")


@rcp_command(0x0A82, "T_DWORD")
def cmd_0a82(h, direction, typ, num, payload, session):
    if not h.cam.config["accepts_0a82"]:
        return error_reply(ERR_UNKNOWN_COMMAND)
    return h.coder_write(direction, typ, num, payload, "quantizer_setup")


@rcp_command(0x0A94, "T_OCTET")
def cmd_0a94(h, direction, typ, num, payload, session):
    return h.coder_write(direction, typ, num, payload, "gop")


@rcp_command(0x0A9C, "T_DWORD")
def cmd_0a9c(h, direction, typ, num, payload, session):
    if direction != "WRITE":
        return error_reply(ERR_BAD_DIRECTION)
    if not _is_encoder_instance(h, num):
        return error_reply(ERR_BAD_NUM)
    v, reply = h.echo_write(typ, payload)
    return reply


@rcp_command(0x0807, "P_OCTET")
def cmd_0807(h, direction, typ, num, payload, session):
    if num not in h.cam.motion:
        return error_reply(ERR_BAD_NUM)
    state = 0x80 if h.cam.motion[num] else 0x00
    return h.read_only(direction, bytes_reply(bytes([state, 0, 0, 0])))


@rcp_command(0x097C, "P_STRING")
def cmd_097c(h, direction, typ, num, payload, session):
    return h.read_only(direction, RcpReply(str_value=h.cam.config["model"]))


@rcp_command(0x09D4, "P_OCTET")
def cmd_09d4(h, direction, typ, num, payload, session):
    data = bytes([1, 0, 0, 0]) if h.cam.config["storage"] else bytes(4)
    return h.read_only(direction, bytes_reply(data))


@rcp_command(0x0A0F, "P_OCTET")
def cmd_0a0f(h, direction, typ, num, payload, session):
    if direction != "WRITE":
        return error_reply(ERR_BAD_DIRECTION)
    data = parse_payload_bytes(payload)
    if data is None or len(data) != 7:
        return error_reply(ERR_BAD_PAYLOAD)
    year = data[0] << 8 | data[1]
    h.cam.camera_time = "%04d-%02d-%02dT%02d:%02d:%02d" % ((year,) + tuple(data[2:7]))
    return bytes_reply(data)


@rcp_command(0x0AD2, "P_OCTET")
def cmd_0ad2(h, direction, typ, num, payload, session):
    if direction != "WRITE":
        return error_reply(ERR_BAD_DIRECTION)
    return h.line_bytes(direction, typ, num, payload, "h264_setup", 12)


@rcp_command(0x0AD3, "P_OCTET")
def cmd_0ad3(h, direction, typ, num, payload, session):
    return h.line_bytes(direction, typ, num, payload, "encoder_mode", 8)


@rcp_command(0x0AD5, "P_OCTET")
def cmd_0ad5(h, direction, typ, num, payload, session):
    if direction != "WRITE":
        return error_reply(ERR_BAD_DIRECTION)
    reply = h.line_bytes(direction, typ, num, payload, "jpeg_setup", 12)
    s = h.cam.settings.get(num)
    if reply.err is None and s is not None:
        d = s["jpeg_setup"]
        s["jpeg_resolution_code"] = d[3]
        s["jpeg_frame_rate"] = max(1, int.from_bytes(bytes(d[4:8]), "big") // 1000)
        s["quality"] = d[11]
    return reply


@rcp_command(0x0AD6, "P_ULONG")
def cmd_0ad6(h, direction, typ, num, payload, session):
    return h.read_only(direction, number_reply(h.cam.config["frame_rate_milli"]))


@rcp_command(0x0AE8, "T_DWORD")
def cmd_0ae8(h, direction, typ, num, payload, session):
    if direction != "READ":
        return error_reply(ERR_BAD_DIRECTION)
    base = h.cam.config["session_base"]
    if not base:
        return number_reply(0)
    sid = base + num
    h.cam.sessions.setdefault(sid, {"key": num, "playing": False, "seek": None})
    return number_reply(sid)


@rcp_command(0x0AF9, "P_OCTET")
def cmd_0af9(h, direction, typ, num, payload, session):
    if num not in h.cam.settings:
        return error_reply(ERR_BAD_NUM)
    return h.read_only(direction, bytes_reply(profile_list(h.cam.config["profiles"])))


@rcp_command(0x0BF6, "P_OCTET")
def cmd_0bf6(h, direction, typ, num, payload, session):
    return h.line_bytes(direction, typ, num, payload, "dewarp")


@rcp_command(0x0C00, "P_OCTET")
def cmd_0c00(h, direction, typ, num, payload, session):
    if num not in h.cam.settings and num != 0:
        return error_reply(ERR_BAD_NUM)
    return h.read_only(direction, bytes_reply(record_list(h.cam.config["records"])))


@rcp_command(0xFF10, "P_OCTET")
def cmd_ff10(h, direction, typ, num, payload, session):
    return h.read_only(direction, bytes_reply(capability_list(h.cam.config["capabilities"])))


@rcp_command(0xFF11, "P_OCTET")
def cmd_ff11(h, direction, typ, num, payload, session):
    if num not in h.cam.settings:
        return error_reply(ERR_BAD_NUM)
    return h.read_only(direction, bytes_reply(bytes(h.cam.config["encoder_instances"])))


@rcp_command(0xFFDD, "P_OCTET")
def cmd_ffdd(h, direction, typ, num, payload, session):
    if direction != "WRITE":
        return error_reply(ERR_BAD_DIRECTION)
    if num != 1:
        return error_reply(ERR_BAD_NUM)
    data = parse_payload_bytes(payload)
    if data is None or len(data) < 5:
        return error_reply(ERR_BAD_PAYLOAD)
    h.cam.ptz_frames.append({"command": "0xffdd", "num": num, "bytes": hexbytes(data[4:])})
    return bytes_reply(data)


# Replay sessions.
def _session(h, session):
    return h.cam.sessions.get(session)


@rcp_command(0x0901, "P_OCTET")
def cmd_0901(h, direction, typ, num, payload, session):
    if direction != "READ":
        return error_reply(ERR_BAD_DIRECTION)
    if _session(h, session) is None:
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
    live = getattr(h.cam, "live_recording", None)  # a camera that records what it streams
    for start, stop in sorted(live() if live else h.cam.recordings):
        if stop > begin and start < end:
            out += u32(start) + u32(stop) + bytes(8)
    return bytes_reply(out)


@rcp_command(0x0902, "T_INT")
def cmd_0902(h, direction, typ, num, payload, session):
    s = _session(h, session)
    if direction != "WRITE":
        return error_reply(ERR_BAD_DIRECTION)
    if s is None:
        return error_reply(ERR_BAD_NUM)
    v = parse_number(payload)
    if v is None:
        return error_reply(ERR_BAD_PAYLOAD)
    s["playing"] = v != 0
    s["speed"] = v
    s["gen"] = s.get("gen", 0) + 1  # the replay server restarts its stream on each change
    return number_reply(v)


@rcp_command(0x0905, "P_OCTET")
def cmd_0905(h, direction, typ, num, payload, session):
    s = _session(h, session)
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


# Byte messages to the camera head (0x09A5).
@rcp_command(0x09A5, "P_OCTET")
def cmd_09a5(h, direction, typ, num, payload, session):
    if direction != "WRITE":
        return error_reply(ERR_BAD_DIRECTION)
    data = parse_payload_bytes(payload)
    if data is None or not data:
        return error_reply(ERR_BAD_PAYLOAD)
    cam = h.cam
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
            _zone_access(h, num, sub, data)
        if data[5] == 0x01:
            value = cam.head.get(reg, 0)
            return bytes_reply(bytes(data[:5]) + bytes([0x01]) + u16(value))
        value = int.from_bytes(data[6:], "big") if len(data) > 6 else 0
        cam.head[reg] = value
        return bytes_reply(data)
    # Anything else is a PTZ frame for the head (BiCom frames travel here, per camera line).
    cam.ptz_frames.append({"command": "0x09a5", "num": num, "bytes": hexbytes(data)})
    return bytes_reply(data)


def _zone_access(h, num, sub, data):
    zone, field = sub >> 4, sub & 0x0F
    if zone > 3 or field > 4:
        return
    zones = h.cam.zones.setdefault(str(num), [
        {"enabled": 0, "left": 0, "top": 0, "right": 0, "bottom": 0} for _ in range(4)])
    name = ("enabled", "left", "top", "right", "bottom")[field]
    reg = "%02x/%02x/%02x/%d" % (data[2], data[3], sub, num)
    if data[5] == 0x03:
        zones[zone][name] = int.from_bytes(data[6:], "big") if len(data) > 6 else 0
    else:
        h.cam.head[reg] = zones[zone][name]
