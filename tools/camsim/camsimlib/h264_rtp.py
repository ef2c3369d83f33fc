"""H.264 pieces shared by the cameras that serve RTP from our own socket code (edge replay and
the raw RTSP side): a clip encoded by ffmpeg, split into access units, sent as RFC 6184 packets."""

import struct


def split_nals(data):
    """NAL units of an Annex B byte stream, without start codes and trailing zero bytes."""
    out, i, n = [], 0, len(data)
    starts = []
    while True:
        j = data.find(b"\x00\x00\x01", i)
        if j < 0:
            break
        starts.append(j + 3)
        i = j + 3
    for k, s in enumerate(starts):
        e = starts[k + 1] - 3 if k + 1 < len(starts) else n
        nal = data[s:e]
        while nal.endswith(b"\x00"):
            nal = nal[:-1]
        if nal:
            out.append(nal)
    return out


def access_units(data):
    """([access units (lists of NAL units)], sps, pps) of an Annex B stream; SEI and access unit
    delimiters are left out, parameter sets open the unit they precede."""
    units, current, has_vcl, sps, pps = [], [], False, None, None
    for nal in split_nals(data):
        t = nal[0] & 0x1F
        if t in (6, 9):
            continue
        if t == 7:
            sps = sps or nal
        if t == 8:
            pps = pps or nal
        if has_vcl and t in (1, 5, 7, 8):
            units.append(current)
            current, has_vcl = [], False
        current.append(nal)
        has_vcl = has_vcl or t in (1, 5)
    if current and has_vcl:
        units.append(current)
    return units, sps, pps


def clip_command(width, height, fps, frames, output):
    """ffmpeg's command for a baseline clip with a key frame every second and parameter sets
    before each, so that a session may start at any key frame."""
    return ["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
            "testsrc=size=%dx%d:rate=%d" % (width, height, fps), "-frames:v", str(frames),
            "-pix_fmt", "yuv420p", "-c:v", "libx264", "-profile:v", "baseline", "-preset", "veryfast",
            "-g", str(fps), "-keyint_min", str(fps), "-sc_threshold", "0", "-bf", "0",
            "-x264-params", "repeat-headers=1", "-f", "h264", output]


def packetize(nals, seq, ts, ssrc, max_payload):
    """RFC 6184 packets (single NAL units and FU-A, payload type 96) of one access unit, the
    marker on the last; returns (packets, next sequence number)."""
    pkts = []
    for idx, nal in enumerate(nals):
        if len(nal) <= max_payload:
            chunks = [nal]
        else:
            body, chunks = nal[1:], []
            for off in range(0, len(body), max_payload):
                start = 0x80 if off == 0 else 0
                end = 0x40 if off + max_payload >= len(body) else 0
                chunks.append(bytes([(nal[0] & 0xE0) | 28, start | end | (nal[0] & 0x1F)])
                              + body[off:off + max_payload])
        for ci, chunk in enumerate(chunks):
            marker = 0x80 if idx == len(nals) - 1 and ci == len(chunks) - 1 else 0
            pkts.append(struct.pack("!BBHII", 0x80, marker | 96, seq & 0xFFFF, ts & 0xFFFFFFFF, ssrc) + chunk)
            seq += 1
    return pkts, seq
