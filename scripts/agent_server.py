# Local HTTP/1.1 server that hands the installer its agent archive.
# Serves one archive file (demo, manual tries) or answers from a script (tests).
"""Local download server for the installer's agent archive.

Three uses share this module, at every test level:

* ``file_responder``: serve one archive file with an ``ETag`` derived from its
  content, so that replacing the file changes the validator, and the file
  beside it with ".sig" appended (a detached signature) at the archive's path
  plus ".sig". The executable ``agent-server --archive`` wraps this for the
  demo.
* ``AgentServer`` with a scripted responder: each test says what every request
  gets (status, header lines written exactly as given, body, a body cut off
  mid-transfer, an endless body, per-chunk delays, a stall, or raw bytes that
  need not be HTTP at all) and afterwards reads back which requests arrived.
* ``agent-server --script FILE``: the same replies described as JSON rules,
  for tests written in other languages (see ``rules_responder``).

Only the Python standard library is used; the server binds to 127.0.0.1.
"""

import argparse
import dataclasses
import hashlib
import http.server
import json
import os
import signal
import socket
import sys
import threading
import time
from typing import Any, Callable, Dict, List, Optional, Tuple

AGENT_PATH = "/pi_install_agent_pi_T4410c_kestrel64"
# An archive's detached signature is served at its path plus this suffix.
SIGNATURE_SUFFIX = ".sig"

# How long a stalled answer waits at most when nobody stops the server; the
# client under test is expected to give up long before.
STALL_LIMIT_SECONDS = 120.0
CHUNK_SIZE = 16 * 1024


@dataclasses.dataclass(frozen=True)
class Reply:
    """One scripted answer. Header names are sent exactly as written."""

    status: int = 200
    headers: Tuple[Tuple[str, str], ...] = ()
    body: bytes = b""
    # Send only this many body bytes, then close; Content-Length stays full.
    body_cut_at: Optional[int] = None
    # "before-headers": accept the request and send nothing at all.
    # "after-headers": send the status line and headers, then nothing.
    stall: Optional[str] = None
    # Pause between body chunks, to make a transfer last a while.
    chunk_delay: float = 0.0
    # Repeat the body without end and without a Content-Length.
    endless: bool = False
    # Take over the connection: raw(conn, method, path, server) writes
    # whatever it likes; nothing else is sent.
    raw: Optional[Callable] = None


Responder = Callable[[str, str], Reply]


def content_etag(data: bytes) -> str:
    """Strong validator derived from the bytes served."""
    return '"' + hashlib.sha256(data).hexdigest()[:24] + '"'


def file_responder(archive: str, any_path: bool = False) -> Responder:
    """Serve `archive` at the agent path (or every path), and `archive` + ".sig"
    at that path + ".sig" (404 while there is none); read on each request."""

    def respond(method: str, path: str) -> Reply:
        plain = path.split("?", 1)[0]
        signature = plain.endswith(SIGNATURE_SUFFIX) and (
            any_path or plain == AGENT_PATH + SIGNATURE_SUFFIX)
        if not (any_path or signature or plain == AGENT_PATH):
            return Reply(status=404, body=b"not found\n")
        try:
            with open(archive + SIGNATURE_SUFFIX if signature else archive, "rb") as f:
                data = f.read()
        except OSError:
            return Reply(status=404, body=b"no such file\n")
        kind = "application/octet-stream" if signature else "application/zip"
        headers = (("ETag", content_etag(data)), ("Content-Type", kind))
        return Reply(status=200, headers=headers, body=data)

    return respond


def redirect_chain(target_reply: Reply, hops: int,
                   hop_headers: Tuple[Tuple[str, str], ...] = ()) -> Responder:
    """`hops` redirects (/hop/N -> /hop/N+1 ...) before `target_reply`.

    A negative `hops` never ends: every answer is a redirect.
    """

    def respond(method: str, path: str) -> Reply:
        step = 0
        if path.startswith("/hop/"):
            step = int(path[len("/hop/"):])
        if 0 <= hops <= step:
            return target_reply
        headers = (("Location", "/hop/%d" % (step + 1)),) + hop_headers
        return Reply(status=302, headers=headers, body=b"moved\n")

    return respond


def per_method(get: Reply, head: Optional[Reply] = None) -> Responder:
    """Same answer for every path; HEAD may get its own."""

    def respond(method: str, path: str) -> Reply:
        if method == "HEAD" and head is not None:
            return head
        return get

    return respond


def by_path(routes: Dict[str, Responder], default: Responder) -> Responder:
    """The responder for the request's path (query ignored), else `default`;
    e.g. a signature at AGENT_PATH + SIGNATURE_SUFFIX beside the archive."""

    def respond(method: str, path: str) -> Reply:
        return routes.get(path.split("?", 1)[0], default)(method, path)

    return respond


