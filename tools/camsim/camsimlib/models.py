"""What the simulated cameras are: the configuration keys with their defaults and the default
camera set. Modules add keys with register_config() and cameras with register_camera()."""

import copy

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
    # H.264 streams at the size of the encoder profile code 0x0AD3 selects (see PROFILE_CODE_SIZES).
    "profile_sizes": False,
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
]


def register_config(**defaults):
    """Adds configuration keys (with their defaults) that a module's cameras may override."""
    for key, value in defaults.items():
        if key in BASE_CONFIG:
            raise ValueError("configuration key %s is already taken" % key)
        BASE_CONFIG[key] = value


def register_camera(spec):
    """Adds a camera to the default set; its address must not be in use yet."""
    if any(c["address"] == spec["address"] for c in DEFAULT_CAMERAS):
        raise ValueError("camera %s is already defined" % spec["address"])
    DEFAULT_CAMERAS.append(dict(spec))


def make_config(overrides):
    cfg = copy.deepcopy(BASE_CONFIG)
    for k, v in overrides.items():
        cfg[k] = copy.deepcopy(v)
    if not cfg.get("challenge"):
        cfg["challenge"] = {"basic": ["Basic"], "digest": ["Digest"]}.get(cfg["auth"], [])
    return cfg

