"""QuestDB misbehaves: each SQL statement failing in turn, then the ingestion endpoint.

After every fault the ingestion stand-in holds either all of the run's rows, in one
request, or none; and the run ends with status 0 and "OK" only when the rows were
accepted. A failed ingestion prints "Erro: <message>" on stderr and ends with status 1.
"""
from __future__ import annotations

import json
import re

import pytest

from faults.conftest import (ACCEPTED, SLOW, TIMEOUT_LINE, YELLOW, RESET, args, expect, registry_listing, row, rows_match, run,
                             sql_answers, unhandled)
from faults.stand_ins import FaultPeer, Reset, SilentUntilHangup
from fakes.peer import Answer, Raw, ResetMidBody
from fakes.questdb import HOST as QDB_HOST, WRITE_PORT
from fakes.registry import customer
from fakes.zabbix import ZabbixFake

TABLE = "\n".join([
    "",
    "        CREATE TABLE 'pppoeClientes' (",
    "            nome SYMBOL CAPACITY 8192 CACHE INDEX CAPACITY 256,",
    "            parceiro SYMBOL CAPACITY 512 CACHE,",
    "            numero INT,",
    "            status INT,",
    "            pppoe LONG," + " " * 31,
    "            timestamp TIMESTAMP,",
    "            timestampDummy TIMESTAMP",
    "        ) timestamp (timestampDummy) PARTITION BY WEEK WAL",
    "        DEDUP UPSERT KEYS (timestampDummy, nome, numero, parceiro);",
    "        ",
])
STATEMENTS = {"TRUNCATE TABLE pppoeClientes;": "truncate", "SHOW COLUMNS FROM pppoeClientes": "show",
              "DROP TABLE pppoeClientes;": "drop", TABLE: "create"}
OUTDATED = {"query": "SHOW COLUMNS FROM pppoeClientes", "columns": [], "dataset": [], "count": 6}
MISSING = {"query": "SHOW COLUMNS FROM pppoeClientes", "error": "table does not exist [table=pppoeClientes]",
           "position": 18}
WARNING = f"{YELLOW}O QuestDB se encontra com a tabela desatualizada, recriando tabela!{RESET}"
CREATED = 'Criacao Tabela: {"ddl": "OK"}'
MIDNIGHT, NOON = (0, 1), (12, 0)

TRANSPORT = Raw(b"")
TRANSPORT_LINE = "Error: Empty reply from server"
NOT_JSON = Answer(status=502, body="<html><body>502 Bad Gateway</body></html>", content_type="text/html")
NOT_JSON_FAILURE = unhandled("sendQuestDB", "resposta que não é JSON",
                             re.compile(r"HTTP 502 Bad Gateway: invalid JSON: \[json\.exception\.parse_error\.101\] "
                                        r"parse error at line 1, "
                                        r"column 1: syntax error while parsing value - invalid literal; "
                                        r"last read: '<'"))
SQL_ERROR_BODY = {"query": "x", "error": "permission denied", "position": 0}
SQL_ERROR = Answer(status=400, body=json.dumps(SQL_ERROR_BODY))


def statements(qdb) -> list[str]:
    """The statements as short names; each must be one of the four texts, byte for byte."""
    sent = qdb.statements()
    assert all(text in STATEMENTS for text in sent), sent
    return [STATEMENTS[text] for text in sent]


@pytest.fixture
def alvo(registro):
    """One customer, Alvo (7, partner P), whose front end counts 57."""
    with FaultPeer(ZabbixFake(lastvalue="57")) as zabbix:
        registro(registry_listing([customer("Alvo", 7, "P", zabbix.url)]))
        yield zabbix


