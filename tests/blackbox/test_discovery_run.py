"""Whole discovery runs: registry, selection, the worker pool, then the report or the store."""
import json
import subprocess
import time

import pytest

from blackbox.conftest import run
from fakes.peer import Answer, Peer, Silence
from fakes.questdb import HOST as QDB_HOST, WRITE_PORT, QuestDbFake, QuestDbPeers, TABLE_MISSING
from fakes.registry import RegistryFake, customer
from fakes.zabbix import ZabbixFake

YELLOW, RED, RESET, CYAN, GREEN = "\x1b[0;93m", "\x1b[1;31m", "\x1b[0;0m", "\x1b[1;36m", "\x1b[0;32m"


def args(last="normal", qdb_host=QDB_HOST, qdb_port=WRITE_PORT):
    return ["descobertaPPPoE", "Admin", "zabbix", "usuario", "senha", qdb_host, str(qdb_port), "admin", "quest", last]


class Fleet:
    """Zabbix stand-ins on loopback, one per fake; closes them all at the end."""

    def __init__(self):
        self.peers = []

    def add(self, fake, **kwargs) -> Peer:
        peer = Peer(fake, **kwargs).__enter__()
        self.peers.append(peer)
        return peer

    def close(self):
        for peer in self.peers:
            peer.stop()


@pytest.fixture
def fleet():
    f = Fleet()
    yield f
    f.close()


def report(records, problems):
    return ("Modo debug ativado:\n"
            f"{GREEN}\nVersão do script: 1.0.4{RESET} \n\n"
            f"{CYAN}\n...{'=' * 34} PPPoEs dos Clientes {'=' * 32}...\n{RESET}\n"
            + "".join(records)
            + f"{CYAN}\n...{'=' * 42} Clientes com Problema {'=' * 45}...\n{RESET}\n"
            + "".join(f"{YELLOW}Cliente: {name}{RESET}\n" for name in problems)
            + f"{YELLOW}\nCaso não haja retorno, entre em contato com a Tarquel.{RESET}\n")


def test_debug_mode_prints_worker_lines_then_the_report_in_finishing_order(coletor, registro, fleet):
    alfa = fleet.add(ZabbixFake(lastvalue="250", delay=0.4))
    beta = fleet.add(ZabbixFake(login="refuse", delay=0.25))
    gama = fleet.add(ZabbixFake(items=[], delay=0.15))
    delta = fleet.add(ZabbixFake(login="html"))
    registro(RegistryFake(customers=[
        customer("Alfa Net", 1, "P1", alfa.url),
        customer("Beta", 2, "P2", beta.url),
        {"empresa": "Sem produto", "numero": 9, "parceiro": "P9"},
        customer("Gama", "3", "P3", gama.url),
        customer("Outro", 8, "P8", "http://127.0.0.1:9", product="ornivex "),
        customer("Delta", 4, "P4", delta.url),
    ]))
    done = run(coletor, *args(last="debug"))
    assert done.returncode == 0, done.stderr
    assert done.stderr == b""
    assert done.stdout.decode() == (
        f"{YELLOW}P4 - 4 - Delta: Cliente com problema na conexão.{RESET}\n"
        f"{YELLOW}P2 - 2 - Beta: Cliente com problema na conexão.{RESET}\n"
        + report(["Cliente: Delta | PPPoE: 0 | Status: 0 | Número: 4 | Parceiro: P4\n",
                  "Cliente: Beta | PPPoE: 0 | Status: 0 | Número: 2 | Parceiro: P2\n",
                  "Cliente: Gama | PPPoE: None | Status: 1 | Número: 3 | Parceiro: P3\n",
                  "Cliente: Alfa Net | PPPoE: 250 | Status: 1 | Número: 1 | Parceiro: P1\n"],
                 ["Delta", "Beta"]))
    assert [len(p.requests) for p in (alfa, beta, gama, delta)] == [3, 1, 3, 1]


def test_normal_mode_stores_one_row_per_link_and_prints_ok(coletor, registro, fleet, pki):
    um = fleet.add(ZabbixFake(lastvalue="10"))
    dois = fleet.add(ZabbixFake(lastvalue=" 20 "), cert=str(pki / "server.pem"), key=str(pki / "server.key"))
    registro(RegistryFake(customers=[customer("Duplo", 5, "P", um.url, f"127.0.0.1:{dois.port}")]))
    with QuestDbPeers(QuestDbFake(), pki) as qdb:
        done = run(coletor, *args())
    assert (done.returncode, done.stdout, done.stderr) == (0, b"OK\n", b"")
    assert qdb.statements() == ["SHOW COLUMNS FROM pppoeClientes"]
    rows = sorted(qdb.lines())
    assert len(rows) == 2 and len(qdb.ingest.requests) == 1
    for row, pppoe in zip(rows, ("10i", "20i")):
        assert row.startswith(f"pppoeClientes,nome=Duplo,parceiro=P numero=5i,status=1i,pppoe={pppoe},timestamp=")
        assert ",timestampDummy=946684800000000t " in row


