"""The listening side of the cameras whose RTSP server is our own socket code: one thread
accepts, one thread a connection; a stop closes the listener and every connection."""

import socket
import struct
import threading


class RtspSocketServer:
    """Subclasses set their own state first, then call `listen`, and give `new_connection`
    (an object with `run` and `close`, or None to refuse the connection)."""

    def listen(self, address, port, name):
        self.connections = set()
        if not hasattr(self, "lock"):
            self.lock = threading.Lock()
        self.stopped = threading.Event()
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind((address, port))
        self.sock.listen(16)
        threading.Thread(target=self.accept_loop, daemon=True, name=name).start()

    def new_connection(self, conn, peer):
        raise NotImplementedError

    def accept_loop(self):
        while not self.stopped.is_set():
            try:
                conn, peer = self.sock.accept()
            except OSError:
                return
            c = self.new_connection(conn, peer)
            if c is None:
                conn.close()
                continue
            with self.lock:
                self.connections.add(c)
            threading.Thread(target=c.run, daemon=True, name="%s connection" % self.sock.getsockname()[0]).start()

    def forget(self, c):
        with self.lock:
            self.connections.discard(c)

    def close_all(self):
        with self.lock:
            doomed = list(self.connections)
        for c in doomed:
            c.close()

    def stop(self):
        self.stopped.set()
        try:
            self.sock.close()
        except OSError:
            pass
        self.close_all()


def rtsp_stream(conn, closed, limit=65536):
    """What a client sends on an RTSP connection, until it closes, `closed` is set or a header
    grows past `limit`: ("$", channel, payload) for interleaved frames, and ("message", head
    text, first line, headers (names in lower case), body) for requests and responses. Lines may
    end with CR LF or a bare LF."""
    buf = b""
    while not closed.is_set():
        data = conn.recv(65536)
        if not data:
            return
        buf += data
        while buf:
            if buf[:1] == b"$":
                if len(buf) < 4:
                    break
                n = struct.unpack("!H", buf[2:4])[0]
                if len(buf) < 4 + n:
                    break
                yield "$", buf[1], buf[4:4 + n]
                buf = buf[4 + n:]
                continue
            ends = [i for i in (buf.find(b"\r\n\r\n"), buf.find(b"\n\n")) if i >= 0]
            if not ends:
                if len(buf) > limit:
                    return
                break
            end = min(ends)
            sep = 4 if buf[end:end + 4] == b"\r\n\r\n" else 2
            head = buf[:end].decode("latin-1")
            lines = head.replace("\r\n", "\n").split("\n")
            hdr = {}
            for line in lines[1:]:
                k, _, v = line.partition(":")
                hdr[k.strip().lower()] = v.strip()
            try:
                length = max(0, int(hdr.get("content-length") or 0))
            except ValueError:
                length = 0
            if len(buf) < end + sep + length:
                break
            body = buf[end + sep:end + sep + length]
            buf = buf[end + sep + length:]
            yield "message", head, lines[0], hdr, body