ALVO_ROW = [row("Alvo", 7, "P", 1, 57)]
# statement that fails, how, the time of day, the column query's answer, and the outcome:
# (status, stdout, stderr, statements sent, rows stored?)
CASES = {
    "truncate-transport": ("truncate", TRANSPORT, MIDNIGHT, None,
                           (0, [TRANSPORT_LINE, "OK"], [], ["truncate", "show"], True)),
    "truncate-not-json": ("truncate", NOT_JSON, MIDNIGHT, None,
                          (1, [], [NOT_JSON_FAILURE], ["truncate"], False)),
    "truncate-sql-error": ("truncate", SQL_ERROR, MIDNIGHT, None,
                           (0, ["OK"], [], ["truncate", "show"], True)),
    "show-transport": ("show", TRANSPORT, NOON, None,
                       (0, [TRANSPORT_LINE, CREATED, "OK"], [], ["show", "create"], True)),
    "show-not-json": ("show", NOT_JSON, NOON, None, (1, [], [NOT_JSON_FAILURE], ["show"], False)),
    "show-sql-error": ("show", Answer(status=400, body=json.dumps(MISSING)), NOON, None,
                       (0, [CREATED, "OK"], [], ["show", "create"], True)),
    "drop-transport": ("drop", TRANSPORT, NOON, OUTDATED,
                       (0, [WARNING, TRANSPORT_LINE, "OK"], [], ["show", "drop", "create"], True)),
    "drop-not-json": ("drop", NOT_JSON, NOON, OUTDATED,
                      (0, [WARNING, CREATED, "OK"], [], ["show", "drop", "create"], True)),
    "drop-sql-error": ("drop", SQL_ERROR, NOON, OUTDATED,
                       (0, [WARNING, "OK"], [], ["show", "drop", "create"], True)),
    "recreate-transport": ("create", TRANSPORT, NOON, OUTDATED,
                           (0, [WARNING, TRANSPORT_LINE, "OK"], [], ["show", "drop", "create"], True)),
    "recreate-not-json": ("create", [NOT_JSON], NOON, OUTDATED,
                          (0, [WARNING, CREATED, "OK"], [], ["show", "drop", "create", "create"], True)),
    "recreate-not-json-twice": ("create", NOT_JSON, NOON, OUTDATED,
                                (1, [WARNING], [NOT_JSON_FAILURE], ["show", "drop", "create", "create"], False)),
    "recreate-sql-error": ("create", SQL_ERROR, NOON, OUTDATED,
                           (0, [WARNING, "OK"], [], ["show", "drop", "create"], True)),
    "create-transport": ("create", TRANSPORT, NOON, MISSING,
                         (0, [TRANSPORT_LINE, "Criacao Tabela: None", "OK"], [], ["show", "create"], True)),
    "create-not-json": ("create", NOT_JSON, NOON, MISSING,
                        (1, [], [NOT_JSON_FAILURE], ["show", "create"], False)),
    "create-sql-error": ("create", SQL_ERROR, NOON, MISSING,
                         (0, ['Criacao Tabela: {"query": "x", "error": "permission denied", "position": 0}', "OK"], [],
                          ["show", "create"], True)),
    # column answers of odd shapes: only a number can be compared with 7
    "count-as-text": (None, None, NOON, {"count": "7"}, (0, [CREATED, "OK"], [], ["show", "create"], True)),
    "count-true": (None, None, NOON, {"count": True}, (0, [CREATED, "OK"], [], ["show", "create"], True)),
    "count-null": (None, None, NOON, {"count": None}, (0, [CREATED, "OK"], [], ["show", "create"], True)),
    "count-6.5": (None, None, NOON, {"count": 6.5}, (0, [WARNING, "OK"], [], ["show", "drop", "create"], True)),
    "count-7.0": (None, None, NOON, {"count": 7.0}, (0, ["OK"], [], ["show"], True)),
    "count-8": (None, None, NOON, {"count": 8}, (0, ["OK"], [], ["show"], True)),
    "columns-as-array": (None, None, NOON, [7], (0, [CREATED, "OK"], [], ["show", "create"], True)),
    "columns-null": ("show", Answer(body="null"), NOON, None, (0, [CREATED, "OK"], [], ["show", "create"], True)),
}


@pytest.mark.parametrize("case", CASES, ids=list(CASES))
def test_each_statement_failing_in_turn(coletor, alvo, questdb, case):
    failing, action, local_time, columns, (status, out, err, sent, stored) = CASES[case]
    qdb = questdb(exec_handler=sql_answers(columns, **({failing: action} if failing else {})))
    done = run(coletor, *args(), local_time=local_time)
    expect(done, status, out=out, err=err)
    assert statements(qdb) == sent
    if stored:
        assert len(qdb.writes()) == 1 and rows_match(qdb.writes()[0], ALVO_ROW)
    else:
        assert qdb.writes() == []


