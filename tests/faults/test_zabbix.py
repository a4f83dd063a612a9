"""A customer's Zabbix front end misbehaves on one of its three calls.

Login failures of any kind give the status-0 record (a yellow line in debug mode) after
that one request; item.get failures give status 1 with no value ("Erro na requisição: …"
in debug mode) and the logout still happens; a logout that fails as a request gives the
status-0 record (a red line in debug mode). Answers of a shape the run cannot read end the
customer's task, and so the run, with status 1 and nothing stored.
"""
from __future__ import annotations

import itertools
import json
import os
import re
import subprocess
import time
from dataclasses import dataclass, field

import pytest

from faults.conftest import (RED, RESET, SANITIZER_ENV, SLOW, TIMEOUT_LINE, YELLOW, args, expect, record_line,
                             registry_listing, report_lines, row, rows_match, run, unhandled)
from faults.stand_ins import (BadGzip, Big, FaultPeer, FaultyZabbix, MuteListener, Reset, SilentUntilHangup,
                              free_port, rpc, rpc_method)
from fakes.peer import Answer, Drip, Endless, Raw, ResetMidBody
from fakes.registry import customer
from fakes.zabbix import ZabbixFake
from local_time import tz_at

LOGIN, ITEM, LOGOUT = "user.login", "item.get", "user.logout"
ALL = [LOGIN, ITEM, LOGOUT]
CEILING = 64 << 20
PROBLEM = f"{YELLOW}P - 7 - Alvo: Cliente com problema na conexão.{RESET}"


@dataclass
class Record:
    """The run completes with this record; `debug` lines show in debug mode only, `always` in both."""
    status: int
    pppoe: int | None
    debug: list = field(default_factory=list)
    always: list = field(default_factory=list)


@dataclass
class Fails:
    """The customer's task fails, and with it the run."""
    kind: str
    message: str | re.Pattern
    always: list = field(default_factory=list)


def no_token() -> Record:
    return Record(0, 0, debug=[PROBLEM])


def no_value(description) -> Record:
    return Record(1, None, debug=[re.compile(re.escape("Erro na requisição: ") + description)])


def logout_failed(description) -> Record:
    return Record(0, 0, debug=[re.compile(re.escape(RED + "Erro ao conectar no Zabbix: ") + description
                                          + re.escape(RESET))])


def methods(peer) -> list:
    return [rpc_method(r) for r in peer.requests]


def run_one(coletor, registro, questdb, handler, mode: str, https=None, pki=None):
    """One customer, Alvo (7, partner P), whose front end is `handler`; returns (done, peer, qdb)."""
    tls = {"cert": str(pki / f"{https}.pem"), "key": str(pki / f"{https}.key")} if https else {}
    with FaultPeer(handler, **tls) as peer:
        registro(registry_listing([customer("Alvo", 7, "P", peer.url)]))
        qdb = questdb()
        done = run(coletor, *args(last=mode))
    return done, peer, qdb


LONG_NULL = -9223372036854775808


def check(done, qdb, mode: str, outcome) -> None:
    if isinstance(outcome, Fails):
        expect(done, 1, out=outcome.always, err=[unhandled("processarCliente(Alvo)", outcome.kind, outcome.message)])
        assert qdb.untouched()
        return
    line = record_line("Alvo", outcome.pppoe, outcome.status, 7, "P")
    if mode == "debug":
        expect(done, 0, out=outcome.debug + outcome.always + report_lines([line], ["Alvo"] if outcome.status == 0 else []))
        assert qdb.untouched()
    elif outcome.pppoe == LONG_NULL:  # the table would hold no value: named, and no row sent
        expect(done, 0, out=outcome.always + ["OK"], err=[f"Aviso: o cliente Alvo (número 7) não foi gravado: o PPPoE "
                                                          f"{LONG_NULL} é o nulo da coluna LONG"])
        assert qdb.statements() == ["SHOW COLUMNS FROM pppoeClientes"] and qdb.writes() == []
    else:
        expect(done, 0, out=outcome.always + ["OK"])
        assert qdb.statements() == ["SHOW COLUMNS FROM pppoeClientes"]
        assert len(qdb.writes()) == 1 and rows_match(qdb.writes()[0], [row("Alvo", 7, "P", outcome.status, outcome.pppoe)])


def invalid_json(detail: str) -> str:
    return r"invalid JSON: \[json\.exception\.parse_error\.101\] parse error at line 1, column \d+: " + detail


