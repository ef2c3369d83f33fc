"""Alarm I/O and motion side of the simulated cameras: the cameras kept for the motion and I/O
tests (addresses 127.0.0.50-59) and the time-stamped record of every relay switch.

Input counts, output counts, input reads and the motion state are the built-in commands; this
module wraps the relay write so that tests can see when and how often a relay was switched.
"""

import time

from ..commands import cmd_01c1
from ..camera import register_state
from ..models import register_camera
from ..rcp import rcp_command

# Their input and output counts are what 0x01DB / 0x01DC report, so the driver's I/O
# description matches the model.
# Motion: two video lines, each with its own motion state.
register_camera({"address": "127.0.0.50", "auth": "basic", "model": "Camsim Motion 2", "video_lines": 2})
# Alarm box: 4 inputs, 2 relays.
register_camera({"address": "127.0.0.51", "auth": "basic", "model": "Camsim IO 4-2", "inputs": 4, "outputs": 2})
# Older encoder: refuses the 0x09A5 input set-up, one input and no relay.
register_camera({"address": "127.0.0.52", "auth": "basic", "model": "Camsim IO 1-0", "inputs": 1, "outputs": 0,
                 "refuses_io_exchange": True})
# End-to-end runs of the test host (io and motion modes).
register_camera({"address": "127.0.0.53", "auth": "none", "model": "Camsim IO 2-1", "inputs": 2, "outputs": 1})

# {"output", "value", "time"} for every accepted relay write; time in seconds (wall clock).
register_state("output_log", lambda cam: [], view=list)


@rcp_command(0x01C1, "F_FLAG", replace=True)
def relay(h, direction, typ, num, payload, session):
    reply = cmd_01c1(h, direction, typ, num, payload, session)
    if direction == "WRITE" and reply.err is None:
        h.cam.extra["output_log"].append({"output": num, "value": h.cam.outputs[num],
                                          "time": round(time.time(), 3)})
    return reply
