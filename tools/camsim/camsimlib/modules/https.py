"""Cameras that serve RCP+, snapshots and the capability reads over TLS ("tls_ports"), with a
certificate made at start-up (camsimlib/http_side.py): 127.0.0.94 only over HTTPS on 443, 127.0.0.95
over HTTP on 80 and HTTPS on 443. Both are the fixed H.264 camera of the capability query with a
PTZ head and I/O, so every side but the streamer (which has no TLS) can be tried over HTTPS."""

from ..models import register_camera, register_config

register_config(tls_ports=[])

_BASE = {"auth": "basic", "firmware": "7.80.0128", "video_lines": 1, "encoders": 2, "frame_rate_milli": 30000,
         "inputs": 2, "outputs": 1, "storage": False, "ptz_octet": 0x01,
         "capabilities": {"mask1": 0x0004, "mask2": 0x0140, "mask3": 0, "mask4": 0, "mask5": 0, "mask6": 0},
         "records": [[30, 1280, 720]]}

register_camera(dict(_BASE, address="127.0.0.94", port=443, tls_ports=[443], model="Camsim HTTPS Only",
                     mac=[0x00, 0x07, 0x5F, 0x00, 0x00, 0x94]))
register_camera(dict(_BASE, address="127.0.0.95", port=80, tls_ports=[443], model="Camsim HTTP and HTTPS",
                     mac=[0x00, 0x07, 0x5F, 0x00, 0x00, 0x95]))