def test_an_ingestion_failure_is_not_reported_as_success(coletor, registro, fleet, pki):
    um = fleet.add(ZabbixFake())
    registro(RegistryFake(customers=[customer("A", 1, "P", um.url)]))
    refused = Answer(status=400, body=json.dumps({"code": "invalid", "message": "failed to parse line protocol",
                                                  "line": 1, "errorId": "x"}))
    with QuestDbPeers(QuestDbFake(write=refused), pki):
        done = run(coletor, *args())
    assert done.returncode == 1
    assert done.stdout == b""
    assert done.stderr.decode().startswith("Erro: ") and "failed to parse line protocol" in done.stderr.decode()
    assert done.stderr.decode().count("\n") == 1


def test_questdb_down_prints_its_errors_and_fails(coletor, registro, fleet):
    um = fleet.add(ZabbixFake())
    registro(RegistryFake(customers=[customer("A", 1, "P", um.url)]))
    done = run(coletor, *args())
    out = done.stdout.decode().splitlines()
    assert done.returncode == 1
    assert [line.split(":")[0] for line in out] == ["Error"] * 2 + ["Criacao Tabela"]
    assert out[-1] == "Criacao Tabela: None"
    assert done.stderr.decode().startswith("Erro: ")
    assert "OK" not in out


def test_a_missing_table_is_created(coletor, registro, fleet, pki):
    um = fleet.add(ZabbixFake())
    registro(RegistryFake(customers=[customer("A", 1, "P", um.url)]))
    with QuestDbPeers(QuestDbFake(columns=TABLE_MISSING), pki) as qdb:
        done = run(coletor, *args())
    assert done.stdout.decode() == 'Criacao Tabela: {"ddl": "OK"}\nOK\n'
    assert qdb.statements()[0] == "SHOW COLUMNS FROM pppoeClientes"
    assert qdb.statements()[1].startswith("\n        CREATE TABLE 'pppoeClientes' (")


@pytest.mark.parametrize("fake", [
    RegistryFake(list_answer=Answer(status=401, body='{"error": "Unauthorized"}')),
    RegistryFake(login_answer=Answer(status=500, body="<html>erro</html>", content_type="text/html")),
    RegistryFake(login_answer=Answer(status=401, body='{"message": "senha"}')),
    RegistryFake(customers=[{"empresa": "A", "numero": 1, "produto": []}]),
    RegistryFake(customers={"dados": []}),
], ids=["list-error-object", "login-html", "login-without-token", "entry-without-parceiro", "object-not-list"])
def test_registry_failures_end_the_run_before_any_worker(coletor, registro, fake, pki):
    registro(fake)
    with QuestDbPeers(QuestDbFake(), pki) as qdb:
        done = run(coletor, *args())
    assert done.returncode == 1 and done.stdout == b""
    assert done.stderr.decode().startswith("coletor-pppoe: falha não tratada em ")
    assert qdb.sql.requests == [] and qdb.ingest.requests == []


def test_a_registry_that_is_down_ends_the_run_with_status_1(coletor):
    done = run(coletor, *args())
    assert done.returncode == 1 and done.stdout == b""
    assert "obterTokenSistemaTQ" in done.stderr.decode()


def test_a_worker_failure_waits_for_the_others_then_fails_with_nothing_stored(coletor, registro, fleet, pki):
    lentos = [fleet.add(ZabbixFake(delay=0.2)) for _ in range(3)]
    ruim = fleet.add(ZabbixFake())
    registro(RegistryFake(customers=[customer("Ruim", "7a", "P", ruim.url)] +
                          [customer(f"C{i}", i, "P", p.url) for i, p in enumerate(lentos)]))
    with QuestDbPeers(QuestDbFake(), pki) as qdb:
        done = run(coletor, *args())
    assert done.returncode == 1 and done.stdout == b""
    assert "processarCliente(Ruim)" in done.stderr.decode()
    assert all(len(p.requests) == 3 for p in lentos)
    assert qdb.sql.requests == [] and qdb.ingest.requests == []


def test_the_time_limit_ends_a_run_whose_worker_is_stuck(coletor_limite_curto, registro, fleet, pki):
    preso = fleet.add(lambda request: Silence(60) if b"item.get" in request.body else ZabbixFake()(request))
    registro(RegistryFake(customers=[customer("Preso", 1, "P", preso.url)]))
    with QuestDbPeers(QuestDbFake(), pki) as qdb:
        start = time.monotonic()
        done = run(coletor_limite_curto, *args())
        took = time.monotonic() - start
    assert done.returncode == 0
    assert done.stdout.decode() == "Tempo limite de execução atingido (3 s): execução interrompida.\n"
    assert took < 4.5
    assert qdb.sql.requests == [] and qdb.ingest.requests == []


def test_arguments_that_are_not_utf8_end_in_outcomes_not_crashes(coletor, registro, fleet, pki):
    front = fleet.add(ZabbixFake())
    registro(RegistryFake(customers=[customer("A", 1, "P", front.url)]))
    command = [str(coletor).encode(), *[a.encode() for a in args(last="debug")]]
    command[3] = b"senha\xff"  # the Zabbix password: the login body cannot be written, so no token
    command[9] = b"\xfe"       # the QuestDB password goes out as given
    done = subprocess.run(command, capture_output=True, timeout=60)
    assert done.returncode == 0, done.stderr
    assert done.stdout.decode().startswith(f"{YELLOW}P - 1 - A: Cliente com problema na conexão.{RESET}\n")
    assert front.requests == []