TRANSPORT = {
    # name: (action on the faulted call, the failure's description as the run prints it)
    "reset-before-answer": (Reset(), r"Recv failure: Connection reset by peer"),
    "closed-without-answer": (Raw(b""), r"Empty reply from server"),
    "reset-mid-body": (ResetMidBody(partial=b'{"jsonrpc":"2.0","res', announced=1000),
                       r"Recv failure: Connection reset by peer"),
    "closed-mid-body": (Raw(b"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{\"jsonrpc\""),
                        r"transfer closed with 90 bytes remaining to read"),
    # 307 keeps the POST and its body, so every hop is the same call again
    "redirect-loop": (Answer(status=307, headers=[("Location", "/api_jsonrpc.php")]),
                      r"Maximum \(30\) redirects followed"),
    "redirect-to-ftp": (Answer(status=307, headers=[("Location", "ftp://127.0.0.1/api_jsonrpc.php")]),
                        r"Protocol \"ftp\" not supported or disabled in libcurl"),
    "endless": (Endless(), f"Response body larger than the limit of {CEILING} bytes"),
    "gzip-that-does-not-decompress": (BadGzip(), r"Error while processing content unencoding: .+"),
    "truncated-json": (Answer(body='{"jsonrpc":"2.0","result":"ab'),
                       invalid_json(r"syntax error while parsing value - invalid string: missing closing quote; "
                                    r"last read: '\"ab'")),
    "html-page": (Answer(body="<html><body>Zabbix</body></html>", content_type="text/html"),
                  invalid_json(r"syntax error while parsing value - invalid literal; last read: '<'")),
    "invalid-utf8": (Answer(body=b'{"jsonrpc":"2.0","result":"\xff"}'),
                     invalid_json("syntax error while parsing value - invalid string: ill-formed UTF-8 byte; "
                                  "last read: '\"\udcff'")),
    "deep-nesting": (Answer(body="[" * 5000 + "]" * 5000), "invalid JSON: nested deeper than 1000 levels"),
    "number-overflow": (Answer(body='{"jsonrpc":"2.0","result":[{"lastvalue":"5","x":1e400}],"id":1}'),
                        r"invalid JSON: \[json\.exception\.out_of_range\.406\] number overflow parsing '1e400'"),
}


def outcome_of_a_failed(call: str, description: str) -> Record:
    return {LOGIN: no_token(), ITEM: no_value(description), LOGOUT: logout_failed(description)}[call]


def sent_until_failed(call: str, fault: str) -> list:
    sent = {LOGIN: [LOGIN], ITEM: ALL, LOGOUT: ALL}[call]
    if fault == "redirect-loop":  # the faulted call, and then 30 hops of it
        sent = sent[:sent.index(call) + 1] + [call] * 30 + sent[sent.index(call) + 1:]
    return sent


@pytest.mark.parametrize("mode", ["debug", "normal"])
@pytest.mark.parametrize("call", ALL)
@pytest.mark.parametrize("fault", TRANSPORT, ids=list(TRANSPORT))
def test_a_transport_fault_on_each_call(coletor, registro, questdb, fault, call, mode):
    action, description = TRANSPORT[fault]
    done, peer, qdb = run_one(coletor, registro, questdb, FaultyZabbix(call, action), mode)
    check(done, qdb, mode, outcome_of_a_failed(call, description))
    assert methods(peer) == sent_until_failed(call, fault)


@pytest.mark.parametrize("mode", ["debug", "normal"])
@pytest.mark.parametrize("cert", ["unknown-ca", "other-host", "expired"])
def test_a_front_end_whose_certificate_cannot_be_trusted_gives_the_no_token_record(coletor, registro, questdb, pki,
                                                                                   cert, mode):
    done, peer, qdb = run_one(coletor, registro, questdb, FaultyZabbix(), mode, https=cert, pki=pki)
    check(done, qdb, mode, no_token())
    assert peer.requests == []


@pytest.mark.parametrize("mode", ["debug", "normal"])
def test_a_front_end_that_refuses_the_connection_gives_the_no_token_record(coletor, registro, questdb, mode):
    registro(registry_listing([customer("Alvo", 7, "P", f"http://127.0.0.1:{free_port()}")]))
    qdb = questdb()
    done = run(coletor, *args(last=mode))
    check(done, qdb, mode, no_token())