def test_questdb_unreachable_at_midnight_prints_every_error_and_fails(coletor, alvo, questdb):
    questdb(write_cert=None, sql_up=False)
    done = run(coletor, *args(), local_time=MIDNIGHT)
    refused = re.compile(rf"Error: Failed to connect to {QDB_HOST} port 80 after \d+ ms: Couldn't connect to server")
    expect(done, 1, out=[refused, refused, refused, "Criacao Tabela: None"],
           err=[re.compile(rf"Erro: falha ao enviar as linhas para https://{QDB_HOST}:{WRITE_PORT}/write: "
                           rf"Failed to connect to {QDB_HOST} port {WRITE_PORT} after \d+ ms: "
                           r"Couldn't connect to server")])


@pytest.fixture
def three(registro):
    """Three customers, each with its own front end (the stand-in's tokens are not meant for
    concurrent sessions): the run has three rows to store."""
    with FaultPeer(ZabbixFake(lastvalue="5")) as a, FaultPeer(ZabbixFake(lastvalue="5")) as b, \
            FaultPeer(ZabbixFake(lastvalue="5")) as c:
        registro(registry_listing([customer(name, n, "P", peer.url)
                                   for n, (name, peer) in enumerate(zip("ABC", (a, b, c)), 1)]))
        yield


THREE_ROWS = [row(name, n, "P", 1, 5) for n, name in enumerate(["A", "B", "C"], 1)]
WRITE_URL = f"https://{QDB_HOST}:{WRITE_PORT}/write"
SENDING = f"Erro: falha ao enviar as linhas para {WRITE_URL}: "
REFUSED_CONNECTION = re.compile(re.escape(SENDING) + rf"Failed to connect to {re.escape(QDB_HOST)} port "
                                rf"{WRITE_PORT} after \d+ ms: Couldn't connect to server")


def moved(status: int, to: str = "https://127.0.0.1:9/moved") -> tuple:
    return (Answer(status=status, body="", headers=[("Location", to)]), "server",
            f"Erro: o QuestDB respondeu com um redirecionamento (HTTP {status} para {to}): as linhas não foram gravadas",
            1)


RETRIED = 10.0  # a failure that may pass is sent again for this long
INGESTION = {
    # how /write misbehaves, its certificate, the stderr line, how many times the rows reached it
    # (a number, or "retried": again and again for 10 s)
    "refused-400-json": (Answer(status=400, body=json.dumps({"code": "invalid", "message": "failed to parse line protocol",
                                                             "line": 1, "errorId": "x"})), "server",
                         "Erro: o QuestDB recusou as linhas (HTTP 400): failed to parse line protocol [linha 1]", 1),
    "refused-401-empty": (Answer(status=401, body="", content_type=None), "server",
                          "Erro: o QuestDB recusou as linhas (HTTP 401)", 1),
    "refused-413": (Answer(status=413, body="too large", content_type="text/plain"), "server",
                    "Erro: o QuestDB recusou as linhas (HTTP 413): too large", 1),
    # a redirect followed would be a GET without the rows, and its answer read as stored
    "moved-301": moved(301), "moved-302": moved(302), "moved-303": moved(303), "moved-307": moved(307),
    "moved-308-nowhere": (Answer(status=308, body=""), "server",
                          "Erro: o QuestDB respondeu com um redirecionamento (HTTP 308 para destino não informado): "
                          "as linhas não foram gravadas", 1),
    "retried-500-text": (Answer(status=500, body="erro\ninterno", content_type="text/plain"), "server",
                         "Erro: o QuestDB recusou as linhas (HTTP 500): erro interno", "retried"),
    "retried-503": (Answer(status=503, body=""), "server", "Erro: o QuestDB recusou as linhas (HTTP 503)", "retried"),
    "retried-reset-during-the-flush": (Reset(), "server", SENDING + "Recv failure: Connection reset by peer",
                                       "retried"),
    "retried-closed-during-the-flush": (Raw(b""), "server", SENDING + "Empty reply from server", "retried"),
    "retried-reset-mid-answer": (ResetMidBody(partial=b"{", announced=100), "server",
                                 SENDING + "Recv failure: Connection reset by peer", "retried"),
    "expired-certificate": (Answer(status=204, body="", content_type=None), "expired",
                            SENDING + "SSL certificate problem: certificate has expired", 0),
    "unknown-ca": (Answer(status=204, body="", content_type=None), "unknown-ca",
                   SENDING + "SSL certificate problem: unable to get local issuer certificate", 0),
    "certificate-for-another-host": (Answer(status=204, body="", content_type=None), "other-host",
                                     SENDING + f"SSL: no alternative certificate subject name matches target host "
                                               f"name '{QDB_HOST}'", 0),
    "retried-port-closed": (None, None, REFUSED_CONNECTION, 0),
}


