"""The registry misbehaves: every fault ends the run before any customer is queried.

A failed login or list ends the run with status 1, nothing on stdout, one report line on
stderr and nothing sent to QuestDB; a registry that keeps the run waiting meets the
run-time limit instead; a slow or huge but valid answer is read like any other.
"""
from __future__ import annotations

import json
import re

import pytest

from faults.conftest import (REGISTRY_HOST, REGISTRY_PORT, SLOW, TIMEOUT_LINE, args, expect, row, rows_match, run,
                             unhandled)
from faults.stand_ins import BadGzip, Big, FaultPeer, MuteListener, Reset, SilentUntilHangup
from fakes.peer import Answer, Drip, Endless, Raw, ResetMidBody
from fakes.registry import customer
from fakes.zabbix import ZabbixFake

LOGIN, LIST = "/api/login", "/api/acessos"
STEP = {LOGIN: "obterTokenSistemaTQ", LIST: "obterListaClientes"}
TOKEN = {"token": "tok-7d1f"}
SHOW = ["SHOW COLUMNS FROM pppoeClientes"]
CEILING = 64 << 20


def registry(faulty: str, action, customers="[]"):
    """Answers the login and the list normally, except the path `faulty`, which gets `action`
    (or what `action` makes of the path, when it is callable)."""
    def handler(request):
        if request.path == faulty:
            return action(faulty) if callable(action) else action
        if request.path == LOGIN:
            return Answer(body=json.dumps(TOKEN))
        if request.path == LIST:
            return Answer(body=customers)
        return Answer(status=404, body="{}")
    return handler


def paths(peer) -> list[str]:
    return [r.path for r in peer.requests]


def until(path: str) -> list[str]:
    return [LOGIN] if path == LOGIN else [LOGIN, LIST]


def curl(message: str) -> tuple[str, re.Pattern]:
    return "falha na requisição", re.compile(message)


def json_error(detail: str) -> tuple[str, re.Pattern]:
    return "resposta que não é JSON", re.compile(r"invalid JSON: \[json\.exception\.parse_error\.101\] parse error at "
                                              r"line 1, column \d+: " + detail)


BIG_INVALID = Big(b'{"token": "', b'"', 50 << 20)  # a text that never closes its object
TRANSPORT_FAULTS = {
    # name: (action, failure kind, message)
    "reset-before-answer": (Reset(), *curl(r"Recv failure: Connection reset by peer")),
    "reset-mid-body": (ResetMidBody(partial=b'{"token": "ab', announced=1000),
                       *curl(r"Recv failure: Connection reset by peer")),
    "closed-without-answer": (Raw(b""), *curl(r"Empty reply from server")),
    "closed-mid-body": (Raw(b"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{\"token\""),
                        *curl(r"transfer closed with 92 bytes remaining to read")),
    "redirect-loop": (lambda path: Answer(status=302, headers=[("Location", path)]),
                      *curl(r"Maximum \(30\) redirects followed")),
    "redirect-to-ftp": (Answer(status=302, headers=[("Location", f"ftp://{REGISTRY_HOST}/x")]),
                        *curl(r"Protocol \"ftp\" not supported or disabled in libcurl")),
    "endless": (Endless(), "falha na requisição", re.compile(f"Response body larger than the limit of {CEILING} bytes")),
    "gzip-that-does-not-decompress": (BadGzip(), *curl(r"Error while processing content unencoding: .+")),
    "empty-body": (Answer(body=""), *json_error("syntax error while parsing value - unexpected end of input; "
                                                "expected '\\[', '\\{', or a literal")),
    "truncated-json": (Answer(body='{"token": "ab'), *json_error(r"syntax error while parsing value - invalid string: "
                                                                 r"missing closing quote; last read: '\"ab'")),
    "html-page": (Answer(status=502, body="<html><body>Bad Gateway</body></html>", content_type="text/html"),
                  *json_error(r"syntax error while parsing value - invalid literal; last read: '<'")),
    "invalid-utf8": (Answer(body=b'{"token": "t\xc3\x28k"}'),
                     *json_error(r"syntax error while parsing value - invalid string: ill-formed UTF-8 byte; "
                                 "last read: '\"t\\\\xc3\\('")),  # the byte that is not UTF-8 shown as \xc3
    "deep-nesting": (Answer(body="[" * 100000 + "]" * 100000), "resposta que não é JSON",
                     re.compile("invalid JSON: nested deeper than 1000 levels")),
    "50-MB-not-json": (BIG_INVALID, *json_error(r"syntax error while parsing object - unexpected end of input; "
                                                r"expected '\}'")),
}


