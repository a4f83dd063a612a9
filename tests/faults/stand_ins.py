"""Peers that misbehave on purpose, on top of the recording peer of tests/fakes."""
from __future__ import annotations

import json
import socket
import ssl
import threading
import time
from dataclasses import dataclass, field

from fakes.peer import Action, Answer, Peer, Request, _status_line
from fakes.zabbix import ZabbixFake


@dataclass
class Reset:
    """Reset the connection at once, without a byte of answer."""


@dataclass
class SilentUntilHangup:
    """Say nothing (after `head`, if given) and note when the client gives up."""
    head: bytes = b""
    seconds: float = 60.0


@dataclass
class BadGzip:
    """A body that claims to be gzip and is not."""
    body: bytes = b"\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03this is not deflate data at all"


@dataclass
class Big:
    """A whole answer of `size` bytes: `prefix`, padding inside a JSON text, `suffix`."""
    prefix: bytes
    suffix: bytes
    size: int


FaultAction = Action | Reset | SilentUntilHangup | BadGzip | Big


class FaultPeer(Peer):
    """The recording peer with a few more ways to misbehave; notes each hang-up time."""

    def __init__(self, handler, **kwargs):
        super().__init__(handler, **kwargs)
        self._sock.settimeout(0.05)  # stops sooner: the suite starts and stops hundreds of peers
        self.hangups: list[float] = []

    def _perform(self, conn: socket.socket, action: FaultAction) -> None:
        if isinstance(action, Reset):
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
        elif isinstance(action, SilentUntilHangup):
            conn.sendall(action.head)
            self._await_hangup(conn, action.seconds)
        elif isinstance(action, BadGzip):
            conn.sendall(_status_line(200) + b"Content-Type: application/json\r\nContent-Encoding: gzip\r\n"
                         + f"Content-Length: {len(action.body)}\r\n\r\n".encode() + action.body)
        elif isinstance(action, Big):
            conn.sendall(_status_line(200) + f"Content-Length: {action.size}\r\n\r\n".encode() + action.prefix)
            padding = action.size - len(action.prefix) - len(action.suffix)
            block = b"x" * (1 << 20)
            while padding > 0:
                conn.sendall(block[:padding])
                padding -= len(block)
            conn.sendall(action.suffix)
        else:
            super()._perform(conn, action)

    def _await_hangup(self, conn: socket.socket, seconds: float) -> None:
        conn.settimeout(0.05)
        end = time.monotonic() + seconds
        while time.monotonic() < end and not self._stopping.is_set():
            try:
                if conn.recv(1) == b"":
                    break
            except (socket.timeout, TimeoutError):
                continue
            except (OSError, ssl.SSLError):
                break
        with self._lock:
            self.hangups.append(time.monotonic())


class _Served:
    """A socket that a thread of its own serves (`_loop`) while the context lasts."""

    def __init__(self, sock: socket.socket):
        self._sock = sock
        self._sock.settimeout(0.05)
        self._stopping = threading.Event()
        self._thread = threading.Thread(target=self._loop, daemon=True)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc) -> None:
        self._stopping.set()
        self._thread.join(timeout=5)
        self._sock.close()

    def _loop(self) -> None:
        raise NotImplementedError


class MuteListener(_Served):
    """Accepts connections and never says a word, not even a TLS handshake."""

    def __init__(self, host: str = "127.0.0.1", port: int = 0):
        super().__init__(socket.create_server((host, port)))
        self.host, self.port = self._sock.getsockname()[:2]
        self.accepted: list[float] = []
        self.hangups: list[float] = []

    def _loop(self) -> None:
        open_conns: list[socket.socket] = []
        while not self._stopping.is_set():
            try:
                conn, _ = self._sock.accept()
                conn.setblocking(False)
                open_conns.append(conn)
                self.accepted.append(time.monotonic())
            except (socket.timeout, TimeoutError, OSError):
                pass
            for conn in list(open_conns):
                try:
                    data = conn.recv(4096)
                except BlockingIOError:
                    continue
                except OSError:
                    data = b""
                if data == b"":
                    self.hangups.append(time.monotonic())
                    open_conns.remove(conn)
                    conn.close()
        for conn in open_conns:
            conn.close()


class SilentNameServer(_Served):
    """A UDP socket on port 53 that reads every question and never answers (a closed port
    would make the resolver give up at once)."""

    def __init__(self, host: str = "127.0.0.153"):
        super().__init__(socket.socket(socket.AF_INET, socket.SOCK_DGRAM))
        self._sock.bind((host, 53))
        self.host = host

    def _loop(self) -> None:
        while not self._stopping.is_set():
            try:
                self._sock.recv(4096)
            except (socket.timeout, TimeoutError):
                continue


def free_port(host: str = "127.0.0.1") -> int:
    """A port on which nothing listens (bound, then released)."""
    with socket.create_server((host, 0)) as sock:
        return sock.getsockname()[1]


def rpc_method(request: Request) -> str | None:
    try:
        return json.loads(request.body).get("method")
    except (ValueError, AttributeError):
        return None


@dataclass
class FaultyZabbix:
    """A well-behaved stand-in front end, except for `method`, which gets `action`."""
    method: str | None = None
    action: FaultAction | None = None
    fake: ZabbixFake = field(default_factory=ZabbixFake)

    def __call__(self, request: Request) -> FaultAction:
        if self.method is not None and rpc_method(request) == self.method:
            return self.action
        return self.fake(request)


def rpc(result) -> Answer:
    return Answer(body=json.dumps({"jsonrpc": "2.0", "result": result, "id": 1}))
