#!/usr/bin/env python3
"""The integrator's path against simulated camera models: ask the camera what it can do (the
capability query through the test host), hand the report's entries 1-10 and 101/102 to Open as
the driver's parameters exactly as a recorder stores them, and start every stream the report
advertises, nothing else:

- each live codec (entry 120) at an advertised live size (121) on the live stream, and each
  remote codec (124) at an advertised remote size (125) on the remote stream: H.264 and Motion
  JPEG over RTSP, MPEG-4 through the streamer, Motion JPEG as HTTP snapshots when the camera
  group (entry 5) is 0;
- audio in when entry 101 says Count=1, audio out when 102 does;
- PTZ with the advertised protocol (entry 4) when the report says the camera has a head (1 = 1).

Every video stream's capture must decode with ffprobe at the advertised size; audio in must
decode, audio out must reach the camera, PTZ frames must reach the head in that protocol. The
models run side by side (a few hosts at a time), each stream for a few seconds.

    round_trip.py HOST.EXE DRIVER.DLL [--workers N] [--seconds S] [--only NAME,...]
                  [--table FILE]
"""

import argparse
import concurrent.futures
import json
import os
import re
import shutil
import subprocess
import sys
import threading
import time
import urllib.request

SOURCE = os.environ.get("LUMIVAR_SOURCE_DIR") or os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
CONTROL = os.environ.get("CAMSIM_CONTROL", "127.0.0.1:18080")
WINE_RUN = os.path.join(SOURCE, "scripts", "wine-run.sh")
USER, PASSWORD = "service", "camsim"

# name, address, extra query options (the host that takes high rates raw says so)
MODELS = [
    ("fixed_h264", "127.0.0.70", []),
    ("ptz_dome", "127.0.0.71", []),
    ("fisheye", "127.0.0.72", []),
    ("encoder_4", "127.0.0.73", []),
    ("classic_group0", "127.0.0.74", []),
    ("audio", "127.0.0.75", []),
    ("high_rate_60", "127.0.0.76", ["--high-rate"]),
]

PTZ_PROTOCOLS = {"1": "pelco-d", "2": "osrd", "3": "bicom"}
print_lock = threading.Lock()


def say(text):
    with print_lock:
        print(text, flush=True)


def camsim(path, method="GET"):
    req = urllib.request.Request("http://%s%s" % (CONTROL, path), method=method)
    with urllib.request.urlopen(req, timeout=15) as r:
        return r.read().decode("utf-8", "replace")


def run_host(workdir, name, args, timeout, commands=None):
    """Runs the test host in `workdir` (its host directory) and returns (exit code, lines)."""
    cmd_file = os.path.join(workdir, name + ".cmd")
    with open(cmd_file, "w") as f:
        f.write("".join(line + "\n" for line in (commands or [])))
    full = [WINE_RUN, os.path.join(workdir, "lumivar_host.exe")] + args
    if commands is not None:
        full += ["--commands", cmd_file]
    try:
        p = subprocess.run(full, cwd=workdir, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, timeout=timeout)
        code, out = p.returncode, p.stdout
    except subprocess.TimeoutExpired as e:
        code, out = 124, e.stdout or b""
    text = out.decode("utf-8", "replace").replace("\r", "")
    with open(os.path.join(workdir, name + ".log"), "w") as f:
        f.write(text)
    # The password reaches the driver in every run; it must never come back in its output.
    leaks = [line for line in text.splitlines() if ":" + PASSWORD in line or PASSWORD + "@" in line]
    if leaks:
        code = code or 99
        say("CHECK FAILED: %s: the credentials appear in the output: %s" % (name, leaks[0]))
    return code, text.splitlines()


def parse_report(lines):
    """Entries by id: texts and numbers as the host printed them, plus the device texts."""
    texts, numbers, device = {}, {}, {}
    for line in lines:
        m = re.match(r"^(\d+) \[([^\]]*)\] = (.*)$", line)
        if m:
            texts[int(m.group(1))] = m.group(3)
            continue
        m = re.match(r"^(\d+) = (\d+)$", line)
        if m:
            numbers[int(m.group(1))] = int(m.group(2))
            continue
        m = re.match(r"^device ([a-z ]+) = (.*)$", line)
        if m:
            device[m.group(1)] = m.group(2)
    return texts, numbers, device