@pytest.mark.parametrize("path", [LOGIN, LIST], ids=["login", "list"])
@pytest.mark.parametrize("fault", TRANSPORT_FAULTS, ids=list(TRANSPORT_FAULTS))
def test_a_failed_exchange_ends_the_run_with_status_1_before_any_customer(coletor, registro, questdb, path, fault):
    action, kind, message = TRANSPORT_FAULTS[fault]
    peer = registro(registry(path, action))
    qdb = questdb()
    done = run(coletor, *args())
    expect(done, 1, err=[unhandled(STEP[path], kind, message)])
    sent = until(path) + ([path] * 30 if fault == "redirect-loop" else [])
    assert paths(peer) == sent
    assert qdb.untouched()


@pytest.mark.parametrize("path", [LOGIN, LIST], ids=["login", "list"])
def test_a_redirect_to_plain_http_is_followed_and_the_token_stays_behind(coletor, registro, questdb, path):
    # libcurl's defaults: a 302 turns the POST into a bodiless GET, and the Authorization
    # header is not sent to another origin.
    with FaultPeer(lambda r: Answer(body=json.dumps(TOKEN) if r.path == LOGIN else "[]")) as plain:
        peer = registro(registry(path, Answer(status=302, headers=[("Location", plain.url + path)])))
        qdb = questdb()
        done = run(coletor, *args())
    expect(done, 0, out=["OK"])
    assert paths(peer) == [LOGIN, LIST]
    assert [(r.method, r.path, r.body, r.header("Authorization")) for r in plain.requests] == [("GET", path, b"", None)]
    assert qdb.statements() == SHOW and qdb.writes() == []


@pytest.mark.parametrize("cert, message", [
    ("unknown-ca", r"SSL certificate problem: unable to get local issuer certificate"),
    ("other-host", rf"SSL: no alternative certificate subject name matches target host name '{REGISTRY_HOST}'"),
    ("expired", r"SSL certificate problem: certificate has expired"),
])
def test_a_certificate_the_run_cannot_trust_fails_the_login_before_any_request(coletor, registro, questdb, cert,
                                                                               message):
    peer = registro(registry(None, None), cert=cert)
    qdb = questdb()
    done = run(coletor, *args())
    expect(done, 1, err=[unhandled("obterTokenSistemaTQ", "falha na requisição", re.compile(message))])
    assert peer.requests == [] and qdb.untouched()


def test_a_registry_that_refuses_the_connection_fails_the_login(coletor, questdb):
    qdb = questdb()
    done = run(coletor, *args())
    expect(done, 1, err=[unhandled("obterTokenSistemaTQ", "falha na requisição",
                                   re.compile(rf"Failed to connect to {REGISTRY_HOST} port {REGISTRY_PORT} after \d+ ms: "
                                              r"Couldn't connect to server"))])
    assert qdb.untouched()


@pytest.mark.parametrize("path", [LOGIN, LIST], ids=["login", "list"])
@pytest.mark.parametrize("action", [
    SilentUntilHangup(),
    SilentUntilHangup(head=b"HTTP/1.1 200 OK\r\nContent-Length: 40\r\n\r\n{\"tok"),
    Drip(json.dumps(TOKEN).encode(), interval=0.5),
], ids=["silent", "silent-mid-body", "drip-beyond-the-limit"])
def test_a_registry_that_keeps_the_run_waiting_meets_the_run_time_limit(coletor_limite_curto, registro, questdb,
                                                                         path, action):
    peer = registro(registry(path, action))
    qdb = questdb()
    done = run(coletor_limite_curto, *args())
    expect(done, 0, out=[TIMEOUT_LINE])
    assert 3.0 <= done.took < (6.0 if SLOW else 4.0)
    assert paths(peer) == until(path) and qdb.untouched()


