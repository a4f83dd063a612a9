"""Fixtures of the fault suite: the programs under test, the registry, QuestDB, the outcome check.

COLETOR_FAULTS_SANITIZER=asan|tsan runs the suite on a build with that sanitizer; the
sanitizer's report then lands on stderr, which every case compares line by line.
"""
from __future__ import annotations

import json
import os
import re
import subprocess
import time
from dataclasses import dataclass
from pathlib import Path

import pytest

from blackbox.conftest import PORTAL, REGISTRY_HOST, REGISTRY_PORT, build_sandbox
from fakes.peer import Answer
from fakes.questdb import HOST as QDB_HOST, WRITE_PORT
from local_time import tz_at
from paths import ROOT
from faults.stand_ins import FaultPeer, SilentNameServer

SANITIZER = os.environ.get("COLETOR_FAULTS_SANITIZER", "")
_SANITIZER_FLAGS = {"": [], "asan": ["-DCOLETOR_SANITIZE=ON"], "tsan": ["-DCOLETOR_TSAN=ON"]}
SLOW = SANITIZER != ""  # sanitized programs run several times slower: timing bounds widen

REGISTRY_URL = f"https://{REGISTRY_HOST}:{REGISTRY_PORT}/api"
TIMEOUT_LINE = "Tempo limite de execução atingido (3 s): execução interrompida."
YELLOW, RED, RESET, CYAN, GREEN = "\x1b[0;93m", "\x1b[1;31m", "\x1b[0;0m", "\x1b[1;36m", "\x1b[0;32m"


def _build(limit: int, pki: Path) -> Path:
    if SANITIZER not in _SANITIZER_FLAGS:
        pytest.fail(f"COLETOR_FAULTS_SANITIZER={SANITIZER!r}: expected asan or tsan")
    if not SANITIZER:  # the same build as the black-box runs, shared with them
        suffix = "" if limit == 300 else "-limit"
        return build_sandbox(ROOT / f"build-blackbox-{REGISTRY_PORT}{suffix}", pki / "ca.pem", limit)
    # Unit tests configured too: tests/hardening.sh builds them in this same tree.
    folder = ROOT / f"build-faults-{SANITIZER}-{REGISTRY_PORT}-{limit}"
    subprocess.run(["cmake", "-S", str(ROOT), "-B", str(folder), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                    "-DCOLETOR_TESTS=ON", f"-DREGISTRY_API_URL={REGISTRY_URL}", f"-DPORTAL_ORIGIN={PORTAL}",
                    f"-DCA_BUNDLE={pki / 'ca.pem'}", f"-DRUNTIME_LIMIT_SECONDS={limit}",
                    *_SANITIZER_FLAGS[SANITIZER]], check=True, capture_output=True)
    subprocess.run(["cmake", "--build", str(folder), "--target", "coletor-pppoe"], check=True, capture_output=True)
    return folder / "coletor-pppoe"


@pytest.fixture(scope="session")
def coletor(pki) -> Path:
    return _build(300, pki)


@pytest.fixture(scope="session")
def coletor_limite_curto(pki) -> Path:
    """The same program with a run-time limit of 3 s."""
    return _build(3, pki)


# A sanitizer's report goes to stderr and changes the status: either fails the case.
SANITIZER_ENV = {"ASAN_OPTIONS": "detect_leaks=1:halt_on_error=1", "UBSAN_OPTIONS": "print_stacktrace=1:halt_on_error=1",
                 "TSAN_OPTIONS": "halt_on_error=1:second_deadlock_stack=1"}


@dataclass
class Done:
    status: int
    out: list[str]
    err: list[str]
    took: float
    ended_at: float


def run(program: Path, *args: str, local_time=(12, 0), timeout: float = 120, wrapper=()) -> Done:
    """One run (under `wrapper`, a command that runs the rest of its arguments); outside the
    midnight truncation window unless local_time says otherwise."""
    env = dict(os.environ, TZ=tz_at(*local_time), **SANITIZER_ENV)
    start = time.monotonic()
    done = subprocess.run([*wrapper, str(program), *args], capture_output=True, timeout=timeout, env=env)
    end = time.monotonic()
    # A peer's bytes that are not UTF-8 can reach a report: kept as lone surrogates.
    return Done(done.returncode, done.stdout.decode("utf-8", "surrogateescape").split("\n"),
                done.stderr.decode("utf-8", "surrogateescape").split("\n"), end - start, end)