# The peer notes the request a little after the program starts its clock, and the
# hang-up a little after it happens: 50 ms of slack below, the promised half second above.
LOGIN_BOUND = (4.95, 6.0 if SLOW else 5.5)


@pytest.mark.parametrize("action", [
    SilentUntilHangup(),
    SilentUntilHangup(head=b"HTTP/1.1 200 OK\r\nContent-Length: 60\r\n\r\n{\"jsonrpc\":\"2.0\""),
], ids=["silent", "silent-mid-body"])
def test_a_login_that_gets_no_answer_gives_up_after_5_seconds(coletor, registro, questdb, action):
    done, peer, qdb = run_one(coletor, registro, questdb, FaultyZabbix(LOGIN, action), "debug")
    check(done, qdb, "debug", no_token())
    assert methods(peer) == [LOGIN] and len(peer.hangups) == 1
    assert LOGIN_BOUND[0] <= peer.hangups[0] - peer.requests[0].received_at < LOGIN_BOUND[1]


def test_a_login_whose_tls_handshake_never_completes_gives_up_after_5_seconds(coletor, registro, questdb):
    with MuteListener() as mute:
        registro(registry_listing([customer("Alvo", 7, "P", f"https://127.0.0.1:{mute.port}")]))
        qdb = questdb()
        done = run(coletor, *args(last="debug"))
    check(done, qdb, "debug", no_token())
    assert len(mute.accepted) == 1 and len(mute.hangups) == 1
    assert LOGIN_BOUND[0] <= mute.hangups[0] - mute.accepted[0] < LOGIN_BOUND[1]


def test_a_front_end_whose_name_never_resolves_gives_up_after_5_seconds(coletor, registro, questdb, silent_resolver):
    """The system resolver would wait 10 s; the login gives up at its bound and leaves it behind."""
    registro(registry_listing([customer("Alvo", 7, "P", "http://zabbix.alvo.invalid")]))
    qdb = questdb()
    done = run(coletor, *args(last="debug"), wrapper=silent_resolver)
    check(done, qdb, "debug", no_token())
    assert LOGIN_BOUND[0] <= done.took < (10.0 if SLOW else 8.0)


def test_a_login_answer_that_comes_slowly_but_steadily_is_waited_for(coletor, registro, questdb):
    fake = ZabbixFake(lastvalue="12")
    fake.tokens.add("t0")
    # 16 bytes 0.4 s apart: over 6 s in all, but never 5 s without a byte
    slow = FaultyZabbix(LOGIN, Drip(b'{"result":"t0"} ', interval=0.4), fake)
    done, peer, qdb = run_one(coletor, registro, questdb, slow, "debug")
    check(done, qdb, "debug", Record(1, 12))
    assert methods(peer) == ALL


@pytest.mark.parametrize("mode", ["debug", "normal"])
@pytest.mark.parametrize("call", [ITEM, LOGOUT])
def test_an_answer_that_keeps_trickling_is_bounded_by_the_run_limit_alone(coletor_limite_curto, registro, questdb,
                                                                          call, mode):
    trickle = Drip(json.dumps({"jsonrpc": "2.0", "result": True, "id": 1}).encode(), interval=0.5)
    done, peer, qdb = run_one(coletor_limite_curto, registro, questdb, FaultyZabbix(call, trickle), mode)
    expect(done, 0, out=[TIMEOUT_LINE])
    assert 3.0 <= done.took < (6.0 if SLOW else 4.0)
    assert methods(peer) == ALL[:ALL.index(call) + 1] and qdb.untouched()


# The same slack below as the login's: the peer notes the request after the program starts its clock.
ITEM_BOUND = (29.95, 33.0 if SLOW else 31.5)