def rules_responder(rules: List[Dict[str, Any]]) -> Responder:
    """Answers from JSON rules, the first that matches wins; else 404.

    A rule matches on "path" (exact, query ignored; "*" or absent for any) and
    "method" ("*" or absent for any) while its "times" (uses left; absent for
    unlimited) lasts. It answers with "status", "headers" (list of [name,
    value]), a body of "body" (text) or "body_bytes" copies of "body_byte",
    and optionally "cut_at", "stall", "chunk_delay" and "endless" as in Reply.
    """
    lock = threading.Lock()
    left = [rule.get("times") for rule in rules]

    def reply_for(rule: Dict[str, Any]) -> Reply:
        if "body_bytes" in rule:
            body = rule.get("body_byte", "x").encode("latin-1") * int(rule["body_bytes"])
        else:
            body = rule.get("body", "").encode("latin-1")
        headers = tuple((name, value) for name, value in rule.get("headers", []))
        return Reply(status=int(rule.get("status", 200)), headers=headers, body=body,
                     body_cut_at=rule.get("cut_at"), stall=rule.get("stall"),
                     chunk_delay=float(rule.get("chunk_delay", 0.0)),
                     endless=bool(rule.get("endless", False)))

    def respond(method: str, path: str) -> Reply:
        plain = path.split("?", 1)[0]
        with lock:
            for i, rule in enumerate(rules):
                if rule.get("path", "*") not in ("*", plain):
                    continue
                if rule.get("method", "*") not in ("*", method):
                    continue
                if left[i] is not None:
                    if left[i] <= 0:
                        continue
                    left[i] -= 1
                return reply_for(rule)
        return Reply(status=404, body=b"no rule\n")

    return respond


# --- raw behaviours: answers that need not be HTTP at all -------------------

def send_raw_response(conn, status: str, headers: List[str], body: bytes = b"",
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
    last = path.rsplit("/", 1)[-1]
    hop = int(last) if last.isdigit() else 0
    target = "/hop/%d" % (hop + 1) if hop < 10000 else "/end"
    send_raw_response(conn, "302 Found", ["Location: " + target, "Content-Length: 0"],
                      method=method)


def say_nothing_and_close(conn, method, path, server) -> None:
    """Reads the request, answers nothing, hangs up."""


def say_nothing_and_wait(conn, method, path, server) -> None:
    """Reads the request and keeps the connection open without a byte."""
    deadline = time.monotonic() + 30
    while not server.stopping.is_set() and time.monotonic() < deadline:
        time.sleep(0.05)


def larger_than_announced(archive: bytes, announced: int) -> Callable:
    """Answers with Content-Length `announced` but sends the archive and a
    megabyte of junk after it."""
    def behaviour(conn, method, path, server):
        headers = ["Content-Length: %d" % announced, 'ETag: "big"']
        send_raw_response(conn, "200 OK", headers, archive + b"J" * (1 << 20), method=method)
    return behaviour


def raw_responder(behaviour: Callable) -> Responder:
    """Every request is handed to the raw behaviour."""
    return lambda method, path: Reply(raw=behaviour)


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "agent-server/1"
    timeout = 30  # idle keep-alive connections are dropped after this

    def do_GET(self):
        self._serve("GET")

    def do_HEAD(self):
        self._serve("HEAD")

    def do_POST(self):
        self._serve("POST")

    def log_message(self, fmt, *args):
        pass

    def _serve(self, method: str) -> None:
        owner: "AgentServer" = self.server.owner
        reply = owner.respond(method, self.path)
        owner.record(method, self.path, reply.status)
        if reply.raw is not None:
            self.close_connection = True
            try:
                reply.raw(self.connection, method, self.path, owner)
            except OSError:
                pass
            return
        if reply.stall == "before-headers":
            self._stall()
            return
        self.send_response(reply.status)
        names = {name.lower() for name, _ in reply.headers}
        for name, value in reply.headers:
            self.send_header(name, value)
        if reply.endless:
            self.send_header("Connection", "close")
        elif "content-length" not in names:
            self.send_header("Content-Length", str(len(reply.body)))
        if reply.body_cut_at is not None:
            self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.flush()
        if reply.stall == "after-headers":
            self._stall()
            return
        if method == "HEAD":
            return
        if reply.endless:
            self.close_connection = True
            self._send_endless(reply.body or b"x" * CHUNK_SIZE, reply.chunk_delay)
            return
        body = reply.body
        if reply.body_cut_at is not None:
            body = body[:reply.body_cut_at]
        self._send_body(body, reply.chunk_delay)
        if reply.body_cut_at is not None:
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)

    def _send_body(self, body: bytes, delay: float) -> None:
        stop = self.server.owner.stopping
        try:
            for start in range(0, len(body), CHUNK_SIZE):
                self.wfile.write(body[start:start + CHUNK_SIZE])
                self.wfile.flush()
                if delay and stop.wait(delay):
                    return
        except OSError:  # the client gave up or was killed
            self.close_connection = True

    def _send_endless(self, block: bytes, delay: float) -> None:
        stop = self.server.owner.stopping
        try:
            while not stop.is_set():
                self.wfile.write(block)
                self.wfile.flush()
                if delay and stop.wait(delay):
                    return
        except OSError:  # the client gave up
            pass

    def _stall(self) -> None:
        self.close_connection = True
        self.server.owner.stopping.wait(STALL_LIMIT_SECONDS)


