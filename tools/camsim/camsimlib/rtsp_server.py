#!/usr/bin/python3
"""RTSP side of the camera simulator: a GStreamer RTSP server per simulated camera.

Each camera listens on its own loopback address, port 554. The stream is picked by the URL
query the driver sends ("?h26x=4", "?h26x=0", "&line=N", "&inst=2", "&multicast=1",
"&rec=1"). GStreamer's mount points match paths and ignore the query, so one factory is
mounted at "/" and reads the query from the request URL itself. The server then answers with
the Content-Base "rtsp://addr:554/" and the track "stream=0"; the session stays bound to the
media its DESCRIBE chose on that connection.

Media are live test patterns encoded on the fly; a factory is shared between clients so a
camera encodes each stream once however many sessions watch it. The encoder settings the
driver wrote over RCP+ (camera.settings, kept by camsim.py) decide size, rate and bit rate;
a settings change takes effect for the next DESCRIBE of that stream.

Used two ways (see RTSP.md):
  - from camsim.py: handle = rtsp_server.start(camera); handle.fault(name, **args); handle.stop()
  - standalone: /usr/bin/python3 rtsp_server.py --address 127.0.0.60 --auth digest --user u
    --password p [--control-port 8554]; faults are then sent as text lines to the control port.
"""

import argparse
import json
import os
import re
import signal
import socket
import sys
import threading
import time
import warnings

import gi

try:  # inside the camsim package, or run on its own from this folder
    from . import audio_media
except ImportError:
    import audio_media