def test_a_silent_front_end_costs_its_own_record_only_and_every_customer_is_stored(coletor, registro, questdb):
    """item.get and the logout wait at most 30 s for each piece of an answer; an answer that
    keeps coming, however slowly, is waited for."""
    trickling = ZabbixFake(lastvalue="12")
    trickling.tokens.add("t0")
    fronts = {"Sadio": ZabbixFake(lastvalue="57"), "Mudo no item": FaultyZabbix(ITEM, SilentUntilHangup()),
              "Mudo no logout": FaultyZabbix(LOGOUT, SilentUntilHangup()),
              # 40 bytes 0.9 s apart: longer than the bound in all, never that long between two
              "Lento": FaultyZabbix(ITEM, Drip(b'{"result":[{"lastvalue":"12"}],"x":"ab"}', interval=0.9), trickling)}
    with FaultPeer(fronts["Sadio"]) as a, FaultPeer(fronts["Mudo no item"]) as b, \
            FaultPeer(fronts["Mudo no logout"]) as c, FaultPeer(fronts["Lento"]) as d:
        registro(registry_listing([customer(name, n, "P", peer.url)
                                   for n, (name, peer) in enumerate(zip(fronts, (a, b, c, d)), 1)]))
        qdb = questdb()
        done = run(coletor, *args())
    expect(done, 0, out=["OK"])
    assert 30.0 < done.took < 40.0
    for silent, call in ((b, ITEM), (c, LOGOUT)):
        asked = silent.requests[ALL.index(call)].received_at
        assert len(silent.hangups) == 1 and ITEM_BOUND[0] <= silent.hangups[0] - asked < ITEM_BOUND[1]
    assert [methods(p) for p in (a, b, c, d)] == [ALL] * 4
    assert len(qdb.writes()) == 1 and rows_match(sorted(qdb.writes()[0]), [
        row("Lento", 4, "P", 1, 12), row("Mudo no item", 2, "P", 1, None), row("Mudo no logout", 3, "P", 0, 0),
        row("Sadio", 1, "P", 1, 57)])


def big(prefix: dict, size: int = 50 << 20) -> Big:
    """A valid answer of `size` bytes: `prefix`'s members and then a long text member."""
    head = json.dumps(prefix)[:-1] + ', "pad": "'
    return Big(head.encode(), b'"}', size)


def big_answers(fake: ZabbixFake):
    fake.tokens.add("t0")
    return {
        LOGIN: big({"jsonrpc": "2.0", "result": "t0"}),
        ITEM: big({"jsonrpc": "2.0", "result": [{"itemid": "1", "lastvalue": "31"}]}),
        LOGOUT: big({"jsonrpc": "2.0", "result": True}, CEILING),
    }


@pytest.mark.parametrize("call", ALL)
def test_a_large_but_valid_answer_is_read(coletor, registro, questdb, call):
    fake = ZabbixFake(lastvalue="31")
    done, peer, qdb = run_one(coletor, registro, questdb, FaultyZabbix(call, big_answers(fake)[call], fake), "normal")
    check(done, qdb, "normal", Record(1, 31))
    assert methods(peer) == ALL


class Script:
    """A front end that answers each method from a table (item.get and logout need no token)."""

    def __init__(self, **answers):
        self.answers = {LOGIN: rpc("t0"), ITEM: rpc([{"itemid": "1", "lastvalue": "57"}]), LOGOUT: rpc(True)}
        self.answers.update({k.replace("_", "."): v for k, v in answers.items()})

    def __call__(self, request):
        answer = self.answers[rpc_method(request)]
        return answer(request) if callable(answer) else answer


def body(text: str | bytes, status: int = 200) -> Answer:
    return Answer(status=status, body=text)


