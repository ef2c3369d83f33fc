"""Cameras that record what they stream and replay it for the driver's edge storage (the RTSP
side of these cameras is camsimlib/edge_replay.py instead of GStreamer's server)."""

from ..models import register_camera, register_config

# "edge": served by edge_replay.py; None = GStreamer's server (rtsp_server.py).
register_config(rtsp_server=None,
                replay_speed=4,         # edge replay: times real time
                storage_seconds=600)    # edge replay: how far back the recording reaches

# .81 has no storage; .82 replays at real speed.
register_camera({"address": "127.0.0.80", "auth": "none", "rtsp_server": "edge"})
register_camera({"address": "127.0.0.81", "auth": "none", "rtsp_server": "edge", "storage": False})
register_camera({"address": "127.0.0.82", "auth": "none", "rtsp_server": "edge", "replay_speed": 1})
register_camera({"address": "127.0.0.83", "auth": "none", "rtsp_server": "edge"})
# .84 replays at twice real time; .85 drains many short gaps fast.
register_camera({"address": "127.0.0.84", "auth": "none", "rtsp_server": "edge", "replay_speed": 2})
register_camera({"address": "127.0.0.85", "auth": "none", "rtsp_server": "edge", "replay_speed": 16})
# .86 replays at twice real time for the channel restarts; .87 for the replays that cannot finish.
register_camera({"address": "127.0.0.86", "auth": "none", "rtsp_server": "edge", "replay_speed": 2})
register_camera({"address": "127.0.0.87", "auth": "none", "rtsp_server": "edge", "replay_speed": 8})