def test_a_registry_that_never_completes_the_handshake_meets_the_run_time_limit(coletor_limite_curto, questdb):
    qdb = questdb()
    with MuteListener(REGISTRY_HOST, REGISTRY_PORT) as mute:
        done = run(coletor_limite_curto, *args())
    expect(done, 0, out=[TIMEOUT_LINE])
    assert 3.0 <= done.took < (6.0 if SLOW else 4.0)
    assert len(mute.accepted) == 1 and qdb.untouched()


def big_list(zabbix_url: str, size: int) -> Big:
    """A valid list of `size` bytes: one customer whose entry carries a long text member."""
    entry = customer("Grande", 1, "P", zabbix_url)
    head = json.dumps([entry])[:-2] + ', "notas": "'
    return Big(head.encode(), b'"}]', size)


@pytest.mark.parametrize("answer", ["drip", "50-MB", "64-MiB-exactly"])
def test_a_slow_or_large_but_valid_list_is_read_and_the_run_completes(coletor, registro, questdb, answer):
    with FaultPeer(ZabbixFake(lastvalue="31")) as zabbix:
        action = {"drip": Drip(json.dumps([customer("Grande", 1, "P", zabbix.url)]).encode(), interval=0.003),
                  "50-MB": big_list(zabbix.url, 50 << 20),
                  "64-MiB-exactly": big_list(zabbix.url, CEILING)}[answer]
        peer = registro(registry(LIST, action))
        qdb = questdb()
        done = run(coletor, *args())
    expect(done, 0, out=["OK"])
    assert paths(peer) == [LOGIN, LIST] and len(zabbix.requests) == 3
    assert qdb.statements() == SHOW
    assert len(qdb.writes()) == 1 and rows_match(qdb.writes()[0], [row("Grande", 1, "P", 1, 31)])


def test_one_byte_past_the_ceiling_is_a_request_failure(coletor, registro, questdb):
    peer = registro(registry(LIST, big_list("http://127.0.0.1:9", CEILING + 1)))
    qdb = questdb()
    done = run(coletor, *args())
    expect(done, 1, err=[unhandled("obterListaClientes", "falha na requisição",
                                   f"Response body larger than the limit of {CEILING} bytes")])
    assert paths(peer) == [LOGIN, LIST] and qdb.untouched()


def test_a_slow_login_answer_is_waited_for(coletor, registro, questdb):
    peer = registro(registry(LOGIN, Drip(json.dumps(TOKEN).encode(), interval=0.02)))
    qdb = questdb()
    done = run(coletor, *args())
    expect(done, 0, out=["OK"])
    assert paths(peer) == [LOGIN, LIST] and qdb.statements() == SHOW and qdb.writes() == []


# The list request carries the token's text form: text as is, anything else compact JSON.
TOKENS = [
    ("tok-7d1f", "tok-7d1f"),
    ("tók ç", "tók ç"),
    (12345, "12345"),
    (-7, "-7"),
    (12345678901234567890, "12345678901234567890"),
    (1.5, "1.5"),
    (1e3, "1000.0"),
    (True, "true"),
    (False, "false"),
    (None, "null"),
    ([1, "a", None], '[1,"a",null]'),
    ({"a": {"b": [True]}, "é": "ç"}, '{"a":{"b":[true]},"\\u00e9":"\\u00e7"}'),
    ([], "[]"),
    ({}, "{}"),
]


@pytest.mark.parametrize("token, text", TOKENS, ids=[repr(t) for t, _ in TOKENS])
def test_a_token_of_any_json_type_goes_to_the_list_request_in_its_text_form(coletor, registro, questdb, token, text):
    def handler(request):
        if request.path == LOGIN:
            return Answer(body=json.dumps({"token": token, "nome": "coletor"}))
        return Answer(body="[]")
    peer = registro(handler)
    qdb = questdb()
    done = run(coletor, *args())
    expect(done, 0, out=["OK"])
    assert paths(peer) == [LOGIN, LIST]
    sent = peer.requests[1].header("Authorization").encode("latin-1").decode("utf-8")
    assert sent == f"Bearer {text}"
    assert qdb.statements() == SHOW and qdb.writes() == []