REFUSED = '{"jsonrpc":"2.0","error":{"code":-32500,"message":"Application error.","data":"Login name or password is incorrect."},"id":1}'
NEWER_ONLY = '{"jsonrpc":"2.0","error":{"code":-32602,"message":"Invalid params.","data":"Invalid parameter \\"/\\": unexpected parameter \\"user\\"."},"id":1}'
SHAPES = {
    # login answers: only a non-null "result" is a token, whatever its type
    "login-array": (dict(user_login=body("[]")), no_token(), [LOGIN]),
    "login-text": (dict(user_login=body('"t0"')), no_token(), [LOGIN]),
    "login-number": (dict(user_login=body("5")), no_token(), [LOGIN]),
    "login-null": (dict(user_login=body("null")), no_token(), [LOGIN]),
    "login-no-result": (dict(user_login=body('{"jsonrpc":"2.0","id":1}')), no_token(), [LOGIN]),
    "login-refused": (dict(user_login=body(REFUSED)), no_token(), [LOGIN]),
    "login-result-null": (dict(user_login=rpc(None)), no_token(), [LOGIN]),
    "login-result-number": (dict(user_login=rpc(123)), Record(1, 57), ALL),
    "login-result-empty-text": (dict(user_login=rpc("")), Record(1, 57), ALL),
    "login-result-false": (dict(user_login=rpc(False)), Record(1, 57), ALL),
    "login-result-object": (dict(user_login=rpc({"sessionid": "x"})), Record(1, 57), ALL),
    "login-status-500-with-result": (dict(user_login=Answer(status=500, body='{"result":"t0"}')), Record(1, 57), ALL),
    "login-newer-form-only": (dict(user_login=lambda r: body(NEWER_ONLY) if b'"user"' in r.body else rpc("t1")),
                              Record(1, 57), [LOGIN, LOGIN, ITEM, LOGOUT]),
    # item.get answers
    "item-array": (dict(item_get=body("[]")), Fails("resposta inesperada do Zabbix",
                                                    "item.get: a resposta não é um objeto JSON"), [LOGIN, ITEM]),
    "item-text": (dict(item_get=body('"57"')), Fails("resposta inesperada do Zabbix",
                                                     "item.get: a resposta não é um objeto JSON"), [LOGIN, ITEM]),
    "item-null": (dict(item_get=body("null")), Fails("resposta inesperada do Zabbix",
                                                     "item.get: a resposta não é um objeto JSON"), [LOGIN, ITEM]),
    "item-result-object": (dict(item_get=rpc({"lastvalue": "57"})),
                           Fails("resposta inesperada do Zabbix", 'item.get: "result" não é uma lista de itens'),
                           [LOGIN, ITEM]),
    "item-result-true": (dict(item_get=rpc(True)),
                         Fails("resposta inesperada do Zabbix", 'item.get: "result" não é uma lista de itens'),
                         [LOGIN, ITEM]),
    "item-result-text": (dict(item_get=rpc("57")),
                         Fails("resposta inesperada do Zabbix", 'item.get: "result" não é uma lista de itens'),
                         [LOGIN, ITEM]),
    "item-result-list-of-numbers": (dict(item_get=rpc([57])),
                                    Fails("resposta inesperada do Zabbix", 'item.get: "result" não é uma lista de itens'),
                                    [LOGIN, ITEM]),
    "item-result-empty-list": (dict(item_get=rpc([])), Record(1, None), ALL),
    "item-result-null": (dict(item_get=rpc(None)), Record(1, None), ALL),
    "item-result-false": (dict(item_get=rpc(False)), Record(1, None), ALL),
    "item-result-zero": (dict(item_get=rpc(0)), Record(1, None), ALL),
    "item-result-empty-object": (dict(item_get=rpc({})), Record(1, None), ALL),
    "item-error": (dict(item_get=body('{"jsonrpc":"2.0","error":{"code":-32602,"data":"Not authorized."},"id":1}')),
                   Record(1, None), ALL),
    "item-without-lastvalue": (dict(item_get=rpc([{"itemid": "1"}])), Record(1, None), ALL),
    "item-two-items": (dict(item_get=rpc([{"lastvalue": "5"}, {"lastvalue": "9"}])), Record(1, 5), ALL),
    "item-status-500-with-items": (dict(item_get=Answer(status=500, body='{"result":[{"lastvalue":"8"}]}')),
                                   Record(1, 8), ALL),
}
LOGOUT_LINE = "Não foi possível fazer logout em {url}/api_jsonrpc.php: {body}"
LOGOUT_SHAPES = {
    # (status, body, confirmed?) — anything but 200 with "result" true is unconfirmed
    "result-1": (200, '{"jsonrpc":"2.0","result":1,"id":1}', False),
    "result-text-true": (200, '{"jsonrpc":"2.0","result":"true","id":1}', False),
    "result-null": (200, '{"jsonrpc":"2.0","result":null,"id":1}', False),
    "no-result": (200, '{"jsonrpc":"2.0","error":{"code":-32602,"data":"Not authorized."},"id":1}', False),
    "status-401-true": (401, '{"jsonrpc":"2.0","result":true,"id":1}', False),
    "status-404-html": (404, "<html>Not Found</html>", False),
    "status-500-text": (500, "erro interno", False),
    "status-500-empty": (500, "", False),
    "status-500-not-utf8": (500, b"erro \xff\xfe", False),
    "status-500-deep": (500, "[" * 5000, False),
    "result-true": (200, '{"jsonrpc":"2.0","result":true,"id":1}', True),
}