def resolutions(text):
    """'WxH:code,...' -> [(w, h, code)]"""
    out = []
    for entry in (text or "").split(","):
        m = re.match(r"^(\d+)x(\d+):(\d+)$", entry)
        if m:
            out.append(tuple(int(v) for v in m.groups()))
    return out


def frame_codes(text):
    m = re.match(r"^values=([\d,]+);default=(\d+)$", text or "")
    return [int(v) for v in m.group(1).split(",")] if m else []


def pick_rate(codes):
    """An advertised frame-rate code near 10 fps: enough frames, little encoding work."""
    plain = [c for c in codes if c < 0x70000000] or codes
    return min(plain, key=lambda c: abs(c - 100)) if plain else 100


def probe(path, fmt):
    """(codec, width, height, decoded frames, decode error lines)"""
    if not os.path.exists(path) or os.path.getsize(path) == 0:
        return ("", 0, 0, 0, 0)
    info = subprocess.run(["ffprobe", "-v", "error", "-f", fmt, "-count_frames", "-select_streams", "v:0",
                           "-show_entries", "stream=codec_name,width,height,nb_read_frames", "-of", "csv=p=0", path],
                          stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120).stdout
    errors = subprocess.run(["ffmpeg", "-v", "error", "-f", fmt, "-i", path, "-f", "null", "-"],
                            stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120).stderr
    parts = (info.strip().splitlines() or [""])[0].split(",")
    try:
        return (parts[0], int(parts[1]), int(parts[2]), int(parts[3]), len(errors.strip().splitlines()))
    except (IndexError, ValueError):
        return ("", 0, 0, 0, len(errors.strip().splitlines()))