gi.require_version("Gst", "1.0")
gi.require_version("GstRtsp", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import Gio, GLib, Gst, GstRtsp, GstRtspServer  # noqa: E402

# The bindings complain once about the context argument of "send-message"; the handler works.
warnings.filterwarnings("ignore", message=".*G_VALUE_HOLDS_OBJECT.*")

RTSP_PORT = 554
DEFAULT_SIZE = (640, 360)
DEFAULT_FPS = 25
DEFAULT_KBPS = 1000
AUTH_ROLE = "user"
# How long a PLAY may wait for a fresh live stream to start before it is answered 503.
PLAY_SEGMENT_WAIT_S = 3.0

# Sizes behind the resolution codes the driver writes for H.264/MPEG-4 encoders.
H26X_RESOLUTIONS = {
    0: (176, 144), 1: (352, 288), 2: (704, 288), 3: (704, 576), 6: (320, 240), 7: (640, 480),
    8: (256, 144), 9: (512, 288), 10: (768, 432), 12: (1280, 720), 14: (1920, 1080),
    15: (2592, 1944),
}
# Sizes behind the Motion JPEG resolution codes (the same where they overlap).
JPEG_RESOLUTIONS = {**H26X_RESOLUTIONS, 16: (1280, 960), 17: (1440, 1080), 18: (1024, 1024)}

# Sizes of the encoder profile codes a camera lists in 0x0AF9 and runs through 0x0AD3 (byte 3 the
# first stream's code, byte 7 the second's). Codes 1, 3, 10, 12, 13 and 14 leave the size to the
# resolution code; a camera with "profile_sizes" streams the other codes at their own size.
PROFILE_CODE_SIZES = {
    4: (1280, 720), 5: (1280, 720), 7: (1280, 720), 8: (1280, 720), 19: (1280, 720), 6: (1920, 1080),
    9: (1920, 1080), 15: (1280, 960), 27: (1280, 960), 16: (1440, 1080), 17: (1280, 1024), 59: (1280, 1024),
    18: (576, 1024), 20: (2704, 2032), 54: (2704, 2032), 21: (2992, 1680), 53: (2992, 1680), 22: (3840, 2160),
    23: (4000, 3000), 24: (3584, 2016), 25: (800, 600), 26: (1024, 768), 28: (1600, 1200), 29: (3648, 2160),
    30: (2640, 2640), 55: (2640, 2640), 31: (1792, 1792), 56: (1792, 1792), 32: (1024, 1024), 33: (800, 800),
    42: (800, 800), 34: (1536, 864), 35: (2560, 1440), 36: (2560, 960), 37: (3648, 1080), 38: (1824, 1080),
    57: (1824, 1080), 39: (1824, 540), 40: (1280, 480), 41: (1536, 1536), 43: (768, 768), 44: (768, 288),
    45: (2048, 1152), 46: (2688, 800), 47: (672, 200), 48: (608, 360), 49: (640, 240), 50: (768, 576),
    51: (3584, 504), 58: (1216, 720),
}

# One test pattern per camera line, chosen to differ visibly and to stay cheap to encode.
LINE_PATTERNS = ["smpte", "ball", "pinwheel", "spokes", "colors", "circular", "gradient", "red"]
REPLAY_PATTERN = "smpte100"
MULTICAST_PREFIX = "mcast-"

_gst_ready = False
_gst_lock = threading.Lock()


def _init_gst():
    global _gst_ready
    with _gst_lock:
        if not _gst_ready:
            Gst.init(None)
            _gst_ready = True


def parse_query(query):
    """Query text -> (canonical query, dict). A trailing "/stream=N" (a track URL built on a
    query without a slash) is not part of the stream's identity."""
    query = (query or "").lstrip("?")
    if "/" in query:
        query = query.split("/", 1)[0]
    params = {}
    for item in query.split("&"):
        if not item:
            continue
        key, _, value = item.partition("=")
        params[key.lower()] = value
    return query, params


def _int(value, default):
    try:
        return int(str(value), 0)
    except (TypeError, ValueError):
        return default


class StreamChoice:
    """What one query asks for, resolved against the camera's current encoder settings."""

    def __init__(self, params, settings, clip=None, camera=None):
        self.audio = audio_media.launch(camera) if camera is not None and audio_media.wants_audio(params) else None
        self.codec = "jpeg" if _int(params.get("h26x"), 4) == 0 else "h264"
        self.clip = clip if self.codec == "h264" and not _int(params.get("rec"), 0) else None
        self.line = max(1, _int(params.get("line"), 1))
        self.inst = max(1, _int(params.get("inst"), 1))
        self.multicast = _int(params.get("multicast"), 0) == 1
        self.replay = _int(params.get("rec"), 0) == 1
        s = self._settings_for(settings or {})
        table = JPEG_RESOLUTIONS if self.codec == "jpeg" else H26X_RESOLUTIONS
        self.width, self.height = DEFAULT_SIZE
        if "width" in s and "height" in s:
            self.width, self.height = _int(s["width"], self.width), _int(s["height"], self.height)
        else:
            code_key = "jpeg_resolution_code" if self.codec == "jpeg" and "jpeg_resolution_code" in s \
                else "resolution_code"
            code = _int(s.get(code_key), -1)
            if code in table:
                self.width, self.height = table[code]
            line_settings = {}
            if isinstance(settings, dict):
                line_settings = settings.get(self.line) or settings.get(str(self.line)) or {}
            mode = (line_settings.get("encoder_mode") if isinstance(line_settings, dict) else None) or []
            # The standalone server's cameras have no configuration.
            config = getattr(camera, "config", None) or {}
            if self.codec == "h264" and config.get("profile_sizes") and len(mode) == 8:
                profile = mode[3] if self.inst == 1 else mode[7]
                if profile in PROFILE_CODE_SIZES:
                    self.width, self.height = PROFILE_CODE_SIZES[profile]
        self.fps = min(60, max(1, _int(s.get("frame_rate"), DEFAULT_FPS)))
        self.kbps = min(50000, max(64, _int(s.get("bitrate_kbps"), DEFAULT_KBPS)))
        self.quality = min(100, max(1, _int(s.get("quality"), 60)))

    def _settings_for(self, settings):
        # camsim keeps settings per line (and possibly per instance); a flat dict applies to all.
        for key in ((self.line, self.inst), "%d/%d" % (self.line, self.inst), self.line, str(self.line)):
            if isinstance(settings, dict) and isinstance(settings.get(key), dict):
                return settings[key]
        return settings if isinstance(settings, dict) else {}

    def pattern(self):
        if self.replay:
            return REPLAY_PATTERN
        return LINE_PATTERNS[(self.line - 1) % len(LINE_PATTERNS)]

    def launch(self):
        if self.audio:
            return self.audio
        if self.clip:
            # A pre-encoded H.264 clip (MP4, for its time stamps) played at its own frame rate:
            # costs next to no CPU, so that benchmarks measure the client, not the encoder.
            return ("( filesrc location=%s ! qtdemux ! h264parse ! video/x-h264,stream-format=byte-stream,"
                    "alignment=au ! valve name=gate drop=false ! rtph264pay name=pay0 pt=96 config-interval=-1 )"
                    % self.clip)
        # The valve lets the "stop_sending" fault silence a stream without ending the session.
        src = ("videotestsrc is-live=true pattern=%s ! video/x-raw,width=%d,height=%d,framerate=%d/1 "
               "! valve name=gate drop=false ! videoconvert ! video/x-raw,format=I420"
               % (self.pattern(), self.width, self.height, self.fps))
        if self.codec == "jpeg":
            enc = "jpegenc quality=%d ! rtpjpegpay name=pay0 pt=26" % self.quality
        else:
            enc = ("x264enc tune=zerolatency speed-preset=ultrafast bitrate=%d key-int-max=%d "
                   "! video/x-h264,profile=constrained-baseline ! rtph264pay name=pay0 pt=96 "
                   "config-interval=-1" % (self.kbps, self.fps))
        return "( %s ! %s )" % (src, enc)


class QueryMediaFactory(GstRtspServer.RTSPMediaFactory):
    """The one factory of a camera, mounted at "/": the server's path matching ignores the
    query, so the factory reads it from the request URL and keys shared media by the query
    and the pipeline (a settings change then gives new sessions a new media while running
    sessions keep theirs)."""

    def __init__(self, owner):
        super().__init__()
        self.owner = owner

    def _choice(self, url):
        _, params = parse_query(url.query if url is not None else "")
        return StreamChoice(params, getattr(self.owner.camera, "settings", None),
                            getattr(self.owner.camera, "rtsp_clip", None), self.owner.camera)

    def do_gen_key(self, url):
        choice = self._choice(url)
        return "%s|%s" % (choice.launch(), choice.multicast)

    def do_create_element(self, url):
        choice = self._choice(url)
        element = Gst.parse_launch(choice.launch())
        # media-configure sees only the element; its name carries the transport choice.
        element.set_name(("%sstream" if choice.multicast else "%sstream") %
                         (MULTICAST_PREFIX if choice.multicast else "ucast-"))
        return element


class CameraRtspServer:
    """One camera's RTSP server with its own GLib main context and thread."""

    def __init__(self, camera):
        _init_gst()
        self.camera = camera
        self.address = getattr(camera, "address", "127.0.0.1")
        self.context = GLib.MainContext.new()
        self.loop = GLib.MainLoop.new(self.context, False)
        self.lock = threading.Lock()
        self.medias = []
        self.mcast_ports = {}  # group address -> first port
        self.dropping = False
        self.source_id = None
        self.server = GstRtspServer.RTSPServer()
        self.server.set_address(self.address)
        self.server.set_service(str(getattr(camera, "port", RTSP_PORT) or RTSP_PORT))
        self._setup_auth()
        octet = _int(self.address.rsplit(".", 1)[-1], 1) & 0xFF
        # Multicast groups and ports of this camera, distinct per camera; TTL 1 keeps them local.
        self.mcast_pool = GstRtspServer.RTSPAddressPool()
        self.mcast_pool.add_range("239.255.%d.1" % octet, "239.255.%d.254" % octet,
                                  20000 + octet * 100, 20000 + octet * 100 + 98, 1)
        # Unicast RTP leaves from the camera's own address, as it does from a real camera: the
        # driver drops packets whose sender is not the camera. Sockets of a media are bound to
        # the pool's unicast address; without a pool they would be bound to any address and the
        # kernel would send from 127.0.0.1.
        self.ucast_pool = GstRtspServer.RTSPAddressPool()
        self.ucast_pool.add_range(self.address, self.address, 30000 + octet * 100,
                                  30000 + octet * 100 + 98, 0)
        self._make_factory()
        self.server.connect("client-connected", self._on_client_connected)
        self.thread = threading.Thread(target=self._run, name="rtsp %s" % self.address, daemon=True)
        self.started = threading.Event()
        self.error = None

    # -- life cycle -------------------------------------------------------------------------

    def start(self, timeout=10.0):
        self.thread.start()
        if not self.started.wait(timeout):
            raise RuntimeError("RTSP server on %s did not start" % self.address)
        if self.error:
            raise RuntimeError(self.error)
        return self

    def _run(self):
        self.context.push_thread_default()
        try:
            self._listen()
        except Exception as exc:  # reported to start()
            self.error = "RTSP server on %s: %s" % (self.address, exc)
        self.started.set()
        if not self.error:
            self.loop.run()
        self.context.pop_thread_default()

    def _listen(self):
        # attach() hides bind errors in a log message; creating the source first reports them.
        source = self.server.create_source(None)
        self.source_id = source.attach(self.context)
        self._source = source

    def _unlisten(self):
        if self.source_id is not None:
            self._source.destroy()
            self._source = None
            self.source_id = None

    def _call(self, func, *args):
        """Runs func on the server's thread and returns its result (GStreamer server objects
        are driven from their main context only)."""
        if threading.current_thread() is self.thread:
            return func(*args)
        done = threading.Event()
        box = {}

        def work(*unused):
            try:
                box["result"] = func(*args)
            except Exception as exc:  # handed back to the caller
                box["error"] = exc
            done.set()
            return False

        # Ahead of pending socket work: a fault takes effect before the next request is served.
        source = GLib.idle_source_new()
        source.set_priority(GLib.PRIORITY_HIGH)
        source.set_callback(work)
        source.attach(self.context)
        if not done.wait(10.0):
            raise RuntimeError("RTSP server thread of %s does not respond" % self.address)
        if "error" in box:
            raise box["error"]
        return box.get("result")

    def stop(self):
        if not self.thread.is_alive():
            return
        self._call(self._shutdown)
        self.loop.quit()
        self.thread.join(5.0)

    def _shutdown(self):
        self._unlisten()
        self._close_clients()
        with self.lock:
            self.medias = []

    # -- authentication ---------------------------------------------------------------------

    def _setup_auth(self):
        mode = (getattr(self.camera, "auth", "none") or "none").lower()
        if mode == "none":
            return
        user = getattr(self.camera, "user", "") or ""
        password = getattr(self.camera, "password", "") or ""
        auth = GstRtspServer.RTSPAuth()
        token = GstRtspServer.RTSPToken()
        token.set_string("media.factory.role", AUTH_ROLE)
        if mode == "digest":
            auth.add_digest(user, password, token)
            auth.set_supported_methods(GstRtsp.RTSPAuthMethod.DIGEST)
        else:
            auth.add_basic(GstRtspServer.RTSPAuth.make_basic(user, password), token)
            auth.set_supported_methods(GstRtsp.RTSPAuthMethod.BASIC)
        self.server.set_auth(auth)
        self.auth_mode = mode

    def _protect(self, factory):
        if (getattr(self.camera, "auth", "none") or "none").lower() == "none":
            return
        factory.add_role_from_structure(Gst.Structure.new_from_string(
            "%s, media.factory.access=(boolean)true, media.factory.construct=(boolean)true" % AUTH_ROLE))

    # -- stream selection -------------------------------------------------------------------

    def _make_factory(self):
        factory = QueryMediaFactory(self)
        factory.set_shared(True)
        factory.set_suspend_mode(GstRtspServer.RTSPSuspendMode.NONE)
        factory.set_protocols(GstRtsp.RTSPLowerTrans.UDP | GstRtsp.RTSPLowerTrans.TCP |
                              GstRtsp.RTSPLowerTrans.UDP_MCAST)
        self._protect(factory)
        factory.connect("media-configure", self._on_media_configure)
        self.server.get_mount_points().add_factory("/", factory)

    def _on_client_connected(self, server, client):
        client.connect("send-message", self._on_send_message)
        client.connect("pre-play-request", self._on_pre_play)

    def _on_pre_play(self, client, ctx):
        """Holds a PLAY until every sending stream of the media has started its segment.

        The server reads each stream's segment while answering PLAY and aborts the whole
        process (an assertion) when one is missing, which happens when a client PLAYs a fresh
        live media before its first buffer, e.g. on a loaded machine or while the stream is
        silenced. Waiting a little, then answering 503, keeps the simulator alive; the client
        simply tries again."""
        try:
            media = ctx.media
            if media is None:
                return GstRtsp.RTSPStatusCode.OK
            pads = []
            for index in range(media.n_streams()):
                stream = media.get_stream(index)
                pad = stream.get_srcpad() if stream is not None and stream.is_sender() else None
                if pad is not None:
                    pads.append(pad.get_peer() or pad)
            deadline = time.monotonic() + PLAY_SEGMENT_WAIT_S
            while any(p.get_sticky_event(Gst.EventType.SEGMENT, 0) is None for p in pads):
                if time.monotonic() >= deadline:
                    print("rtsp_server %s: PLAY before the stream started; 503" % self.address,
                          file=sys.stderr)
                    return GstRtsp.RTSPStatusCode.SERVICE_UNAVAILABLE
                time.sleep(0.02)
        except Exception as exc:  # a failed look must not refuse a good PLAY
            print("rtsp_server %s: pre-play: %s" % (self.address, exc), file=sys.stderr)
        return GstRtsp.RTSPStatusCode.OK

    def _on_send_message(self, client, ctx, message):
        # The server's own SDP names the multicast group with port 0; a camera's names the port
        # too, and clients that join from the DESCRIBE alone rely on it.
        try:
            if message.get_type() != GstRtsp.RTSPMsgType.RESPONSE:
                return
            # Before the answer leaves, so a client that joins on reading it can bind the port.
            try:
                self._share_multicast_sockets()
            except Exception as exc:
                print("rtsp_server %s: multicast sockets: %s" % (self.address, exc), file=sys.stderr)
            result, body = message.get_body()
            if result != GstRtsp.RTSPResult.OK or not body or b"m=video 0 " not in bytes(body):
                return
            text = bytes(body).decode("ascii", "replace")
            group = re.search(r"^c=IN IP4 ([0-9.]+)", text, re.M)
            with self.lock:
                port = self.mcast_ports.get(group.group(1)) if group else None
            if port:
                message.set_body(text.replace("m=video 0 ", "m=video %d " % port, 1).encode())
        except Exception as exc:  # never let a patch attempt break the answer
            print("rtsp_server %s: %s" % (self.address, exc), file=sys.stderr)

    def _on_media_configure(self, factory, media):
        if media.get_element().get_name().startswith(MULTICAST_PREFIX):
            media.set_protocols(GstRtsp.RTSPLowerTrans.UDP_MCAST)
            media.set_address_pool(self.mcast_pool)
            media.set_multicast_iface("lo")
            # Allocate now so the DESCRIBE answer can name the port (see _on_send_message).
            for index in range(media.n_streams()):
                addr = media.get_stream(index).get_multicast_address(Gio.SocketFamily.IPV4)
                if addr is not None:
                    with self.lock:
                        self.mcast_ports[addr.address] = addr.port
        else:
            media.set_protocols(GstRtsp.RTSPLowerTrans.UDP | GstRtsp.RTSPLowerTrans.TCP)
            media.set_address_pool(self.ucast_pool)
        with self.lock:
            self.medias.append(media)
            gate = media.get_element().get_by_name("gate")
            if gate is not None and self.dropping:
                gate.set_property("drop", True)
        media.connect("unprepared", self._on_media_unprepared)

    def _share_multicast_sockets(self):
        """Lets receivers on this host share the multicast ports and hear the stream.

        GStreamer binds the multicast stream's sockets to the group's port on every address,
        without address reuse, and turns multicast loopback off: a real camera is another host,
        but the simulator shares its host with the recorder, which then cannot bind the port
        (EADDRINUSE) and, on an interface other than lo, would not hear the group. Without an
        interface address the datagrams leave with no usable source; the camera's own address
        makes them look as they would from a real camera (receivers drop anyone else's). The
        sockets exist from the SETUP on and the sink may set its options again as clients come
        and go, so this runs before every answer; setting the options twice is harmless."""
        with self.lock:
            medias = [m for m in self.medias if m.get_element().get_name().startswith(MULTICAST_PREFIX)]
        for media in medias:
            for index in range(media.n_streams()):
                stream = media.get_stream(index)
                for gsock in (stream.get_rtp_multicast_socket(Gio.SocketFamily.IPV4),
                              stream.get_rtcp_multicast_socket(Gio.SocketFamily.IPV4)):
                    if gsock is not None:
                        self._share_socket(gsock)

    def _share_socket(self, gsock):
        gsock.set_multicast_loopback(True)
        # A duplicate descriptor shares the socket; closing it leaves GStreamer's open.
        sock = socket.socket(fileno=os.dup(gsock.get_fd()))
        try:
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEPORT, 1)
            sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(self.address))
        finally:
            sock.close()

    def _on_media_unprepared(self, media):
        with self.lock:
            if media in self.medias:
                self.medias.remove(media)

    # -- fault injection --------------------------------------------------------------------

    def fault(self, name, **args):
        """Injects a fault; returns a short text. Names:
        stop_sending / resume_sending   silence every stream (sessions stay up) / undo it
        end_session                     close every client connection (sessions end)
        rtcp_bye                        end the streams, so RTCP BYE goes out
        restart [delay=1]               drop listener and clients, listen again after delay s
        refuse / accept                 stop / resume accepting connections (refused at once)
        freeze seconds=N                stop answering RTSP requests for N s (media keep flowing)
        """
        name = name.replace("-", "_").lower()
        if name in ("stop_sending", "resume_sending"):
            return self._call(self._set_dropping, name == "stop_sending")
        if name == "end_session":
            return self._call(self._close_clients)
        if name == "rtcp_bye":
            return self._call(self._send_eos)
        if name == "restart":
            self._call(self._shutdown)
            time.sleep(float(args.get("delay", 1.0)))
            self._call(self._listen)
            return "restarted"
        if name == "refuse":
            self._call(self._unlisten)
            return "refusing"
        if name == "accept":
            if self.source_id is None:
                self._call(self._listen)
            return "accepting"
        if name == "freeze":
            seconds = float(args.get("seconds", 10.0))
            # The answer waits until the server thread is really asleep, and the sleep outranks
            # pending socket work: a request that arrives after the answer is never served
            # before the freeze begins.
            started = threading.Event()

            def freeze(*unused):
                started.set()
                time.sleep(seconds)
                return False

            source = GLib.idle_source_new()
            source.set_priority(GLib.PRIORITY_HIGH)
            source.set_callback(freeze)
            source.attach(self.context)
            if not started.wait(10.0):
                raise RuntimeError("RTSP server thread of %s does not respond" % self.address)
            return "frozen for %.1f s" % seconds
        raise ValueError("unknown fault %r" % name)

    def _set_dropping(self, drop):
        with self.lock:
            self.dropping = drop
            for media in self.medias:
                gate = media.get_element().get_by_name("gate")
                if gate is not None:
                    gate.set_property("drop", drop)
        return "dropping" if drop else "sending"

    def _close_clients(self):
        self.server.client_filter(lambda server, client, *unused: GstRtspServer.RTSPFilterResult.REMOVE)
        return "sessions ended"

    def _send_eos(self):
        with self.lock:
            medias = list(self.medias)
        for media in medias:
            media.get_element().send_event(Gst.Event.new_eos())
        return "bye sent to %d streams" % len(medias)


