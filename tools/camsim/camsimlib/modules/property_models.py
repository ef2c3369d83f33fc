"""Camera models for the capability query (127.0.0.70 - 127.0.0.79).

Each model answers the whole property load consistently: what its capability list (0xFF10),
record list (0x0C00), profile pairs (0x0AF9), strings and numbers announce is what it streams
(the RTSP side streams at frame_rate_milli // 1000 and the sizes written to it).

Masks of the capability list: mask1 video codecs (0x02 MPEG-4, 0x04 H.264); mask2 standard sizes;
mask3 / mask4 audio in / out. 127.0.0.79 is left without a camera: an unreachable address.
"""

from ..models import register_camera


NO_AUDIO = {"mask3": 0x0000, "mask4": 0x0000, "mask5": 0x0000, "mask6": 0x0000}


def caps(mask1, mask2, **more):
    out = dict(NO_AUDIO)
    out.update({"mask1": mask1, "mask2": mask2})
    out.update(more)
    return out


CAMERAS = [
    # A fixed H.264 camera: 1080p and 720p in its own list of sizes, JPEG and 640x480 besides.
    {"address": "127.0.0.70", "auth": "basic", "model": "Camsim Fixed HD 1080", "firmware": "7.80.0128",
     "mac": [0x00, 0x1B, 0x2C, 0x03, 0x04, 0x05], "video_lines": 1, "encoders": 2,
     "frame_rate_milli": 30000, "inputs": 1, "outputs": 1, "storage": True,
     "capabilities": caps(0x0004, 0x0140), "records": [[30, 1920, 1080], [30, 1280, 720]]},
    # A PTZ dome without storage, inputs or outputs.
    {"address": "127.0.0.71", "auth": "basic", "model": "VG5 AutoDome Sim 7000", "firmware": "6.60.0065",
     "mac": [0x00, 0x07, 0x5F, 0xA0, 0x0B, 0xC1], "video_lines": 1, "encoders": 2,
     "frame_rate_milli": 30000, "inputs": 0, "outputs": 0, "storage": False, "ptz_octet": 0x01,
     "capabilities": caps(0x0004, 0x00C0), "records": [[30, 1280, 720]]},
    # A fish-eye with de-warping: the de-warped view on line 2, sizes from its profile pairs.
    {"address": "127.0.0.72", "auth": "digest", "model": "Camsim Panoramic 12MP", "firmware": "7.61.0023",
     "mac": [0x00, 0x07, 0x5F, 0x12, 0x00, 0xFE], "video_lines": 2, "encoders": 4,
     "frame_rate_milli": 25000, "inputs": 1, "outputs": 1, "storage": True, "dewarp": [1],
     "profiles": [[23, 0], [0, 22], [31, 33]], "records": [], "profile_sizes": True,
     "encoder_mode": [0, 0, 0, 31, 0, 0, 0, 33],
     "capabilities": caps(0x0004, 0x1000)},
    # A 4-input video encoder (PAL), MPEG-4 and JPEG, no storage.
    {"address": "127.0.0.73", "auth": "basic", "model": "Camsim Encoder 4 Video Server", "firmware": "5.52.0004",
     "mac": [0x00, 0x07, 0x5F, 0x40, 0x40, 0x04], "video_lines": 4, "encoders": 8,
     "frame_rate_milli": 25000, "inputs": 4, "outputs": 1, "storage": False, "records": [],
     "capabilities": caps(0x0006, 0x000F)},
    # An older camera of group 0: MPEG-4 streams, Motion JPEG only as snapshots.
    {"address": "127.0.0.74", "auth": "basic", "model": "Camsim Classic SD", "firmware": "4.10.0021",
     "mac": [0x00, 0x04, 0x63, 0x00, 0x10, 0x20], "video_lines": 1, "encoders": 1,
     "frame_rate_milli": 30000, "inputs": 1, "outputs": 0, "storage": False, "records": [],
     "capabilities": caps(0x0002, 0x0003)},
    # A camera with audio in and out.
    {"address": "127.0.0.75", "auth": "none", "model": "Camsim Fixed Audio 720", "firmware": "7.10.0074",
     "mac": [0x00, 0x07, 0x5F, 0x75, 0x75, 0x75], "video_lines": 1, "encoders": 2,
     "frame_rate_milli": 30000, "inputs": 1, "outputs": 1, "storage": True, "records": [[30, 1280, 720]],
     "capabilities": caps(0x0004, 0x0080, mask3=0x0001, mask4=0x0001)},
    # 60 frames per second: the host may take its rates raw.
    {"address": "127.0.0.76", "auth": "basic", "model": "Camsim Fast 720p60", "firmware": "7.80.0200",
     "mac": [0x00, 0x07, 0x5F, 0x60, 0x60, 0x60], "video_lines": 1, "encoders": 2,
     "frame_rate_milli": 60000, "inputs": 0, "outputs": 0, "storage": False, "records": [[60, 1280, 720]],
     "capabilities": caps(0x0004, 0x0080)},
    # A camera that lets anyone in over HTTP but refuses the login check.
    {"address": "127.0.0.77", "auth": "none", "model": "Camsim Locked", "login_string": "",
     "capabilities": caps(0x0004, 0x0140)},
    # A plain camera for hostile answers and slow replies (tests inject them as faults).
    {"address": "127.0.0.78", "auth": "none", "model": "Camsim Hostile", "firmware": "1.0",
     "video_lines": 1, "encoders": 2, "frame_rate_milli": 30000, "records": [[30, 1280, 720]],
     "capabilities": caps(0x0004, 0x0080)},
]


for _camera in CAMERAS:
    register_camera(_camera)
