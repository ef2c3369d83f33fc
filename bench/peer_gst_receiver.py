#!/usr/bin/python3
"""GStreamer's own RTSP receiver as the benchmark's yardstick: one process, one pipeline with a
branch per stream (rtspsrc ! rtph264depay ! fakesink), the frames of each branch counted by its
sink over a window, and the process's own CPU time over the same window.

  peer_gst_receiver.py --transport udp|tcp --seconds S --warmup W URL [URL...]

Prints "PEER memory when=before anon_kb=K" (the process before any stream), "PEER receiving=R/N",
"PEER window begins" (so that a script can sample the process over the same window), "PEER memory
when=window_end anon_kb=K", then "PEER result streams=N seconds=... frames_total=...
expected_per_stream=... min=... max=... cpu_percent=... cpu_percent_per_stream=...".
"""
import argparse
import os
import sys
import time

import gi

gi.require_version("Gst", "1.0")
from gi.repository import Gst  # noqa: E402


def cpu_seconds():
    t = os.times()
    return t.user + t.system


def rendered(sink):
    stats = sink.get_property("stats")
    ok, value = stats.get_uint64("rendered")
    return value if ok else 0


def anon_kb():
    """Resident anonymous memory of this process (KiB), as the benchmark reads the driver's."""
    try:
        with open("/proc/self/status") as f:
            for line in f:
                if line.startswith("RssAnon:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--transport", choices=("udp", "tcp"), default="udp")
    parser.add_argument("--seconds", type=float, default=15)
    parser.add_argument("--warmup", type=float, default=60)
    parser.add_argument("--fps", type=float, default=25)
    parser.add_argument("urls", nargs="+")
    args = parser.parse_args()

    Gst.init(None)
    branches = []
    for i, url in enumerate(args.urls):
        # The sinks count only: no clock sync, no last-sample copy, no signals.
        branches.append(
            "rtspsrc location=\"%s\" protocols=%s ! rtph264depay ! fakesink name=s%d sync=false async=false "
            "enable-last-sample=false" % (url, args.transport, i))
    pipeline = Gst.parse_launch(" ".join(branches))
    print("PEER memory when=before anon_kb=%d" % anon_kb(), flush=True)
    sinks = [pipeline.get_by_name("s%d" % i) for i in range(len(args.urls))]
    pipeline.set_state(Gst.State.PLAYING)
    bus = pipeline.get_bus()

    n = len(sinks)
    deadline = time.monotonic() + args.warmup
    while time.monotonic() < deadline:
        msg = bus.timed_pop_filtered(100 * Gst.MSECOND, Gst.MessageType.ERROR)
        if msg:
            err, debug = msg.parse_error()
            print("PEER error %s" % err.message, flush=True)
        if all(rendered(s) > 0 for s in sinks):
            break
    print("PEER receiving=%d/%d" % (sum(rendered(s) > 0 for s in sinks), n), flush=True)
    time.sleep(2)  # let the first key-frame bursts pass, as the driver's host does

    start = [rendered(s) for s in sinks]
    print("PEER window begins", flush=True)
    cpu0, t0 = cpu_seconds(), time.monotonic()
    time.sleep(args.seconds)
    cpu1, t1 = cpu_seconds(), time.monotonic()
    print("PEER memory when=window_end anon_kb=%d" % anon_kb(), flush=True)
    frames = [rendered(s) - f for s, f in zip(sinks, start)]
    elapsed = t1 - t0
    cpu_percent = 100.0 * (cpu1 - cpu0) / elapsed if elapsed > 0 else 0.0
    print("PEER result streams=%d seconds=%.1f frames_total=%d expected_per_stream=%.0f min=%d max=%d "
          "cpu_percent=%.1f cpu_percent_per_stream=%.2f"
          % (n, elapsed, sum(frames), args.fps * elapsed, min(frames), max(frames), cpu_percent,
             cpu_percent / n), flush=True)
    pipeline.set_state(Gst.State.NULL)
    return 0


if __name__ == "__main__":
    sys.exit(main())