@pytest.mark.parametrize("mode", ["debug", "normal"])
@pytest.mark.parametrize("shape", SHAPES, ids=list(SHAPES))
def test_answers_of_each_shape_per_method(coletor, registro, questdb, shape, mode):
    answers, outcome, sent = SHAPES[shape]
    done, peer, qdb = run_one(coletor, registro, questdb, Script(**answers), mode)
    check(done, qdb, mode, outcome)
    assert methods(peer) == sent
    if shape == "login-result-object":  # the token travels back exactly as it came
        assert json.loads(peer.requests[1].body)["auth"] == {"sessionid": "x"}


@pytest.mark.parametrize("mode", ["debug", "normal"])
@pytest.mark.parametrize("shape", LOGOUT_SHAPES, ids=list(LOGOUT_SHAPES))
def test_a_logout_that_is_not_confirmed_prints_its_line_in_both_modes(coletor, registro, questdb, shape, mode):
    status, text, confirmed = LOGOUT_SHAPES[shape]
    with FaultPeer(Script(user_logout=body(text, status))) as peer:
        registro(registry_listing([customer("Alvo", 7, "P", peer.url)]))
        qdb = questdb()
        done = run(coletor, *args(last=mode))
    raw = text if isinstance(text, str) else text.decode("utf-8", "surrogateescape")
    line = [] if confirmed else [LOGOUT_LINE.format(url=peer.url, body=raw)]
    check(done, qdb, mode, Record(1, 57, always=line))
    assert methods(peer) == ALL


@pytest.mark.parametrize("mode", ["debug", "normal"])
@pytest.mark.parametrize("text", ["[]", '"ok"', "true", "null", "5"])
def test_a_confirmed_status_with_a_body_that_is_not_an_object_ends_the_run(coletor, registro, questdb, text, mode):
    done, peer, qdb = run_one(coletor, registro, questdb, Script(user_logout=body(text)), mode)
    check(done, qdb, mode, Fails("resposta inesperada do Zabbix", "user.logout: a resposta não é um objeto JSON"))
    assert methods(peer) == ALL


NOT_A_NUMERAL = "não é um numeral inteiro de 64 bits: "
LASTVALUES = {
    # lastvalue as sent: a count, None (no value), or the failure's message
    '"57"': 57, '"0"': 0, '" 7 "': 7, '"+12"': 12, '"-3"': -3, '"007"': 7,
    '""': None, "null": None, "false": None, "[]": None, "{}": None, "0": None, "0.0": None,
    "57": 57, "57.9": 57, "-3.7": -3, "0.4": 0,
    "true": Fails("número inválido", "lastvalue não é um inteiro: true"),
    "[1]": Fails("número inválido", "lastvalue não é um inteiro: [1]"),
    '{"v":1}': Fails("número inválido", 'lastvalue não é um inteiro: {"v":1}'),
    '"12.5"': Fails("número inválido", NOT_A_NUMERAL + '"12.5"'),
    '"doze"': Fails("número inválido", NOT_A_NUMERAL + '"doze"'),
    '"1e3"': Fails("número inválido", NOT_A_NUMERAL + '"1e3"'),
    '"0x1F"': Fails("número inválido", NOT_A_NUMERAL + '"0x1F"'),
    # at and past the 64-bit limits
    '"9223372036854775807"': 9223372036854775807,
    '"-9223372036854775808"': -9223372036854775808,
    "9223372036854775807": 9223372036854775807,
    "-9223372036854775808": -9223372036854775808,
    "9.2233720368547748e18": 9223372036854774784,
    '"9223372036854775808"': Fails("número inválido", NOT_A_NUMERAL + '"9223372036854775808"'),
    '"-9223372036854775809"': Fails("número inválido", NOT_A_NUMERAL + '"-9223372036854775809"'),
    "9223372036854775808": Fails("número inválido", "lastvalue não é um inteiro: 9223372036854775808"),
    "18446744073709551615": Fails("número inválido", "lastvalue não é um inteiro: 18446744073709551615"),
    "18446744073709551616": Fails("número inválido",
                                  "lastvalue fora do intervalo de 64 bits: 1.8446744073709552e+19"),
    "-9223372036854775809": Fails("número inválido",
                                  "lastvalue fora do intervalo de 64 bits: -9.223372036854776e+18"),
    "1e19": Fails("número inválido", "lastvalue fora do intervalo de 64 bits: 1e+19"),
    "1e400": "number overflow",
}