@pytest.mark.parametrize("fault", INGESTION, ids=list(INGESTION))
def test_a_failed_ingestion_prints_erro_and_fails_with_all_rows_or_none_sent(coletor, three, questdb, fault):
    action, cert, line, reached = INGESTION[fault]
    qdb = questdb(write=action, write_cert=cert)
    done = run(coletor, *args())
    expect(done, 1, err=[line])
    assert statements(qdb) == ["show"]
    assert (done.took >= RETRIED) == fault.startswith("retried")
    writes = qdb.writes()
    if reached == "retried":  # each time all three rows, in a single request
        assert len(writes) >= 8, len(writes)
    else:
        assert len(writes) == reached
    assert all(rows_match(sorted(lines), THREE_ROWS) for lines in writes)


@pytest.mark.parametrize("first", [Answer(status=503, body="restarting"), Answer(status=599, body=""), Reset(), Raw(b"")],
                         ids=["503", "599", "reset", "closed"])
def test_a_blip_of_the_ingestion_endpoint_costs_nothing(coletor, three, questdb, first):
    answers = [first, first, ACCEPTED]
    qdb = questdb(write=lambda _request: answers.pop(0))
    done = run(coletor, *args())
    expect(done, 0, out=["OK"])
    assert len(qdb.writes()) == 3 and all(rows_match(sorted(lines), THREE_ROWS) for lines in qdb.writes())


def test_the_run_limit_wins_over_the_retries(coletor_limite_curto, three, questdb):
    qdb = questdb(write=Answer(status=503, body=""))
    done = run(coletor_limite_curto, *args())
    expect(done, 0, out=[TIMEOUT_LINE])
    assert 3.0 <= done.took < (6.0 if SLOW else 4.0) and len(qdb.writes()) >= 2


@pytest.mark.parametrize("host, port, reason", [
    ("127.0.0.5;username=x", str(WRITE_PORT), "o host do QuestDB (6º argumento) não é um nome de host nem um endereço IP"),
    (f"{QDB_HOST} ", str(WRITE_PORT), "o host do QuestDB (6º argumento) não é um nome de host nem um endereço IP"),
    ("qdb/exec?x=", str(WRITE_PORT), "o host do QuestDB (6º argumento) não é um nome de host nem um endereço IP"),
    (QDB_HOST, f"{WRITE_PORT};password=quest", "a porta do QuestDB (7º argumento) não é um número de 1 a 65535"),
    (QDB_HOST, "", "a porta do QuestDB (7º argumento) não é um número de 1 a 65535"),
    (QDB_HOST, "70000", "a porta do QuestDB (7º argumento) não é um número de 1 a 65535"),
], ids=["semicolon", "space", "path", "port-semicolon", "port-empty", "port-too-large"])
def test_a_questdb_address_that_could_change_the_ingestion_address_is_refused_first(coletor, registro, questdb,
                                                                                   host, port, reason):
    peer = registro(registry_listing([customer("A", 1, "P", "http://127.0.0.1:9")]))
    qdb = questdb()
    argv = args()
    argv[5:7] = [host, port]
    done = run(coletor, *argv)
    expect(done, 1, err=["Erro: " + reason])
    assert peer.requests == [] and qdb.untouched()


@pytest.mark.parametrize("answer", [Answer(status=204, body="", content_type=None), Answer(status=200, body="ok"),
                                    Answer(status=299, body="{}")], ids=["204", "200", "299"])
