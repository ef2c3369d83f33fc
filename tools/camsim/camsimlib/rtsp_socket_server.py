"""The listening side of the cameras whose RTSP server is our own socket code: one thread
accepts, one thread a connection; a stop closes the listener and every connection."""

import socket
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
