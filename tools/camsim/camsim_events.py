"""Alarm I/O and motion side of the simulated cameras: the cameras kept for the motion and I/O
tests, and the time-stamped record of every relay switch.

camsim.py calls the hooks below; the camera state stays on the Camera object (under its lock).
"""

import time

# Cameras of the motion and I/O tests (addresses 127.0.0.50-59). Their input and output counts
# are what 0x01DB / 0x01DC report, so the driver's I/O description matches the model.
EVENT_CAMERAS = [
    # Motion: two video lines, each with its own motion state.
    {"address": "127.0.0.50", "auth": "basic", "model": "Camsim Motion 2", "video_lines": 2},
    # Alarm box: 4 inputs, 2 relays.
    {"address": "127.0.0.51", "auth": "basic", "model": "Camsim IO 4-2", "inputs": 4, "outputs": 2},
    # Older encoder: refuses the 0x09A5 input set-up, one input and no relay.
    {"address": "127.0.0.52", "auth": "basic", "model": "Camsim IO 1-0", "inputs": 1, "outputs": 0,
     "refuses_io_exchange": True},
    # End-to-end runs of the test host (io and motion modes).
    {"address": "127.0.0.53", "auth": "none", "model": "Camsim IO 2-1", "inputs": 2, "outputs": 1},
]


def reset(cam):
    """Called from Camera.reset() under the camera's lock."""
    cam.output_log = []  # {"output", "value", "time"} for every accepted 0x01C1 write


def record_output(cam, num, value):
    """A relay write was accepted: keep it with its time (seconds, wall clock)."""
    with cam.lock:
        cam.output_log.append({"output": num, "value": value, "time": round(time.time(), 3)})


def state(cam):
    """Extra keys of GET /camera/<a>/state."""
    return {"output_log": list(cam.output_log)}