@pytest.mark.parametrize("login, kind, message", [
    ('{"nome": "coletor"}', "login do registro sem token", 'login no registro: a resposta não tem "token"'),
    ('[{"token": "t"}]', "login do registro sem token", "login no registro: a resposta não é um objeto JSON"),
    ('"tok"', "login do registro sem token", "login no registro: a resposta não é um objeto JSON"),
    ('{"token": "a\\r\\nX-Injetado: 1"}', "falha na requisição",
     "Invalid header: 'Authorization' has a line break or NUL in its name or value"),
    ('{"token": "a\\u0000b"}', "falha na requisição",
     "Invalid header: 'Authorization' has a line break or NUL in its name or value"),
], ids=["no-token", "array", "text", "line-break-in-token", "nul-in-token"])
def test_a_login_answer_without_a_usable_token_ends_the_run(coletor, registro, questdb, login, kind, message):
    peer = registro(registry(LOGIN, Answer(body=login)))
    qdb = questdb()
    done = run(coletor, *args())
    step = "obterListaClientes" if kind == "falha na requisição" else "obterTokenSistemaTQ"
    expect(done, 1, err=[unhandled(step, kind, message)])
    assert paths(peer) == [LOGIN] and qdb.untouched()


def entry(**members) -> dict:
    base = {"empresa": "Alvo", "numero": 2, "parceiro": "P",
            "produto": [{"tipo": "ornivex", "link": [{"tipo": "zabbix", "link": "LINK"}]}]}
    base.update(members)
    return base


def product(**members) -> dict:
    base = {"tipo": "ornivex", "link": [{"tipo": "zabbix", "link": "LINK"}]}
    base.update(members)
    return base


def link(**members) -> dict:
    base = {"tipo": "zabbix", "link": "LINK"}
    base.update(members)
    return base