def test_an_accepted_ingestion_prints_ok(coletor, three, questdb, answer):
    qdb = questdb(write=answer)
    done = run(coletor, *args())
    expect(done, 0, out=["OK"])
    assert statements(qdb) == ["show"]
    assert len(qdb.writes()) == 1 and rows_match(sorted(qdb.writes()[0]), THREE_ROWS)


def test_an_ingestion_endpoint_that_never_answers_meets_the_run_time_limit(coletor_limite_curto, three, questdb):
    qdb = questdb(write=SilentUntilHangup())
    done = run(coletor_limite_curto, *args())
    # the limit's own outcome: its text and status 0, but never "OK"
    expect(done, 0, out=[TIMEOUT_LINE])
    assert 3.0 <= done.took < (6.0 if SLOW else 4.0)
    assert len(qdb.writes()) == 1 and rows_match(sorted(qdb.writes()[0]), THREE_ROWS)


def left_out(shown: str, numero: int, reason: str) -> str:
    return f"Aviso: o cliente {shown} (número {numero}) não foi gravado: {reason}"


INT_RANGE = "o número está fora de -2147483647 a 2147483647 (coluna INT)"
# What the table cannot hold, beside two customers that it can: (name, number, partner, the
# odd customer's lastvalue, its "Aviso: " line). QuestDB would refuse the whole batch over
# the NULs and the INT out of range, and store a null for the two null values.
UNFIT = {
    "nul-in-nome": ("Al\u0000vo", 7, "P", "57", left_out("Al\\u0000vo", 7, "o nome contém o caractere NUL")),
    "nul-in-parceiro": ("Alvo", 7, "P\u0000", "57", left_out("Alvo", 7, "o parceiro contém o caractere NUL")),
    "escapes-in-nome-shown-safely": ("\u001b]0;x\u0007\u009b2J\u2028\\", 7, "\u0000", "57",
                                     left_out("\\u001b]0;x\\u0007\\u009b2J\\u2028\\\\", 7,
                                              "o parceiro contém o caractere NUL")),
    "numero-2147483648": ("Alvo", 2147483648, "P", "57", left_out("Alvo", 2147483648, INT_RANGE)),
    "numero-int-null": ("Alvo", -2147483648, "P", "57", left_out("Alvo", -2147483648, INT_RANGE)),
    "numero-99999999999-as-text": ("Alvo", "99999999999", "P", "57", left_out("Alvo", 99999999999, INT_RANGE)),
    "pppoe-long-null": ("Alvo", 7, "P", "-9223372036854775808",
                        left_out("Alvo", 7, "o PPPoE -9223372036854775808 é o nulo da coluna LONG")),
}


@pytest.mark.parametrize("case", UNFIT, ids=list(UNFIT))
def test_a_record_the_table_cannot_hold_is_left_out_and_named_and_the_others_are_stored(coletor, registro, questdb,
                                                                                       case):
    nome, numero, parceiro, lastvalue, warning = UNFIT[case]
    with FaultPeer(ZabbixFake(lastvalue="5")) as a, FaultPeer(ZabbixFake(lastvalue=lastvalue)) as odd, \
            FaultPeer(ZabbixFake(lastvalue="6")) as b:
        registro(registry_listing([customer("A", 1, "P", a.url), customer(nome, numero, parceiro, odd.url),
                                   customer("B", 2, "P", b.url)]))
        qdb = questdb()
        done = run(coletor, *args())
    expect(done, 0, out=["OK"], err=[warning])
    assert len(qdb.writes()) == 1 and rows_match(sorted(qdb.writes()[0]), [row("A", 1, "P", 1, 5), row("B", 2, "P", 1, 6)])


def test_a_questdb_name_that_never_resolves_meets_the_run_time_limit(coletor_limite_curto, three, silent_resolver):
    """The SQL request on the main thread gives up at the limit without waiting for the resolver."""
    given = args()
    given[5] = "questdb.invalid"
    done = run(coletor_limite_curto, *given, wrapper=silent_resolver)
    expect(done, 0, out=[TIMEOUT_LINE])
    assert 3.0 <= done.took < (6.0 if SLOW else 4.0)