class Model:
    def __init__(self, name, address, query_options, args):
        self.name, self.address, self.query_options, self.args = name, address, query_options, args
        self.dir = os.path.join(args.work, name)
        self.checks = []  # (ok, text)
        self.rows = []    # (advertised, streamed)

    def check(self, ok, text):
        self.checks.append((bool(ok), text))
        say("CHECK %s: %s: %s" % ("ok" if ok else "FAILED", self.name, text))
        return ok

    def device_args(self, lines_count):
        args = ["-a", self.address, "-P", "80", "-u", USER, "-w", PASSWORD, "-m", self.model_name or "Camsim",
                "-c", str(lines_count), "-v", "3"]
        for n in list(range(1, 11)) + [101, 102]:
            if n in self.texts:
                args += ["-p", "%d=%s" % (n, self.texts[n])]
        return args

    def run(self):
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)
        for f in (self.args.host, self.args.dll):
            shutil.copy(f, self.dir)
        camsim("/camera/%s/reset" % self.address, "POST")
        code, lines = run_host(self.dir, "query", ["-u", USER, "-w", PASSWORD, "query", self.address] +
                               self.query_options, 90)
        if not self.check(code == 0 and "query: completed" in lines, "the capability query completes"):
            return self
        with open(os.path.join(self.dir, "query.txt"), "w") as f:
            f.write("\n".join(lines) + "\n")
        self.texts, self.numbers, device = parse_report(lines)
        self.model_name = device.get("model", "Camsim")
        self.video_lines = int(device.get("video lines", "1") or 1)
        dev = self.device_args(self.video_lines)
        group = self.texts.get(5, "")
        plans = []
        for entry, size_entry, rate_entry, stream in ((120, 121, 122, 1), (124, 125, 126, 2)):
            codecs = [c for c in self.texts.get(entry, "").split(",") if c and c != "(none)"]
            sizes = resolutions(self.texts.get(size_entry))
            if not codecs:
                continue
            if not self.check(sizes, "entry %d advertises sizes for %s" % (size_entry, ",".join(codecs))):
                continue
            # The smallest advertised size: the stream is proven, the machine spared.
            w, h, _ = min(sizes, key=lambda s: s[0] * s[1])
            rate = pick_rate(frame_codes(self.texts.get(rate_entry)))
            for codec in codecs:
                plans.append((codec, stream, w, h, rate))
        for codec, stream, w, h, rate in plans:
            self.video(dev, codec, stream, w, h, rate, group)
        if self.texts.get(101, "").startswith("Count=1"):
            self.audio_in(dev)
        if self.texts.get(102, "").startswith("Count=1"):
            self.audio_out(dev)
        if self.numbers.get(1) == 1:
            self.ptz(dev)
        self.nothing_unadvertised()
        return self

    def video(self, dev, codec, stream, w, h, rate, group):
        fmt = {"h264": ("h264", "h264", "h264", "H.264 over RTSP"),
               "mpeg": ("mpeg4", "m4v", "mpeg4", "MPEG-4 through the streamer"),
               "jpeg": ("mjpeg", "mjpeg", "mjpeg", "Motion JPEG over RTSP")}.get(codec)
        if fmt is None:
            self.check(False, "unknown advertised codec %s" % codec)
            return
        host_format, probe_format, want, label = fmt
        if codec == "jpeg" and group == "0":
            label = "Motion JPEG as HTTP snapshots"
        # A multi-input encoder offers the stream on every input: H.264 is started on each (one
        # host, one driver), the others on the first.
        channels = self.video_lines if codec == "h264" and self.texts.get(8, "0") == "0" else 1
        name = "%s_s%d" % (codec, stream)
        out = os.path.join(self.dir, name + "." + probe_format)
        streams = []
        for ch in range(channels):
            streams += ["--stream", "%d:%d@%dx%d" % (ch, stream, w, h)]
        code, lines = run_host(self.dir, name, dev + ["live", "--format", host_format] + streams +
                               ["--frame-code", str(rate), "--seconds", str(self.args.seconds), "-o", out],
                               self.args.seconds + 90, commands=[])
        for ch in range(channels):
            path = out if channels == 1 else os.path.join(self.dir, "%s-c%ds%d.%s" % (name, ch, stream, probe_format))
            live = [l for l in lines if l.startswith("LIVE ") and l.endswith("file=" + path)]
            delivered = 0
            if live:
                m = re.search(r"frames=(\d+)", live[-1])
                delivered = int(m.group(1)) if m else 0
            got = probe(path, probe_format)
            where = " channel %d" % ch if channels > 1 else ""
            advertised = "%s %dx%d (stream %d%s)" % (label, w, h, stream, where)
            ok = (code == 0 and got[0] == want and (got[1], got[2]) == (w, h) and got[3] > 0 and
                  got[3] + 30 >= delivered)
            self.check(ok, "%s: %d frames delivered, %d decoded by ffprobe as %s %dx%d (exit %d)" %
                       (advertised, delivered, got[3], got[0] or "nothing", got[1], got[2], code))
            self.rows.append((advertised, "%d delivered, %d decoded as %s %dx%d" %
                              (delivered, got[3], got[0] or "nothing", got[1], got[2]), ok))

    def audio_in(self, dev):
        out = os.path.join(self.dir, "audio.wav")
        code, lines = run_host(self.dir, "audio_in", dev + ["--seconds", str(self.args.seconds), "-o", out,
                                                            "audio-in"], self.args.seconds + 90)
        result = next((l for l in lines if l.startswith("AUDIO result ")), "")
        m = re.search(r" frames=(\d+)", result)
        frames = int(m.group(1)) if m else 0
        info = subprocess.run(["ffprobe", "-v", "error", "-count_packets", "-show_entries",
                               "stream=codec_name,sample_rate,nb_read_packets", "-of", "csv=p=0", out],
                              stdin=subprocess.DEVNULL, capture_output=True, text=True).stdout.strip() \
            if os.path.exists(out) else ""
        ok = code == 0 and frames > 0 and info.startswith(("pcm_mulaw", "aac"))
        self.check(ok, "audio in (101 %s): %d frames, ffprobe: %s" % (self.texts.get(101), frames, info or "nothing"))
        self.rows.append(("audio in", "%d frames, decoded as %s" % (frames, info or "nothing"), ok))

    def audio_out(self, dev):
        wav = os.path.join(self.dir, "tone.wav")
        subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                        "sine=frequency=440:sample_rate=8000:duration=2", "-ac", "1", "-ar", "8000", "-c:a",
                        "pcm_mulaw", wav], stdin=subprocess.DEVNULL, check=True)
        camsim("/camera/%s/streamer_clear" % self.address, "POST")
        code, lines = run_host(self.dir, "audio_out", dev + ["audio-out", wav], 90)
        summary = next((l for l in lines if l.startswith("AUDIO_OUT ")), "")
        state = json.loads(camsim("/camera/%s/streamer_state" % self.address))
        received = len(bytes.fromhex(state.get("audio_bytes", "")))
        ok = code == 0 and "refused=0" in summary and received > 0
        self.check(ok, "audio out (102 %s): %s; the camera received %d bytes" %
                   (self.texts.get(102), summary or "no summary", received))
        self.rows.append(("audio out", "camera received %d bytes" % received, ok))

    def ptz(self, dev):
        protocol = PTZ_PROTOCOLS.get(self.texts.get(4, ""), "?")
        code, lines = run_host(self.dir, "ptz", dev + ["ptz", "--seconds", "30"], 90,
                               commands=["configured = 1", "move left 16 = 1", "wait 500", "stop = 1", "wait 500",
                                         "quit"])
        frames = camsim("/camera/%s/ptz.txt" % self.address).splitlines()
        mine = [f for f in frames if f.startswith(protocol + " ")]
        ok = code == 0 and any(" move " in f + " " for f in mine) and any(f.endswith("stop") for f in mine)
        self.check(ok, "PTZ (protocol %s = %s): the head decoded %s" %
                   (self.texts.get(4), protocol, "; ".join(frames[:4]) or "nothing"))
        self.rows.append(("PTZ %s" % protocol, "%d frames decoded by the head" % len(mine), ok))

    def nothing_unadvertised(self):
        # What the camera saw: no audio switched on without 101, no streamer connection without
        # MPEG-4 or audio out, no PTZ frame at a camera that reports no head.
        requests = camsim("/camera/%s/requests.txt" % self.address)
        state = json.loads(camsim("/camera/%s/streamer_state" % self.address))
        if 101 not in self.texts:
            self.check("command=0x000C" not in requests, "audio never switched on at a camera without audio in")
        if 102 not in self.texts:
            self.check(not state.get("audio_bytes"), "no audio sent to a camera without audio out")
        if 102 not in self.texts and "mpeg" not in self.texts.get(120, ""):
            self.check(not state.get("connections"), "no streamer connection at a camera without MPEG-4 or audio out")
        if self.numbers.get(1) != 1:
            frames = camsim("/camera/%s/ptz.txt" % self.address).strip()
            self.check(not frames, "no PTZ frame at a camera without a head")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("host")
    ap.add_argument("dll")
    ap.add_argument("--workers", type=int, default=3)
    ap.add_argument("--seconds", type=int, default=3)
    ap.add_argument("--only", default="")
    ap.add_argument("--table", default="")
    ap.add_argument("--work", default=os.path.join(os.environ.get("LUMIVAR_BINARY_DIR", "/tmp"), "round_trip"))
    args = ap.parse_args()
    wanted = [m for m in MODELS if not args.only or m[0] in args.only.split(",")]
    started = time.time()
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.workers) as pool:
        models = list(pool.map(lambda m: Model(m[0], m[1], m[2], args).run(), wanted))
    table = ["| model | advertised stream | streamed and decoded | |", "|---|---|---|---|"]
    for m in models:
        for advertised, streamed, ok in m.rows:
            table.append("| %s | %s | %s | %s |" % (m.name, advertised, streamed, "ok" if ok else "FAILED"))
    print("\n".join(table))
    if args.table:
        with open(args.table, "w") as f:
            f.write("\n".join(table) + "\n")
    passed = sum(ok for m in models for ok, _ in m.checks)
    failed = sum(not ok for m in models for ok, _ in m.checks)
    print("round trip: %d models in %.0f s" % (len(models), time.time() - started))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