NOT_AN_OBJECT = "não é um objeto"
# (the list or the odd entry, where it fails, failure kind, message); None: skipped, no failure
WRONG_TYPES = {
    "list-is-a-number": (5, "selection", "lista de clientes inválida", "a lista de clientes não é uma lista: 5"),
    "list-is-true": (True, "selection", "lista de clientes inválida", "a lista de clientes não é uma lista: true"),
    "list-is-null": (None, "selection", "lista de clientes inválida", "a lista de clientes não é uma lista: null"),
    "list-is-a-text": ("x", "selection", "lista de clientes inválida", 'a lista de clientes não é uma lista: "x"'),
    "list-is-an-object": ({"a": []}, "selection", "lista de clientes inválida",
                          'a lista de clientes não é uma lista: {"a":[]}'),
    "entry-is-a-text": (["cliente"], "selection", "lista de clientes inválida", 'cliente não é um objeto: "cliente"'),
    "entry-is-an-array": ([[1]], "selection", "lista de clientes inválida", "cliente não é um objeto: [1]"),
    "produto-is-an-object": ([entry(produto={"tipo": "ornivex"})], "selection", "lista de clientes inválida",
                             '"produto" não é uma lista'),
    "produto-is-a-text": ([entry(produto="ornivex")], "selection", "lista de clientes inválida",
                          '"produto" não é uma lista'),
    "product-is-a-number": ([entry(produto=[7])], "selection", "lista de clientes inválida",
                            "produto " + NOT_AN_OBJECT),
    "product-link-is-an-object": ([entry(produto=[product(link={"tipo": "zabbix"})])], "selection",
                                  "lista de clientes inválida", '"link" não é uma lista'),
    "link-is-null": ([entry(produto=[product(link=[None])])], "selection", "lista de clientes inválida",
                     "link " + NOT_AN_OBJECT),
    "product-without-tipo": ([entry(produto=[{"link": []}])], "selection", "lista de clientes inválida",
                             'produto sem o membro "tipo"'),
    "empresa-is-a-number": ([entry(empresa=5)], "worker:5", "item de trabalho inválido",
                            'item de trabalho: "nome" não é texto'),
    "empresa-is-null": ([entry(empresa=None)], "worker:null", "item de trabalho inválido",
                        'item de trabalho: "nome" não é texto'),
    "parceiro-is-an-array": ([entry(parceiro=["P"])], "worker:Alvo", "item de trabalho inválido",
                             'item de trabalho: "parceiro" não é texto'),
    "parceiro-is-false": ([entry(parceiro=False)], "worker:Alvo", "item de trabalho inválido",
                          'item de trabalho: "parceiro" não é texto'),
    "link-link-is-a-number": ([entry(produto=[product(link=[link(link=80)])])], "worker:Alvo",
                              "item de trabalho inválido", 'item de trabalho: "link" não é texto'),
    "link-link-is-null": ([entry(produto=[product(link=[link(link=None)])])], "worker:Alvo",
                          "item de trabalho inválido", 'item de trabalho: "link" não é texto'),
    "numero-is-a-fraction": ([entry(numero=2.5)], "worker-after-requests:Alvo", "número inválido",
                             'não é um numeral inteiro de 64 bits: "2.5"'),
    "numero-is-true": ([entry(numero=True)], "worker-after-requests:Alvo", "número inválido",
                       'não é um numeral inteiro de 64 bits: "true"'),
    "numero-is-an-object": ([entry(numero={"n": 2})], "worker-after-requests:Alvo", "número inválido",
                            'não é um numeral inteiro de 64 bits: "{"n":2}"'),
    "numero-is-text-past-64-bits": ([entry(numero="9223372036854775808")], "worker-after-requests:Alvo",
                                    "número inválido",
                                    'não é um numeral inteiro de 64 bits: "9223372036854775808"'),
    # the registry's text in the report, on one line and with nothing a terminal acts on
    "numero-with-controls-shown-safely": ([entry(empresa="Al\x1b[2Jvo\n", numero="7\r\n7\\")],
                                          "worker-after-requests:Al\\u001b[2Jvo\\u000a", "número inválido",
                                          'não é um numeral inteiro de 64 bits: "7\\u000d\\u000a7\\\\"'),
    "product-tipo-is-a-number": ([entry(produto=[product(tipo=1)])], None, None, None),
    "product-tipo-is-an-object": ([entry(produto=[product(tipo={"tipo": "ornivex"})])], None, None, None),
    "link-tipo-is-an-array": ([entry(produto=[product(link=[link(tipo=["zabbix"])])])], None, None, None),
    "empty-object-list": ({}, None, None, None),
    "empty-text-list": ("", None, None, None),
}


def with_link(document, url: str):
    return json.loads(json.dumps(document).replace('"LINK"', json.dumps(url)))


@pytest.mark.parametrize("case", WRONG_TYPES, ids=list(WRONG_TYPES))
def test_list_members_of_the_wrong_type(coletor, registro, questdb, case):
    document, where, kind, message = WRONG_TYPES[case]
    with FaultPeer(ZabbixFake(lastvalue="8", delay=0.3)) as good, FaultPeer(ZabbixFake()) as target:
        customers = with_link(document, target.url)
        if isinstance(customers, list):  # a well-formed customer beside the odd one
            customers = [customer("Bom", 1, "Q", good.url)] + customers
        peer = registro(registry(None, None, customers=json.dumps(customers)))
        qdb = questdb()
        done = run(coletor, *args())
    assert paths(peer) == [LOGIN, LIST]
    if where is None:
        expect(done, 0, out=["OK"])
        listed = isinstance(customers, list)
        assert len(good.requests) == (3 if listed else 0) and target.requests == []
        assert qdb.statements() == SHOW
        if listed:
            assert len(qdb.writes()) == 1 and rows_match(qdb.writes()[0], [row("Bom", 1, "Q", 1, 8)])
        else:
            assert qdb.writes() == []
        return
    if where == "selection":
        expect(done, 1, err=[unhandled("seleção dos clientes", kind, message)])
        assert good.requests == [] and target.requests == []
    else:
        stage, _, name = where.partition(":")
        expect(done, 1, err=[unhandled(f"processarCliente({name})", kind, message)])
        # The others finish first; the odd item fails before its requests or after all three.
        assert len(good.requests) == 3
        assert len(target.requests) == (3 if stage == "worker-after-requests" else 0)
    assert qdb.untouched()
