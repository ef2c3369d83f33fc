#!/usr/bin/env python3
"""A stand-in camera for the reception tests: sends RTP and RTCP on request and reports the
receiver reports that come back.

It listens for JSON commands on a control UDP socket; every command is answered with one JSON
datagram to the address it came from. All sockets are bound to 127.0.0.1; multicast goes out
on the loopback interface with TTL 1, so nothing leaves the machine (the multicast tests also
run inside a network namespace of their own).

Commands (one pair of RTP and RTCP sockets per kind of destination is kept for the whole run,
so every report comes from the same address, as a camera's would):
  {"cmd": "stream", "dest": ip, "rtp_port": p, "first_seq": s, "count": n, "interval_ms": t,
   "payload": bytes}                       sends n RTP packets, sequence numbers from s (wrapping).
  {"cmd": "report", "dest": ip, "rtcp_port": q, "wait_rr_ms": ms}
      sends one sender report (SR + SDES) and waits for the receiver report; the reply carries
      the LSR we put in the report, the receiver report (hex) and how long it took to come.
  {"cmd": "bye", "dest": ip, "rtcp_port": q}           sends an RTCP BYE.
  {"cmd": "expect", "wait_ms": ms}         waits for the next datagram on the RTCP socket (hex).
  {"cmd": "flood", "dest": ip, "rtp_port": p, "duration_ms": ms}
      sends packets back to back for the duration (replies when done).
  {"cmd": "quit"}
"""
import json
import socket
import struct
import sys
import time

SSRC = 0x5EED1234


def make_socket(multicast):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 0))
    if multicast:
        s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton("127.0.0.1"))
        s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 1)
        s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 1)
    return s


def is_multicast(ip):
    return 224 <= int(ip.split(".")[0]) <= 239


def rtp_packet(seq, timestamp, payload_size, marker):
    header = struct.pack("!BBHII", 0x80, (0x80 if marker else 0) | 96, seq & 0xFFFF, timestamp & 0xFFFFFFFF, SSRC)
    body = struct.pack("!H", seq & 0xFFFF) * (payload_size // 2)
    return header + body


def sender_report(rtp_ts, packets, octets):
    now = time.time() + 2208988800  # NTP epoch
    ntp_sec = int(now) & 0xFFFFFFFF
    ntp_frac = int((now - int(now)) * (1 << 32)) & 0xFFFFFFFF
    sr = struct.pack("!BBHIIIIII", 0x80, 200, 6, SSRC, ntp_sec, ntp_frac, rtp_ts & 0xFFFFFFFF, packets & 0xFFFFFFFF,
                     octets & 0xFFFFFFFF)
    cname = b"camsim"
    item = bytes([1, len(cname)]) + cname + b"\0"
    item += b"\0" * ((4 - len(item) % 4) % 4)
    sdes_body = struct.pack("!I", SSRC) + item
    sdes = struct.pack("!BBH", 0x81, 202, len(sdes_body) // 4) + sdes_body
    lsr = ((ntp_sec & 0xFFFF) << 16) | (ntp_frac >> 16)
    return sr + sdes, lsr


SOCKETS = {}
RTP_STATE = {"timestamp": 90000, "packets": 0, "octets": 0}


def sockets_for(dest):
    mc = is_multicast(dest)
    if mc not in SOCKETS:
        SOCKETS[mc] = (make_socket(mc), make_socket(mc))
    return SOCKETS[mc]


def stream(cmd):
    dest = cmd["dest"]
    rtp, _ = sockets_for(dest)
    seq = int(cmd.get("first_seq", 0))
    count = int(cmd.get("count", 10))
    interval = float(cmd.get("interval_ms", 1)) / 1000.0
    payload = int(cmd.get("payload", 200))
    for i in range(count):
        RTP_STATE["timestamp"] += 3600
        rtp.sendto(rtp_packet(seq + i, RTP_STATE["timestamp"], payload, i % 5 == 4), (dest, int(cmd["rtp_port"])))
        RTP_STATE["packets"] += 1
        RTP_STATE["octets"] += payload
        if interval:
            time.sleep(interval)
    return {"sent": count, "last_seq": (seq + count - 1) & 0xFFFF}


def receive(sock, wait_ms, reply, key):
    sock.settimeout(float(wait_ms) / 1000.0)
    try:
        data, addr = sock.recvfrom(2048)
        reply[key] = data.hex()
        reply[key + "_from"] = addr[0]
        return True
    except socket.timeout:
        return False


def drain(sock):
    """Drops what earlier receivers said (a BYE at their stop) so it is not taken for this answer."""
    sock.setblocking(False)
    try:
        while True:
            sock.recvfrom(2048)
    except (BlockingIOError, OSError):
        pass
    sock.setblocking(True)


def report(cmd):
    dest = cmd["dest"]
    _, rtcp = sockets_for(dest)
    drain(rtcp)
    packet, lsr = sender_report(RTP_STATE["timestamp"], RTP_STATE["packets"], RTP_STATE["octets"])
    sent_at = time.monotonic()
    rtcp.sendto(packet, (dest, int(cmd["rtcp_port"])))
    reply = {"lsr": lsr}
    if receive(rtcp, cmd.get("wait_rr_ms", 3000), reply, "rr"):
        reply["rr_after_ms"] = (time.monotonic() - sent_at) * 1000.0
    return reply


def expect(cmd):
    _, rtcp = sockets_for(cmd.get("dest", "127.0.0.1"))
    reply = {}
    receive(rtcp, cmd.get("wait_ms", 3000), reply, "data")
    return reply


def bye(cmd):
    dest = cmd["dest"]
    _, rtcp = sockets_for(dest)
    rtcp.sendto(struct.pack("!BBHI", 0x81, 203, 1, SSRC), (dest, int(cmd["rtcp_port"])))
    return {"bye": True}


def flood(cmd):
    dest = cmd["dest"]
    s, _ = sockets_for(dest)
    end = time.monotonic() + float(cmd.get("duration_ms", 1000)) / 1000.0
    seq = 0
    while time.monotonic() < end:
        s.sendto(rtp_packet(seq, seq * 3600, 1000, False), (dest, int(cmd["rtp_port"])))
        seq += 1
        if seq % 64 == 0:
            time.sleep(0.001)
    return {"sent": seq}


def main():
    host, port = sys.argv[1].rsplit(":", 1)
    control = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    control.bind((host, int(port)))
    if len(sys.argv) > 2:
        with open(sys.argv[2], "w") as ready:
            ready.write("ready\n")
    handlers = {"stream": stream, "report": report, "bye": bye, "expect": expect, "flood": flood}
    while True:
        data, addr = control.recvfrom(65535)
        try:
            cmd = json.loads(data.decode())
        except ValueError:
            continue
        if cmd.get("cmd") == "quit":
            control.sendto(b'{"quit": true}', addr)
            return
        handler = handlers.get(cmd.get("cmd"))
        reply = handler(cmd) if handler else {"error": "unknown command"}
        control.sendto(json.dumps(reply).encode(), addr)


if __name__ == "__main__":
    main()