def args(last: str = "normal") -> list[str]:
    return ["descobertaPPPoE", "Admin", "zabbix", "usuario", "senha", QDB_HOST, str(WRITE_PORT), "admin", "quest", last]


Line = str | re.Pattern


def _lines_match(got: list[str], expected: list[Line]) -> bool:
    # Every output ends in a line feed, so the split leaves one empty text at the end.
    want = list(expected) + [""]
    return len(got) == len(want) and all(
        g == w if isinstance(w, str) else w.fullmatch(g) is not None for g, w in zip(got, want))


def expect(done: Done, status: int, out: list[Line] = (), err: list[Line] = ()) -> None:
    """Exit status and every line of both streams, whole lines; patterns for the peers' words."""
    assert (done.status, _lines_match(done.out, list(out)), _lines_match(done.err, list(err))) == (status, True, True), (
        f"status {done.status}\nstdout {done.out}\nstderr {done.err}\n"
        f"expected status {status}\nstdout {list(out)}\nstderr {list(err)}")


def unhandled(step: str, kind: str, message: str | re.Pattern) -> re.Pattern:
    text = message.pattern if isinstance(message, re.Pattern) else re.escape(message)
    return re.compile(re.escape(f"coletor-pppoe: falha não tratada em {step}: {kind}: ") + text)


@pytest.fixture
def silent_resolver(tmp_path):
    """A wrapper that runs the program in a mount namespace of its own whose one name server,
    on loopback, takes every question and answers none (needs root, as in CI)."""
    with SilentNameServer() as server:
        (tmp_path / "resolv.conf").write_text(f"nameserver {server.host}\noptions timeout:5 attempts:2\n")
        (tmp_path / "nsswitch.conf").write_text("hosts: files dns\n")
        yield ["unshare", "--mount", "sh", "-c", 'mount --bind "$1" /etc/resolv.conf && '
               'mount --bind "$2" /etc/nsswitch.conf && shift 2 && exec "$@"',
               "sh", str(tmp_path / "resolv.conf"), str(tmp_path / "nsswitch.conf")]


@pytest.fixture
def registro(pki):
    """Starts a stand-in registry on the compiled-in address; cert names a file of the test PKI."""
    peers = []

    def start(handler, cert: str = "server") -> FaultPeer:
        peer = FaultPeer(handler, host=REGISTRY_HOST, port=REGISTRY_PORT,
                         cert=str(pki / f"{cert}.pem"), key=str(pki / f"{cert}.key")).__enter__()
        peers.append(peer)
        return peer
    yield start
    for peer in peers:
        peer.stop()


class QuestDb:
    """/exec on QDB_HOST:80 and /write over TLS on QDB_HOST:WRITE_PORT, both recorded."""

    def __init__(self, pki, exec_handler, write_handler, write_cert: str | None, sql_up: bool = True):
        self.sql = FaultPeer(exec_handler, host=QDB_HOST, port=80) if sql_up else None
        self.ingest = None
        if write_cert is not None:
            self.ingest = FaultPeer(write_handler, host=QDB_HOST, port=WRITE_PORT,
                                    cert=str(pki / f"{write_cert}.pem"), key=str(pki / f"{write_cert}.key"))

    def __enter__(self):
        for peer in (self.sql, self.ingest):
            if peer:
                peer.__enter__()
        return self

    def stop(self):
        for peer in (self.sql, self.ingest):
            if peer:
                peer.stop()

    def statements(self) -> list[str]:
        return [dict(r.query).get("query", "") for r in self.sql.requests] if self.sql else []

    def writes(self) -> list[list[str]]:
        """The lines of each /write request."""
        return [r.body.decode().splitlines() for r in self.ingest.requests] if self.ingest else []

    def untouched(self) -> bool:
        return self.statements() == [] and self.writes() == []


COLUMNS_CURRENT = {"query": "SHOW COLUMNS FROM pppoeClientes", "columns": [], "dataset": [], "count": 7}
DDL_OK = '{"ddl":"OK"}'