@pytest.mark.parametrize("lastvalue", LASTVALUES, ids=list(LASTVALUES))
def test_lastvalue_of_every_json_type_and_at_the_64_bit_limits(coletor, registro, questdb, lastvalue):
    item = '{"jsonrpc":"2.0","result":[{"itemid":"1","name":"PPPoE","lastvalue":' + lastvalue + '}],"id":1}'
    done, peer, qdb = run_one(coletor, registro, questdb, Script(item_get=body(item)), "normal")
    expected = LASTVALUES[lastvalue]
    if isinstance(expected, Fails):
        check(done, qdb, "normal", expected)
        assert methods(peer) == [LOGIN, ITEM]
    elif expected == "number overflow":  # a number no double holds: the body is not JSON we read
        check(done, qdb, "normal", Record(1, None))
        assert methods(peer) == ALL
    else:
        check(done, qdb, "normal", Record(1, expected))
        assert methods(peer) == ALL


def test_a_pool_thread_that_cannot_start_ends_the_run_as_a_failure_after_the_others(coletor, registro, questdb):
    """As an unprivileged user with room for 4 threads: the main thread, the limit's watchdog
    and two workers start, the third cannot."""
    fronts = [ZabbixFake(lastvalue="5") for _ in range(4)]
    peers = [FaultPeer(front).__enter__() for front in fronts]
    try:
        registro(registry_listing([customer(f"C{n}", n, "P", peer.url) for n, peer in enumerate(peers)]))
        qdb = questdb()
        done = subprocess.run(["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                               "prlimit", "--nproc=4:4", str(coletor), *args()], capture_output=True, timeout=60)
    finally:
        for peer in peers:
            peer.stop()
    assert (done.returncode, done.stdout) == (1, b"")
    assert re.fullmatch(r"coletor-pppoe: falha não tratada: erro do sistema: não foi possível iniciar "
                        r"a thread 3 de 4 do pool: Resource temporarily unavailable\n", done.stderr.decode()), done.stderr
    assert qdb.untouched()


def long_logout_lines(customers: int, size: int = 60000):
    """A front end whose every logout is unconfirmed, each with a body of its own of `size`
    bytes, and the registry listing `customers` customers on it; returns (peer, the lines)."""
    serial = itertools.count()
    peer = FaultPeer(Script(user_logout=lambda _r: body(f"{next(serial):03d}" + "x" * size, 500))).__enter__()
    lines = [LOGOUT_LINE.format(url=peer.url, body=f"{n:03d}" + "x" * size) for n in range(customers)]
    return peer, lines


def test_long_lines_of_different_workers_never_mix(coletor, registro, questdb):
    peer, lines = long_logout_lines(40)
    try:
        registro(registry_listing([customer(f"C{n}", n, "P", peer.url) for n in range(40)]))
        questdb()
        done = run(coletor, *args())
    finally:
        peer.stop()
    assert (done.status, done.err) == (0, [""])
    assert sorted(done.out) == sorted(lines + ["OK", ""])


@pytest.mark.parametrize("mode", ["normal", "debug"])
def test_a_stdout_nobody_reads_cannot_keep_the_run_past_its_limit(coletor_limite_curto, registro, questdb, tmp_path,
                                                                  mode):
    """normal: the workers' long logout lines fill the pipe and block them; debug: the report
    of long names blocks the main thread, and the limit's watchdog ends the run."""
    if mode == "normal":
        peer, _ = long_logout_lines(40)
        names = [f"C{n}" for n in range(40)]
    else:
        peer = FaultPeer(Script()).__enter__()
        names = [f"C{n}" + "n" * 3000 for n in range(40)]
    health = tmp_path / "health.prom"
    env = dict(os.environ, TZ=tz_at(12, 0), COLETOR_METRICS_FILE=str(health), **SANITIZER_ENV)
    try:
        registro(registry_listing([customer(name, n, "P", peer.url) for n, name in enumerate(names)]))
        questdb()
        start = time.monotonic()
        # stdout is a pipe nobody reads until the process has ended
        process = subprocess.Popen([str(coletor_limite_curto), *args(last=mode)], stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, env=env)
        try:
            status = process.wait(timeout=30)
        finally:
            process.kill()
            took = time.monotonic() - start
            err = process.communicate()[1]
    finally:
        peer.stop()
    assert (status, err) == (0, b"")
    assert 3.0 <= took < (12.0 if SLOW else 8.0)
    written = health.read_text().splitlines()
    assert 'coletor_pppoe_run_outcome{outcome="time_limit"} 4' in written and "coletor_pppoe_run_exit_status 0" in written
