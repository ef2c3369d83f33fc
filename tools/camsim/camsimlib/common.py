"""Shared constants and small helpers of the simulator (no camera state here)."""

import os
import sys
import time

# RCP+ error codes this simulator reports (the wire value of <err>).
ERR_UNKNOWN_COMMAND = 0x10
ERR_BAD_DIRECTION = 0x20
ERR_BAD_NUM = 0x40
ERR_BAD_PAYLOAD = 0x60
ERR_REFUSED = 0x0A

TYPES = ("F_FLAG", "T_OCTET", "T_INT", "T_DWORD", "P_OCTET", "P_STRING", "P_ULONG")

# Seconds between 1970-01-01 and 2000-01-01: camera times count from the latter.
CAMERA_EPOCH = 946684800
# Every source file of the simulator: the entry script beside this package and the package with
# its modules. camsimctl.sh computes the same newest mtime to replace a daemon running older code.
TOOL_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def source_files():
    files = [os.path.join(TOOL_DIR, "camsim.py")]
    for root, dirs, names in os.walk(os.path.join(TOOL_DIR, "camsimlib")):
        dirs[:] = [d for d in dirs if not d.startswith((".", "__"))]
        files += [os.path.join(root, n) for n in names if n.endswith(".py")]
    return [f for f in files if os.path.exists(f)]


# Taken at start-up, reported by /health.
SOURCE_MTIME = max(os.path.getmtime(f) for f in source_files())

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


def u16(v):
    return (v & 0xFFFF).to_bytes(2, "big")


def u32(v):
    return (v & 0xFFFFFFFF).to_bytes(4, "big")


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