class _Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = False

    def handle_error(self, request, client_address):
        # A client that hangs up or is killed mid-request is part of the
        # tests, not a server fault.
        if isinstance(sys.exc_info()[1], OSError):
            return
        super().handle_error(request, client_address)


class AgentServer:
    """A running server on 127.0.0.1; owns its socket and serving thread."""

    def __init__(self, responder: Responder, port: int = 0,
                 log_path: Optional[str] = None):
        self._responder = responder
        self._lock = threading.Lock()
        self._requests: List[Tuple[str, str]] = []
        self._log_path = log_path
        self.stopping = threading.Event()
        self._httpd = _Server(("127.0.0.1", port), _Handler)
        self._httpd.owner = self
        self.port = self._httpd.server_address[1]
        self._thread = threading.Thread(target=self._httpd.serve_forever,
                                        kwargs={"poll_interval": 0.05},
                                        daemon=True)
        self._thread.start()

    def url(self, path: str = AGENT_PATH) -> str:
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def set_responder(self, responder: Responder) -> None:
        with self._lock:
            self._responder = responder

    def respond(self, method: str, path: str) -> Reply:
        with self._lock:
            responder = self._responder
        return responder(method, path)

    def record(self, method: str, path: str, status: int) -> None:
        with self._lock:
            self._requests.append((method, path))
            if self._log_path:
                with open(self._log_path, "a", encoding="utf-8") as log:
                    log.write("%s %s %d\n" % (method, path, status))

    def requests(self) -> List[Tuple[str, str]]:
        with self._lock:
            return list(self._requests)

    def methods(self) -> List[str]:
        return [method for method, _ in self.requests()]

    def clear(self) -> None:
        with self._lock:
            self._requests.clear()

    def close(self) -> None:
        self.stopping.set()
        self._httpd.shutdown()
        self._httpd.server_close()
        self._thread.join(5)

    def __enter__(self) -> "AgentServer":
        return self

    def __exit__(self, *exc) -> None:
        self.close()


def _parse(argv: List[str]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        prog="agent-server",
        description="Serve an installer agent archive on 127.0.0.1 at "
                    + AGENT_PATH + " with an ETag derived from its content, "
                    "or answer every request as a JSON script says.")
    source = parser.add_mutually_exclusive_group(required=True)
    source.add_argument("--archive",
                        help="agent archive to serve (re-read on every request); "
                             "ARCHIVE.sig, when present, is served at the same path + .sig")
    source.add_argument("--script",
                        help="JSON file {\"rules\": [...]} saying what each request "
                             "gets (see rules_responder)")
    parser.add_argument("--port", type=int, default=0,
                        help="port to listen on (default 0: any free port)")
    parser.add_argument("--port-file",
                        help="also write the chosen port to this file")
    parser.add_argument("--log", help="append 'METHOD PATH STATUS' lines here")
    parser.add_argument("--any-path", action="store_true",
                        help="serve the archive at every path")
    return parser.parse_args(argv)


def main(argv: Optional[List[str]] = None) -> int:
    args = _parse(sys.argv[1:] if argv is None else argv)
    if args.script:
        try:
            with open(args.script, encoding="utf-8") as f:
                responder = rules_responder(json.load(f)["rules"])
        except (OSError, ValueError, KeyError, TypeError) as err:
            print("agent-server: unusable script %s: %s" % (args.script, err),
                  file=sys.stderr)
            return 1
    elif not os.path.isfile(args.archive):
        print("agent-server: no such archive: %s" % args.archive,
              file=sys.stderr)
        return 1
    else:
        responder = file_responder(args.archive, args.any_path)
    try:
        server = AgentServer(responder, port=args.port, log_path=args.log)
    except OSError as err:
        print("agent-server: cannot listen on port %d: %s"
              % (args.port, err.strerror), file=sys.stderr)
        return 1
    done = threading.Event()
    for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, lambda *_: done.set())
    if args.port_file:
        tmp = args.port_file + ".tmp"
        with open(tmp, "w", encoding="ascii") as f:
            f.write("%d\n" % server.port)
        os.replace(tmp, args.port_file)
    print(server.url(), flush=True)
    while not done.wait(0.5):
        pass
    server.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
