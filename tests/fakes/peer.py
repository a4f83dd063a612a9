"""A scriptable HTTP/1.1 peer on loopback that records every request exactly as received.

Each connection serves one request (the client under test never reuses connections).
A handler turns the recorded request into an action: an answer, silence, a reset, ...
"""
from __future__ import annotations

import gzip
import socket
import ssl
import subprocess
import threading
import time
import zlib
from dataclasses import dataclass, field
from typing import Callable
from urllib.parse import parse_qsl, urlsplit


@dataclass
class Request:
    method: str
    target: str
    headers: list[tuple[str, str]]
    body: bytes
    received_at: float = 0.0

    @property
    def path(self) -> str:
        return urlsplit(self.target).path

    @property
    def query(self) -> list[tuple[str, str]]:
        return parse_qsl(urlsplit(self.target).query, keep_blank_values=True)

    @property
    def raw_query(self) -> str:
        return urlsplit(self.target).query

    def header(self, name: str) -> str | None:
        for key, value in self.headers:
            if key.lower() == name.lower():
                return value
        return None

    def header_names(self) -> list[str]:
        return [key for key, _ in self.headers]


@dataclass
class Answer:
    status: int = 200
    body: bytes | str = b""
    headers: list[tuple[str, str]] = field(default_factory=list)
    encoding: str | None = None  # gzip, deflate, br or zstd: compress the body with it
    delay: float = 0.0
    content_type: str | None = "application/json"


@dataclass
class Silence:
    """Read the request, then say nothing for `seconds` (the client should give up first)."""
    seconds: float = 30.0


@dataclass
class ResetMidBody:
    """Announce a body, send part of it, then reset the connection."""
    partial: bytes = b'{"token": "abc'
    announced: int = 1000


@dataclass
class Drip:
    """Send a whole answer one byte every `interval` seconds."""
    body: bytes
    interval: float = 0.5


@dataclass
class Endless:
    """Stream a chunked body without end (until the client hangs up)."""
    chunk: bytes = b"[" + b"1," * 32768


@dataclass
class Raw:
    """Write these bytes and close."""
    data: bytes


Action = Answer | Silence | ResetMidBody | Drip | Endless | Raw
Handler = Callable[[Request], Action]


def compress(body: bytes, encoding: str) -> bytes:
    if encoding == "gzip":
        return gzip.compress(body)
    if encoding == "deflate":
        return zlib.compress(body)
    if encoding in ("br", "zstd"):
        tool = ["brotli", "-c"] if encoding == "br" else ["zstd", "-q", "-c"]
        return subprocess.run(tool, input=body, capture_output=True, check=True).stdout
    raise ValueError(encoding)


def _read_request(conn: socket.socket) -> Request | None:
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(65536)
        if not chunk:
            return None
        data += chunk
    head, _, rest = data.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    method, target, _version = lines[0].split(" ", 2)
    headers = []
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers.append((name, value.strip()))
    length = next((int(v) for k, v in headers if k.lower() == "content-length"), 0)
    while len(rest) < length:
        chunk = conn.recv(65536)
        if not chunk:
            break
        rest += chunk
    return Request(method, target, headers, rest[:length], time.monotonic())


def _status_line(status: int) -> bytes:
    reasons = {200: "OK", 204: "No Content", 301: "Moved Permanently", 302: "Found", 400: "Bad Request",
               401: "Unauthorized", 404: "Not Found", 412: "Precondition Failed", 500: "Internal Server Error"}
    return f"HTTP/1.1 {status} {reasons.get(status, 'Status')}\r\n".encode()


def _send_answer(conn: socket.socket, answer: Answer) -> None:
    if answer.delay:
        time.sleep(answer.delay)
    body = answer.body.encode() if isinstance(answer.body, str) else answer.body
    headers = list(answer.headers)
    if answer.encoding:
        body = compress(body, answer.encoding)
        headers.append(("Content-Encoding", answer.encoding))
    if answer.content_type and not any(k.lower() == "content-type" for k, _ in headers):
        headers.append(("Content-Type", answer.content_type))
    headers += [("Content-Length", str(len(body))), ("Connection", "close")]
    head = _status_line(answer.status) + b"".join(f"{k}: {v}\r\n".encode() for k, v in headers) + b"\r\n"
    conn.sendall(head + body)


def _act(conn: socket.socket, action: Action, stopping: threading.Event) -> None:
    if isinstance(action, Answer):
        _send_answer(conn, action)
    elif isinstance(action, Silence):
        stopping.wait(action.seconds)
    elif isinstance(action, ResetMidBody):
        conn.sendall(_status_line(200) + f"Content-Length: {action.announced}\r\n\r\n".encode() + action.partial)
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
    elif isinstance(action, Drip):
        conn.sendall(_status_line(200) + f"Content-Length: {len(action.body)}\r\n\r\n".encode())
        for byte in action.body:
            if stopping.wait(action.interval):
                return
            conn.sendall(bytes([byte]))
    elif isinstance(action, Endless):
        conn.sendall(_status_line(200) + b"Transfer-Encoding: chunked\r\n\r\n")
        frame = f"{len(action.chunk):x}\r\n".encode() + action.chunk + b"\r\n"
        while not stopping.is_set():
            conn.sendall(frame)
    elif isinstance(action, Raw):
        conn.sendall(action.data)


class Peer:
    """Serves `handler` on host:port (port 0: any free port), over TLS when cert/key are given."""

    def __init__(self, handler: Handler, host: str = "127.0.0.1", port: int = 0,
                 cert: str | None = None, key: str | None = None):
        self.handler = handler
        self.requests: list[Request] = []
        self._stopping = threading.Event()
        self._tls = None
        if cert:
            self._tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            self._tls.load_cert_chain(cert, key)
        self._sock = socket.create_server((host, port), reuse_port=False, backlog=128)
        self._sock.settimeout(0.2)
        self.host, self.port = self._sock.getsockname()[:2]
        self.scheme = "https" if cert else "http"
        self._threads: list[threading.Thread] = []
        self._lock = threading.Lock()

    @property
    def url(self) -> str:
        return f"{self.scheme}://{self.host}:{self.port}"

    def __enter__(self) -> "Peer":
        self._accept_thread = threading.Thread(target=self._accept_loop, daemon=True)
        self._accept_thread.start()
        return self

    def __exit__(self, *exc) -> None:
        self.stop()

    def stop(self) -> None:
        self._stopping.set()
        self._accept_thread.join(timeout=5)
        self._sock.close()
        for thread in list(self._threads):
            thread.join(timeout=5)

    def _accept_loop(self) -> None:
        while not self._stopping.is_set():
            try:
                conn, _ = self._sock.accept()
            except (socket.timeout, OSError):
                continue
            thread = threading.Thread(target=self._serve, args=(conn,), daemon=True)
            with self._lock:
                self._threads.append(thread)
            thread.start()

    def _serve(self, conn: socket.socket) -> None:
        try:
            conn.settimeout(None)
            if self._tls:
                conn = self._tls.wrap_socket(conn, server_side=True)
            request = _read_request(conn)
            if request is None:
                return
            with self._lock:
                self.requests.append(request)
            self._perform(conn, self.handler(request))
        except (OSError, ssl.SSLError):
            pass
        finally:
            try:
                conn.close()
            except OSError:
                pass

    def _perform(self, conn: socket.socket, action: Action) -> None:
        """Carries out the handler's action; subclasses add actions of their own."""
        _act(conn, action, self._stopping)


def always(action: Action) -> Handler:
    return lambda _request: action