def sql_answers(columns=None, **by_statement):
    """An /exec handler: SHOW COLUMNS gets `columns`, other statements DDL OK unless overridden
    by a keyword (truncate, show, drop, create) holding an action."""
    columns = COLUMNS_CURRENT if columns is None else columns
    by_statement = {key: list(action) if isinstance(action, list) else action for key, action in by_statement.items()}

    def handler(request):
        statement = dict(request.query).get("query", "")
        key = ("truncate" if statement.startswith("TRUNCATE") else "show" if statement.startswith("SHOW") else
               "drop" if statement.startswith("DROP") else "create" if "CREATE TABLE" in statement else None)
        action = by_statement.get(key)
        if isinstance(action, list):  # one action per occurrence, in turn
            action = action.pop(0) if action else None
        if action is not None:
            return action
        if key == "show":
            return Answer(body=json.dumps(columns))
        return Answer(body=DDL_OK)
    return handler


ACCEPTED = Answer(status=204, body="", content_type=None)


@pytest.fixture
def questdb(pki):
    """questdb(exec_handler=None, write=ACCEPTED, write_cert="server", sql_up=True) starts both
    endpoints; write_cert None leaves the ingestion port closed, sql_up False the SQL port."""
    started = []

    def start(exec_handler=None, write=ACCEPTED, write_cert: str | None = "server", sql_up: bool = True) -> QuestDb:
        write_handler = write if callable(write) else (lambda _r: write)
        peers = QuestDb(pki, exec_handler or sql_answers(), write_handler, write_cert, sql_up).__enter__()
        started.append(peers)
        return peers
    yield start
    for peers in started:
        peers.stop()


ROW = r"pppoeClientes,nome={nome},parceiro={parceiro} numero={numero}i,status={status}i{pppoe}," \
      r"timestamp=\d{{16}}t,timestampDummy=946684800000000t \d{{19}}"


def row(nome: str, numero: int, parceiro: str, status: int, pppoe: int | None) -> re.Pattern:
    """One line-protocol row as the run writes it; a null count leaves the column out."""
    def esc(text: str) -> str:
        return re.escape(re.sub(r"([ ,=\\])", r"\\\1", text))
    return re.compile(ROW.format(nome=esc(nome), parceiro=esc(parceiro), numero=numero, status=status,
                                 pppoe="" if pppoe is None else f",pppoe={pppoe}i"))


def rows_match(got: list[str], expected: list[re.Pattern]) -> bool:
    return len(got) == len(expected) and all(p.fullmatch(g) for g, p in zip(got, expected))


LOGIN_PATH, LIST_PATH = "/api/login", "/api/acessos"


def registry_listing(customers) -> callable:
    """A registry handler that logs in and lists `customers` (any JSON value)."""
    body = json.dumps(customers)

    def handler(request):
        if request.path == LOGIN_PATH:
            return Answer(body='{"token": "tok-7d1f"}')
        if request.path == LIST_PATH:
            return Answer(body=body)
        return Answer(status=404, body="{}")
    return handler


def report_lines(records: list[str], problems: list[str]) -> list[str]:
    """The debug report, line by line, for these record lines and problem names."""
    text = ("Modo debug ativado:\n"
            f"{GREEN}\nVersão do script: 1.0.4{RESET} \n\n"
            f"{CYAN}\n...{'=' * 34} PPPoEs dos Clientes {'=' * 32}...\n{RESET}\n"
            + "".join(line + "\n" for line in records)
            + f"{CYAN}\n...{'=' * 42} Clientes com Problema {'=' * 45}...\n{RESET}\n"
            + "".join(f"{YELLOW}Cliente: {name}{RESET}\n" for name in problems)
            + f"{YELLOW}\nCaso não haja retorno, entre em contato com a Tarquel.{RESET}\n")
    return text.split("\n")[:-1]


def record_line(nome: str, pppoe, status: int, numero: int, parceiro: str) -> str:
    return (f"Cliente: {nome} | PPPoE: {'None' if pppoe is None else pppoe} | Status: {status} | "
            f"Número: {numero} | Parceiro: {parceiro}")
