"""Whole runs into a real QuestDB (tests/peers/questdb.sh), rows read back through /exec."""
import base64
import datetime
import json
import os
import time
import urllib.parse
import urllib.request

import pytest

from blackbox.conftest import run
from blackbox.test_discovery_run import Fleet, args
from fakes.registry import RegistryFake, customer
from fakes.zabbix import ZabbixFake

HOST = os.environ.get("COLETOR_QUESTDB_HOST", "")
PORT = os.environ.get("COLETOR_QUESTDB_PORT", "19443")
USER = os.environ.get("COLETOR_QUESTDB_USER", "admin")
PASSWORD = os.environ.get("COLETOR_QUESTDB_PASS", "quest")
FAKETIME = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"

pytestmark = pytest.mark.skipif(not HOST, reason="COLETOR_QUESTDB_HOST not set (no real QuestDB)")


def sql(statement: str) -> dict:
    url = f"http://{HOST}/exec?" + urllib.parse.urlencode({"query": statement, "fmt": "json"})
    auth = base64.b64encode(f"{USER}:{PASSWORD}".encode()).decode()
    request = urllib.request.Request(url, headers={"Authorization": "Basic " + auth})
    try:
        with urllib.request.urlopen(request, timeout=10) as answer:
            return json.load(answer)
    except urllib.error.HTTPError as error:
        return json.load(error)


def rows(expected: int) -> list[dict]:
    """The table's rows once `expected` of them are visible (ingestion is asynchronous)."""
    deadline = time.monotonic() + 30
    while True:
        answer = sql("select nome, parceiro, numero, status, pppoe, timestamp, timestampDummy from pppoeClientes")
        found = answer.get("dataset", [])
        if len(found) >= expected or time.monotonic() > deadline:
            names = [c["name"] for c in answer.get("columns", [])]
            return sorted((dict(zip(names, row)) for row in found), key=lambda r: r["nome"])
        time.sleep(0.2)


@pytest.fixture
def fleet():
    f = Fleet()
    yield f
    f.close()


@pytest.fixture(autouse=True)
def fresh_table():
    sql("DROP TABLE pppoeClientes;")


def collector_args(last="normal"):
    return args(last=last, qdb_host=HOST, qdb_port=PORT)


def test_a_run_creates_the_table_and_its_rows_read_back_as_sent(coletor, registro, fleet):
    um = fleet.add(ZabbixFake(lastvalue="1843"))
    vazio = fleet.add(ZabbixFake(items=[]))
    recusa = fleet.add(ZabbixFake(login="refuse"))
    registro(RegistryFake(customers=[customer("Norte, Fibra", 101, "Parceiro=Alfa", um.url),
                                     customer("Sem Item", "102", "Beta", vazio.url),
                                     customer("Recusa", 103, "Beta", recusa.url)]))
    done = run(coletor, *collector_args())
    assert done.returncode == 0, done.stderr
    assert done.stdout.decode().splitlines() == ['Criacao Tabela: {"ddl": "OK"}', "OK"]
    found = rows(3)
    assert [(r["nome"], r["parceiro"], r["numero"], r["status"], r["pppoe"]) for r in found] == [
        ("Norte, Fibra", "Parceiro=Alfa", 101, 1, 1843), ("Recusa", "Beta", 103, 0, 0), ("Sem Item", "Beta", 102, 1, None)]
    assert {r["timestampDummy"] for r in found} == {"2000-01-01T00:00:00.000000Z"}
    assert len({r["timestamp"] for r in found}) == 1


def test_two_runs_leave_one_row_per_customer_with_the_second_runs_values(coletor, registro, fleet):
    front = ZabbixFake(lastvalue="10")
    peer = fleet.add(front)
    registro(RegistryFake(customers=[customer("Único", 7, "P", peer.url)]))
    assert run(coletor, *collector_args()).returncode == 0
    assert [r["pppoe"] for r in rows(1)] == [10]
    front.lastvalue = "25"
    assert run(coletor, *collector_args()).stdout == b"OK\n"
    time.sleep(1)
    assert [(r["nome"], r["pppoe"]) for r in rows(1)] == [("Único", 25)]


