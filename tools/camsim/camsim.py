#!/usr/bin/python3
"""Camera simulator: several simulated IP cameras in one process.

Each camera listens on its own loopback address (127.0.0.x) and answers the RCP+ requests on
"/rcp.xml" and the snapshot requests on "/snap.jpg" from a state model that tests can read back
and steer through a JSON control interface (default 127.0.0.1:18080). See README.md.

Only the Python standard library is used for HTTP; ffmpeg renders the snapshot pictures once at
start-up. When camsimlib/rtsp_server.py imports, its start(camera) is called for every camera
so that the RTSP side streams what the driver configured here. The simulator itself is the
package camsimlib beside this script (see camsimlib/README.md); this is its entry point.
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from camsimlib.app import main  # noqa: E402

if __name__ == "__main__":
    sys.exit(main(__doc__))