def start(camera):
    """Starts the RTSP server of one camera (called once per camera by camsim.py)."""
    return CameraRtspServer(camera).start()


# -- standalone mode ------------------------------------------------------------------------


class StandaloneCamera:
    def __init__(self, opts):
        self.address = opts.address
        self.port = opts.port
        self.user = opts.user
        self.password = opts.password
        self.auth = opts.auth
        self.settings = json.loads(opts.settings) if opts.settings else {}


def _serve_control(server, address, port):
    """Line protocol for tests: "<fault> [key=value ...]" -> one reply line; "quit" ends."""
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((address, port))
    listener.listen(4)
    while True:
        conn, _ = listener.accept()
        with conn:
            for line in conn.makefile("r"):
                words = line.split()
                if not words:
                    continue
                if words[0] == "quit":
                    conn.sendall(b"ok bye\n")
                    return
                args = dict(w.split("=", 1) for w in words[1:] if "=" in w)
                try:
                    reply = "ok " + str(server.fault(words[0], **args))
                except Exception as exc:
                    reply = "error " + str(exc)
                conn.sendall((reply + "\n").encode())


def main():
    parser = argparse.ArgumentParser(description="Simulated camera RTSP server")
    parser.add_argument("--address", default="127.0.0.60")
    parser.add_argument("--port", type=int, default=RTSP_PORT)
    parser.add_argument("--auth", choices=["none", "basic", "digest"], default="none")
    parser.add_argument("--user", default="")
    parser.add_argument("--password", default="")
    parser.add_argument("--settings", default="", help="encoder settings as JSON")
    parser.add_argument("--control-port", type=int, default=0,
                        help="TCP port on the same address taking fault commands")
    opts = parser.parse_args()
    server = start(StandaloneCamera(opts))
    print("rtsp_server: listening on %s:%d (auth %s)" % (opts.address, opts.port, opts.auth), flush=True)
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *unused: stop.set())
    signal.signal(signal.SIGINT, lambda *unused: stop.set())
    if opts.control_port:
        control = threading.Thread(target=lambda: (_serve_control(server, opts.address, opts.control_port),
                                                   stop.set()), daemon=True)
        control.start()
    while not stop.wait(0.5):
        pass
    server.stop()


if __name__ == "__main__":
    main()