def test_a_run_just_after_local_midnight_empties_the_table_first(coletor, registro, fleet):
    peer = fleet.add(ZabbixFake(lastvalue="5"))
    lista = RegistryFake(customers=[customer("Antigo", 1, "P", peer.url)])
    registro(lista)
    assert run(coletor, *collector_args()).returncode == 0
    assert len(rows(1)) == 1
    lista.customers = [customer("Novo", 2, "P", peer.url)]
    # Tomorrow, so that the test certificates made today are already valid.
    amanha = (datetime.date.today() + datetime.timedelta(days=1)).isoformat()
    env = dict(os.environ, TZ="<-03>3", LD_PRELOAD=FAKETIME, FAKETIME=f"@{amanha} 00:02:00",
               FAKETIME_DONT_FAKE_MONOTONIC="1", ASAN_OPTIONS="verify_asan_link_order=0")
    done = run(coletor, *collector_args(), env=env, local_time=None)
    assert (done.returncode, done.stdout) == (0, b"OK\n"), done.stderr
    time.sleep(1)
    found = rows(1)
    assert [r["nome"] for r in found] == ["Novo"]
    assert found[0]["timestamp"].startswith(f"{amanha}T03:02:")


def test_wrong_credentials_end_the_run_with_status_1_and_nothing_stored(coletor, registro, fleet):
    peer = fleet.add(ZabbixFake())
    registro(RegistryFake(customers=[customer("A", 1, "P", peer.url)]))
    done = run(coletor, *args(qdb_host=HOST, qdb_port=PORT)[:8], "errada", "normal")
    # QuestDB refuses the column query with a plain-text 401: an answer that is not JSON.
    assert (done.returncode, done.stdout) == (1, b"")
    assert done.stderr.decode().startswith("coletor-pppoe: falha não tratada em sendQuestDB: resposta que não é JSON: "
                                           "HTTP 401 Unauthorized: invalid JSON: ")
    assert "error" in sql("select count() from pppoeClientes")


ZABBIX_60 = os.environ.get("COLETOR_ZABBIX_URL", "").removesuffix("/api_jsonrpc.php")
ZABBIX_70 = os.environ.get("COLETOR_ZABBIX7_URL", "").removesuffix("/api_jsonrpc.php")


def seeded(variable: str):
    value = os.environ.get(variable, "none")
    return None if value == "none" else int(value)


@pytest.mark.skipif(not (ZABBIX_60 and ZABBIX_70), reason="COLETOR_ZABBIX_URL and COLETOR_ZABBIX7_URL not both set")
def test_one_run_reads_a_real_60_a_real_70_and_a_74_stand_in(coletor, registro, fleet):
    novo = fleet.add(ZabbixFake(lastvalue="5120", version="7.4"))
    registro(RegistryFake(customers=[customer("Real 6.0", 601, "Parceiro Real", ZABBIX_60),
                                     customer("Real 7.0", 701, "Parceiro Real", ZABBIX_70),
                                     customer("Simulado 7.4", 741, "Parceiro Simulado", novo.url)]))
    done = run(coletor, *collector_args())
    assert (done.returncode, done.stdout.decode().splitlines(), done.stderr) == (
        0, ['Criacao Tabela: {"ddl": "OK"}', "OK"], b"")
    assert [(r["nome"], r["parceiro"], r["numero"], r["status"], r["pppoe"]) for r in rows(3)] == [
        ("Real 6.0", "Parceiro Real", 601, 1, seeded("COLETOR_ZABBIX_VALUE")),
        ("Real 7.0", "Parceiro Real", 701, 1, seeded("COLETOR_ZABBIX7_VALUE")),
        ("Simulado 7.4", "Parceiro Simulado", 741, 1, 5120)]
    calls = [json.loads(r.body) for r in novo.requests]
    assert [(c["method"], sorted(c["params"]), "auth" in c) for c in calls] == [
        ("user.login", ["password", "user"], True), ("user.login", ["password", "username"], False),
        ("item.get", ["host", "output", "search"], False), ("user.logout", [], False)]
    assert novo.handler.tokens == set()  # logged out
