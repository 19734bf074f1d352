# A deliberately misbehaving download server for the installer's hostile-input
# suite: raw sockets on 127.0.0.1, one scripted behaviour per test.
"""Scripted loopback HTTP server whose answers need not be HTTP at all.

A behaviour is a function (conn, method, path, server) that writes whatever it
likes to the socket. The server records (method, path) of every request it
read, serves each connection on its own thread, and stops on close().
"""

import socket
import threading
import time
from typing import Callable, List, Tuple


class HostileServer:
    def __init__(self, behaviour: Callable):
        self.behaviour = behaviour
        self.requests: List[Tuple[str, str]] = []
        self.stopping = threading.Event()
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(64)
        self.sock.settimeout(0.2)
        self.port = self.sock.getsockname()[1]
        self.thread = threading.Thread(target=self._accept_loop, daemon=True)
        self.thread.start()

    def url(self, path: str = "/pi_install_agent_pi_T4410c_kestrel64") -> str:
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def close(self) -> None:
        self.stopping.set()
        self.thread.join(5)
        self.sock.close()

    def _accept_loop(self) -> None:
        while not self.stopping.is_set():
            try:
                conn, _ = self.sock.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            threading.Thread(target=self._serve, args=(conn,), daemon=True).start()

    def _serve(self, conn: socket.socket) -> None:
        conn.settimeout(10)
        try:
            head = b""
            while b"\r\n\r\n" not in head and len(head) < 65536:
                chunk = conn.recv(4096)
                if not chunk:
                    return
                head += chunk
            request_line = head.split(b"\r\n", 1)[0].decode("latin-1")
            parts = request_line.split(" ")
            method, path = (parts[0], parts[1]) if len(parts) >= 2 else ("?", "?")
            self.requests.append((method, path))
            self.behaviour(conn, method, path, self)
        except OSError:
            pass
        finally:
            try:
                conn.close()
            except OSError:
                pass


def send_response(conn, status: str, headers: List[str], body: bytes = b"",
                  method: str = "GET") -> None:
    lines = ["HTTP/1.1 " + status] + headers + ["Connection: close"]
    conn.sendall(("\r\n".join(lines) + "\r\n\r\n").encode("latin-1"))
    if method != "HEAD" and body:
        conn.sendall(body)


def endless_header(conn, method, path, server) -> None:
    """A status line, then header lines without end, as fast as it can."""
    conn.sendall(b"HTTP/1.1 200 OK\r\n")
    filler = b"X-Filler: " + b"f" * 200 + b"\r\n"
    while not server.stopping.is_set():
        conn.sendall(filler * 50)


def endless_header_line(conn, method, path, server) -> None:
    """One header line that never ends."""
    conn.sendall(b"HTTP/1.1 200 OK\r\nX-Long: ")
    while not server.stopping.is_set():
        conn.sendall(b"a" * 8192)


def redirect_forever(conn, method, path, server) -> None:
    """Each answer sends the client one hop further, 10,000 hops in all."""
    hop = int(path.rsplit("/", 1)[-1]) if path.rsplit("/", 1)[-1].isdigit() else 0
    target = "/hop/%d" % (hop + 1) if hop < 10000 else "/end"
    send_response(conn, "302 Found", ["Location: " + target, "Content-Length: 0"],
                  method=method)


def say_nothing_and_close(conn, method, path, server) -> None:
    """Reads the request, answers nothing, hangs up."""


def say_nothing_and_wait(conn, method, path, server) -> None:
    """Reads the request and keeps the connection open without a byte."""
    deadline = time.monotonic() + 30
    while not server.stopping.is_set() and time.monotonic() < deadline:
        time.sleep(0.05)


def larger_than_announced(archive: bytes, announced: int) -> Callable:
    """Answers GET with Content-Length `announced` but sends the archive and
    a megabyte of junk after it."""
    def behaviour(conn, method, path, server):
        headers = ["Content-Length: %d" % announced, 'ETag: "big"']
        send_response(conn, "200 OK", headers, archive + b"J" * (1 << 20), method=method)
    return behaviour
