"""Whole normal-mode runs over generated worlds (Hypothesis): a registry document, each
customer's front end, the ingestion endpoint. A model of what the program is meant to do
gives every run's expected outcome; the invariants hold on every run:

- every customer whose front end answered normally has exactly its row, with its value;
- the rows stored are exactly the selected records less those named by an "Aviso: " line;
- "OK" is printed exactly when the status is 0 and the rows were accepted;
- stderr holds "Aviso: " and "Erro: " lines and, for a run that fails by design (an entry
  without "parceiro", a number that is not one, an answer no worker can read), its one report;
- no run outlasts its bounds.

The CI run is derandomized: the same examples every time, COLETOR_PROPERTY_EXAMPLES of them
(600 by default, 100 under a sanitizer). COLETOR_PROPERTY_LONG=1 draws new examples (many more,
with the silences of 30 s and the ingestion retried for 10 s too); a failure it finds is printed
with the seed that repeats it (COLETOR_PROPERTY_SEED) and, once understood, kept below as an @example.
"""
from __future__ import annotations

import json
import math
import os
import random
import re
import threading
from collections import Counter
from dataclasses import dataclass, field

import pytest
from hypothesis import HealthCheck, event, example, given, note, seed, settings, strategies as st

from blackbox.conftest import REGISTRY_HOST, REGISTRY_PORT
from faults.conftest import ACCEPTED, SLOW, args, run, sql_answers
from faults.stand_ins import FaultPeer, Reset
from fakes.peer import Answer, Raw, Silence
from fakes.questdb import HOST as QDB_HOST, WRITE_PORT

LONG = os.environ.get("COLETOR_PROPERTY_LONG") == "1"
# Under a sanitizer (tests/hardening.sh runs the suite twice more) a sixth of them: the same paths, slower.
settings.register_profile("ci", derandomize=True, database=None, deadline=None, print_blob=True,
                          max_examples=int(os.environ.get("COLETOR_PROPERTY_EXAMPLES", "100" if SLOW else "600")),
                          suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
settings.register_profile("long", deadline=None, print_blob=True, database=None,
                          max_examples=int(os.environ.get("COLETOR_PROPERTY_EXAMPLES", "2000")),
                          suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
PROFILE = settings.get_profile("long" if LONG else "ci")
SEED = int(os.environ.get("COLETOR_PROPERTY_SEED") or random.randrange(2 ** 32))  # for the long run

MISSING = object()  # a member left out
INT64 = (-2 ** 63, 2 ** 63 - 1)
MAGIC_USER = 'Invalid parameter "/": unexpected parameter "user".'
REFUSED_LOGIN = "Incorrect user name or password or account is temporarily blocked."


# ---- what the program is meant to do --------------------------------------------------------

class Fails(Exception):
    """The run fails by design: (step, kind, message pattern) of its report."""

    def __init__(self, step: str, kind: str, message: str | re.Pattern):
        super().__init__(step, kind, message)
        self.step, self.kind, self.message = step, kind, message

    def line(self) -> re.Pattern:
        text = self.message.pattern if isinstance(self.message, re.Pattern) else re.escape(printable(self.message))
        return re.compile(re.escape(f"coletor-pppoe: falha não tratada em {self.step}: {self.kind}: ") + text,
                          re.DOTALL)


def printable(text: str) -> str:
    """Text as the program shows it in a log line."""
    out = []
    for ch in text:
        cp = ord(ch)
        if (cp < 0x20 or 0x7F <= cp <= 0x9F or cp in (0x61C, 0x200E, 0x200F) or 0x2028 <= cp <= 0x202E
                or 0x2066 <= cp <= 0x2069):
            out.append(f"\\u{cp:04x}")
        else:
            out.append("\\\\" if ch == "\\" else ch)
    return "".join(out)


def compact(value) -> str:
    return json.dumps(value, separators=(",", ":"), ensure_ascii=True)


def numeral(text: str) -> int:
    """The integer a numeral reads as (sign, digits, ASCII blanks around), or Fails."""
    core = text.strip(" \t\n\v\f\r")
    if core.startswith("+"):
        core = core[1:]
        if core.startswith("-"):
            core = ""
    if re.fullmatch(r"-?[0-9]+", core) and INT64[0] <= int(core) <= INT64[1]:
        return int(core)
    raise Fails("?", "número inválido", f'não é um numeral inteiro de 64 bits: "{text}"')


def number_text(numero) -> str | None:
    """The registry's "numero" as the work item's text; None for a float, whose text we do not model."""
    if isinstance(numero, str):
        return numero
    if isinstance(numero, bool) or numero is None or isinstance(numero, (list, dict)):
        return compact(numero)
    if isinstance(numero, int) and -2 ** 63 <= numero <= 2 ** 64 - 1:
        return str(numero)
    return None  # a float, or an integer the parser turns into one


def empty_or_false(value) -> bool:
    return value is MISSING or value in (None, False, "", [], {}) or (type(value) in (int, float) and value == 0)


def pppoe_of(lastvalue):
    """The count a "lastvalue" gives: an integer, None (no value), or Fails."""
    if empty_or_false(lastvalue):
        return None
    if isinstance(lastvalue, str):
        return numeral(lastvalue)
    if isinstance(lastvalue, int) and not isinstance(lastvalue, bool):
        if INT64[0] <= lastvalue <= INT64[1]:
            return lastvalue
        if 0 < lastvalue <= 2 ** 64 - 1:
            raise Fails("?", "número inválido", f"lastvalue não é um inteiro: {lastvalue}")
        lastvalue = float(lastvalue)  # what the parser holds for it
    if isinstance(lastvalue, float):
        if -2.0 ** 63 < math.trunc(lastvalue) < 2.0 ** 63:
            return int(math.trunc(lastvalue))
        raise Fails("?", "número inválido", re.compile(r"lastvalue fora do intervalo de 64 bits: .*"))
    raise Fails("?", "número inválido", "lastvalue não é um inteiro: " + compact(lastvalue))


@dataclass
class FrontEnd:
    # (kind, token): ok, delay, status500, new, new-refused, refused, null, html, not-object, reset, silent
    login: tuple
    item: tuple       # (kind, payload): value, empty, error, html, reset, not-object, bad-result, silent
    logout: tuple     # (kind, payload): ok, unconfirmed, status, not-json, not-object, reset, silent
    delay: float = 0.0

    def answer(self, call: dict) -> object:
        method, params = call.get("method"), call.get("params")
        if method == "user.login":
            return self._login(isinstance(params, dict) and "username" in params)
        if method == "item.get":
            return self._item()
        return self._logout()

    def _login(self, newer: bool):
        kind, token = self.login
        if kind in ("new", "new-refused") and not newer:
            return rpc_error(-32602, MAGIC_USER)
        if kind == "new-refused" or kind == "refused":
            return rpc_error(-32500, REFUSED_LOGIN)
        return {"ok": rpc(token), "new": rpc(token), "delay": rpc(token, delay=self.delay),
                "status500": Answer(status=500, body=json.dumps({"jsonrpc": "2.0", "result": token, "id": 1})),
                "null": rpc(None), "html": HTML, "not-object": Answer(body="[1]"), "reset": Reset(),
                "silent": Silence(8)}[kind]

    def _item(self):
        kind, payload = self.item
        if kind == "value":
            lastvalue, more = payload
            first = {"itemid": "1", "name": "PPPoE"} | ({} if lastvalue is MISSING else {"lastvalue": lastvalue})
            return rpc([first] + more, delay=self.delay)
        return {"empty": lambda: rpc(payload), "error": lambda: rpc_error(-32602, "Not authorized."),
                "html": lambda: HTML, "reset": Reset, "not-object": lambda: Answer(body="[true]"),
                "bad-result": lambda: rpc(payload), "silent": lambda: Silence(40)}[kind]()

    def _logout(self):
        kind, payload = self.logout
        if kind == "unconfirmed":
            return Answer(body=logout_body(payload))
        if kind == "status":
            status, body = payload
            return Answer(status=status, body=body, content_type="text/plain")
        return {"ok": lambda: rpc(True), "not-json": lambda: HTML, "not-object": lambda: Answer(body="[true]"),
                "reset": Reset, "silent": lambda: Silence(40)}[kind]()

    def token(self) -> bool:
        return self.login[0] in ("ok", "delay", "status500", "new")

    def unsendable(self) -> bool:
        """A bearer token that no header can carry: the calls after the login fail unsent."""
        kind, token = self.login
        return kind == "new" and isinstance(token, str) and any(c in token for c in "\r\n\0")

    def methods(self) -> Counter:
        """The calls one customer's worker makes on this front end."""
        calls = Counter({"user.login": 2 if self.login[0] in ("new", "new-refused") else 1})
        if self.token() and not self.unsendable():
            calls["item.get"] += 1
            if not self.item_fails():
                calls["user.logout"] += 1
        return calls

    def item_fails(self) -> bool:
        try:
            self.pppoe()
        except Fails:
            return True
        return False

    def pppoe(self):
        kind, payload = self.item
        if kind == "value":
            return pppoe_of(payload[0])
        if kind == "not-object":
            raise Fails("?", "resposta inesperada do Zabbix", "item.get: a resposta não é um objeto JSON")
        if kind == "bad-result":
            raise Fails("?", "resposta inesperada do Zabbix", 'item.get: "result" não é uma lista de itens')
        return None

    def cost(self) -> float:
        """Seconds of waiting this front end may cost its worker."""
        waits = {"silent": 5.0, "delay": self.delay}
        total = waits.get(self.login[0], 0.0)
        if self.token():
            total += 30.0 if self.item[0] == "silent" else self.delay
            total += 30.0 if self.logout[0] == "silent" else 0.0
        return total


def rpc(result, delay: float = 0.0) -> Answer:
    return Answer(body=json.dumps({"jsonrpc": "2.0", "result": result, "id": 1}), delay=delay)


def rpc_error(code: int, data: str) -> Answer:
    return Answer(body=json.dumps({"jsonrpc": "2.0", "error": {"code": code, "message": "x", "data": data}, "id": 1}))


def logout_body(result) -> str:
    return json.dumps({"jsonrpc": "2.0", "id": 1} | ({} if result is MISSING else {"result": result}))


HTML = Answer(body="<html><body>Zabbix</body></html>", content_type="text/html")


@dataclass(frozen=True)
class Link:
    """A "link" value that points at front end `front` (or nowhere) in one of several spellings."""
    kind: str
    front: int


ROUTED = {"http", "https", "bare", "slash", "localhost"}


@dataclass
class Record:
    nome: str
    numero: int
    parceiro: str
    status: int
    pppoe: int | None

    def unfit(self) -> str | None:
        """Why the table cannot hold it, as the "Aviso: " line says it."""
        for value, what in ((self.nome, "o nome"), (self.parceiro, "o parceiro")):
            if "\0" in value:
                return f"{what} contém o caractere NUL"
        if not -2147483647 <= self.numero <= 2147483647:
            return "o número está fora de -2147483647 a 2147483647 (coluna INT)"
        if self.pppoe == -2 ** 63:
            return "o PPPoE -9223372036854775808 é o nulo da coluna LONG"
        return None

    def warning(self) -> str:
        return f"Aviso: o cliente {printable(self.nome)} (número {self.numero}) não foi gravado: {self.unfit()}"

    def row(self) -> tuple:
        return (self.nome, self.parceiro, self.numero, self.status, self.pppoe)


@dataclass
class Outcome:
    """What one run must do."""
    records: list[Record] = field(default_factory=list)
    logout_lines: list[str] = field(default_factory=list)
    failures: list[Fails] = field(default_factory=list)  # any one of them is reported
    calls: dict[int, Counter] = field(default_factory=dict)  # front end -> the calls it gets
    cost: float = 0.0


class World:
    """One generated run: the registry's document, the front ends, the ingestion's answers."""

    def __init__(self, document, fronts: list[FrontEnd], writes: list):
        self.document, self.fronts, self.writes = document, fronts, writes

    def __repr__(self) -> str:
        return f"World(document={self.document!r}, fronts={self.fronts!r}, writes={self.writes!r})"

    def url(self, link, ports: dict, example: int) -> str:
        path = f"/g{example}/c{link.front}"
        return {"http": f"http://127.0.0.1:{ports['http']}{path}", "https": f"https://127.0.0.1:{ports['https']}{path}",
                "bare": f"127.0.0.1:{ports['https']}{path}", "slash": f"http://127.0.0.1:{ports['http']}{path}/",
                "localhost": f"http://localhost:{ports['http']}{path}", "refused": f"http://127.0.0.1:9{path}",
                "scheme": f"httpx://127.0.0.1:{ports['http']}{path}", "blank": f"http://127.0.0.1:9/a b{path}",
                "bracket": "http://[::1" + path}[link.kind]

    def rendered(self, ports: dict, example: int):
        def walk(value):
            if isinstance(value, Link):
                return self.url(value, ports, example)
            if isinstance(value, list):
                return [walk(v) for v in value]
            if isinstance(value, dict):
                return {k: walk(v) for k, v in value.items() if v is not MISSING}
            return value
        return walk(self.document)

    def outcome(self, ports: dict, example: int) -> Outcome:
        outcome = Outcome()
        for link, nome, numero, parceiro in select(self.document):
            self._work(outcome, self.url(link, ports, example) if isinstance(link, Link) else link, link,
                       nome, numero, parceiro)
        return outcome

    def _work(self, outcome: Outcome, url, link, nome, numero, parceiro) -> None:
        shown = printable(nome if isinstance(nome, str) else compact(nome))
        step = f"processarCliente({shown})"
        for value, member in ((parceiro, "parceiro"), (nome, "nome"), (url, "link")):
            if not isinstance(value, str):
                outcome.failures.append(Fails(step, "item de trabalho inválido",
                                              f'item de trabalho: "{member}" não é texto'))
                return
        full = url + "/api_jsonrpc.php"
        full = full if full.startswith("http") else "https://" + full
        status, pppoe = 0, 0
        front = self.fronts[link.front] if isinstance(link, Link) and link.kind in ROUTED else None
        if front is not None:
            outcome.calls[link.front] = outcome.calls.get(link.front, Counter()) + front.methods()
            outcome.cost += front.cost()
            try:
                status, pppoe = self._exchange(front, full, outcome)
            except Fails as fails:
                outcome.failures.append(Fails(step, fails.kind, fails.message))
                return
        text = number_text(numero)
        if text is None:
            outcome.failures.append(Fails(step, "número inválido",
                                          re.compile(r'não é um numeral inteiro de 64 bits: ".*"')))
            return
        try:
            outcome.records.append(Record(nome, numeral(text), parceiro, status, pppoe))
        except Fails as fails:
            outcome.failures.append(Fails(step, fails.kind, fails.message))

    @staticmethod
    def _exchange(front: FrontEnd, url: str, outcome: Outcome) -> tuple:
        if not front.token() or front.unsendable():
            return 0, 0
        pppoe = front.pppoe()
        kind, payload = front.logout
        if kind == "not-object":
            raise Fails("?", "resposta inesperada do Zabbix", "user.logout: a resposta não é um objeto JSON")
        if kind in ("not-json", "reset", "silent"):
            return 0, 0
        if kind == "unconfirmed":
            outcome.logout_lines.append(f"Não foi possível fazer logout em {url}: {logout_body(payload)}")
        elif kind == "status":
            outcome.logout_lines.append(f"Não foi possível fazer logout em {url}: {payload[1]}")
        return 1, pppoe


def invalid(message) -> Fails:
    return Fails("seleção dos clientes", "lista de clientes inválida", message)


def select(document) -> list[tuple]:
    """The work items (link, name, number, partner) in order, or Fails as the selection does."""
    if document == "" or document == {}:
        return []
    if not isinstance(document, list):
        raise invalid(re.compile(re.escape("a lista de clientes não é uma lista: ") + ".*"))
    items = []
    for entry in document:
        if not isinstance(entry, dict):
            raise invalid(re.compile(re.escape("cliente não é um objeto: ") + ".*"))
        for member in ("empresa", "numero", "parceiro"):
            if entry.get(member, MISSING) is MISSING:
                raise invalid(f'cliente sem o membro "{member}"')
        products = entry.get("produto", MISSING)
        if products is MISSING:
            continue
        if not isinstance(products, list):
            raise invalid('"produto" não é uma lista')
        for product in products:
            items += select_links(product, entry)
    return items


def select_links(product, entry) -> list[tuple]:
    if not isinstance(product, dict):
        raise invalid("produto não é um objeto")
    if product.get("tipo", MISSING) is MISSING:
        raise invalid('produto sem o membro "tipo"')
    links = product.get("link", MISSING)
    if product["tipo"] != "ornivex" or links is MISSING:
        return []
    if not isinstance(links, list):
        raise invalid('"link" não é uma lista')
    items = []
    for link in links:
        if not isinstance(link, dict):
            raise invalid("link não é um objeto")
        address = link.get("link", MISSING)
        if link.get("tipo", MISSING) != "zabbix" or address is MISSING or address == "" or entry["empresa"] == "":
            continue
        items.append((address, entry["empresa"], entry["numero"], entry["parceiro"]))
    return items


# ---- what to generate -----------------------------------------------------------------------

def mostly(usual, *odd: tuple, out_of: int = 100):
    """`usual` with weight `out_of` against each (weight, strategy) of `odd`: one run in a few
    meets an oddity, so that most runs still get as far as storing."""
    # Usual at both ends: Hypothesis favours the first and the last choice.
    half = [usual] * (out_of // 2)
    choices = half + [strategy for weight, strategy in odd for _ in range(weight)] + half
    return st.sampled_from(range(len(choices))).flatmap(lambda i: choices[i])


ODD_CHARS = "ç\x01\x07\t\n\r\x1b\0\x7f\x85\x9b\u00a0\u2028\u202e\ufeff\\ ,=\"'😀a"
CHAR = st.one_of(st.sampled_from(ODD_CHARS), st.text(min_size=1, max_size=1))
TEXT = st.one_of(st.text(CHAR, min_size=1, max_size=10), st.sampled_from(["Alfa Net", " ", "\0", "a\\b", "Ação"]))
ODD = st.sampled_from([None, 5, True, False, [1], {"a": 1}])
NAME = mostly(TEXT, (30, st.just("")), (3, ODD), out_of=1000)
PARTNER = mostly(TEXT, (30, st.just("")), (3, ODD), out_of=1000)
INT_EDGES = [1, 2147483647, -2147483647, 2147483648, -2147483648, 99999999999, INT64[0], INT64[1], 0]
NUMBER = mostly(
    st.one_of(st.integers(0, 100000), st.integers(-2147483647, 2147483647), st.integers(0, 100000).map(str)),
    (50, st.sampled_from(INT_EDGES)), (30, st.integers(*INT64)), (20, st.sampled_from(INT_EDGES).map(str)),
    (20, st.integers(0, 99).map(lambda n: f" +{n} ")), (2, st.integers(2 ** 63, 2 ** 70)),
    (2, st.integers(-2 ** 70, -2 ** 63 - 1)),
    (3, st.sampled_from(["", "abc", "7a", "0x10", "+-1", "١٢", " ", "2.0"])),
    (2, st.floats(-1e20, 1e20)), (2, ODD), out_of=1000)
LASTVALUE = mostly(
    st.one_of(st.integers(0, 10 ** 6).map(str), st.sampled_from(["0", "57", " 42 ", "+7", "-3", "007", "-0"])),
    (8, st.sampled_from(["", None, MISSING, False, [], {}, 0, 0.0])), (6, st.integers(*INT64).map(str)),
    (6, st.integers(*INT64)), (4, st.floats(-1e18, 1e18)), (3, st.just("-9223372036854775808")),
    (3, st.just(INT64[0])), (1, st.sampled_from(["12.5", "abc", "+-1", "  ", "9223372036854775808", "1e3", "1\n2",
                                                  True, [1], {"v": 1}, 1e30, 2 ** 63, 2 ** 65])),
    (1, st.floats(allow_nan=False, allow_infinity=False)), out_of=200)
TOKEN = mostly(st.just("f3c1a2"), (10, st.text(st.sampled_from("ab1\n\" "), max_size=4)),
               (5, st.sampled_from([5, {"t": 1}, True])))


@st.composite
def front_ends(draw) -> FrontEnd:
    login = draw(mostly(st.just("ok"), (200, st.just("new")), (100, st.just("delay")), (40, st.just("status500")),
                        *((30, st.just(kind)) for kind in ("new-refused", "refused", "null", "html", "not-object",
                                                           "reset")),
                        (100 if LONG else 2, st.just("silent")), out_of=1000))
    item = draw(mostly(st.just("value"), *((3, st.just(kind)) for kind in ("empty", "error", "html", "reset")),
                       (1, st.just("not-object")), (1, st.just("bad-result")), (3 if LONG else 0, st.just("silent")),
                       out_of=200))
    payload = {"value": lambda: (draw(LASTVALUE), draw(st.lists(st.just({"lastvalue": "9"}), max_size=1))),
               "empty": lambda: draw(st.sampled_from([[], None, False, 0, "", {}])),
               "bad-result": lambda: draw(st.sampled_from(["x", 5, True, {"a": 1}, [5], ["x"]]))
               }.get(item, lambda: None)()
    logout = draw(mostly(st.just("ok"), (5, st.just("unconfirmed")), (5, st.just("status")), (3, st.just("not-json")),
                         (3, st.just("reset")), (1, st.just("not-object")), (3 if LONG else 0, st.just("silent")),
                         out_of=200))
    logout_payload = None
    if logout == "unconfirmed":
        logout_payload = draw(st.sampled_from([1, "true", False, None, {}, MISSING]))
    elif logout == "status":
        logout_payload = (draw(st.sampled_from([401, 404, 500])), draw(st.sampled_from(["", "erro interno", "{}"])))
    return FrontEnd((login, draw(TOKEN)), (item, payload), (logout, logout_payload),
                    delay=draw(mostly(st.just(0.0), (20, st.just(0.05)), (5, st.just(0.3)))))


ROUTED_KINDS = st.sampled_from(["http", "http", "https", "bare", "slash", "localhost"])
UNROUTED_KINDS = st.sampled_from(["refused", "scheme", "blank", "bracket"])


@st.composite
def worlds(draw) -> World:
    fronts = draw(st.lists(front_ends(), min_size=1, max_size=6))
    front = st.integers(0, len(fronts) - 1)
    address = mostly(st.builds(Link, ROUTED_KINDS, front), (10, st.builds(Link, UNROUTED_KINDS, front)),
                     (20, st.just("")), (3, st.sampled_from([80, None])), out_of=1000)
    link = st.fixed_dictionaries({"tipo": mostly(st.just("zabbix"), (4, st.sampled_from(["Zabbix", "zabbix ", 1])),
                                                 (2, st.just(MISSING))),
                                  "link": mostly(address, (2, st.just(MISSING)))})
    links = mostly(st.lists(link, min_size=1, max_size=2), (30, st.just([])), (30, st.just(MISSING)),
                   (2, st.just({"tipo": "zabbix"})), (2, st.just(["x"])), out_of=1000)
    product = st.fixed_dictionaries({"tipo": mostly(st.just("ornivex"), (6, st.sampled_from(["Ornivex", "ornivex ",
                                                                                             "outro", 7])),
                                                    (1, st.just(MISSING)), out_of=500),
                                     "link": links})
    entry = st.fixed_dictionaries({
        "empresa": mostly(NAME, (1, st.just(MISSING)), out_of=1000),
        "numero": mostly(NUMBER, (1, st.just(MISSING)), out_of=1000),
        "parceiro": mostly(PARTNER, (1, st.just(MISSING)), out_of=1000),
        "produto": mostly(st.lists(product, min_size=1, max_size=2), (40, st.just(MISSING)), (20, st.just([])),
                          (2, st.sampled_from(["ornivex", [3]])), out_of=1000)})
    entries = draw(st.lists(entry, min_size=1, max_size=7))
    entries += draw(mostly(st.just([]), (30, st.lists(st.sampled_from(entries), min_size=1, max_size=2))))
    document = draw(mostly(st.just(entries), (1, st.sampled_from([{}, "", 5, ["cliente"], []])), out_of=200))
    blips = st.lists(st.sampled_from(["503", "500", "599", "reset", "closed"]), min_size=1, max_size=4)
    writes = draw(mostly(st.just(["accept"]), (30, blips.map(lambda b: b + ["accept"])), (8, st.just(["400"])),
                         (4, blips.map(lambda b: b + ["400"])), (3 if LONG else 0, st.just(["503"] * 10000))))
    return World(document, fronts, writes)


# ---- the stand-ins, alive for the whole module ------------------------------------------------

WRITE_ANSWERS = {"accept": ACCEPTED, "503": Answer(status=503, body="busy"), "500": Answer(status=500, body=""),
                 "599": Answer(status=599, body=""), "reset": Reset(), "closed": Raw(b""),
                 "400": Answer(status=400, body=json.dumps({"code": "invalid", "message": "no", "line": 1}))}
REFUSED_LINE = "Erro: o QuestDB recusou as linhas (HTTP 400): no [linha 1]"
BUSY_LINE = "Erro: o QuestDB recusou as linhas (HTTP 503): busy"


class StandIns:
    def __init__(self, pki):
        tls = {"cert": str(pki / "server.pem"), "key": str(pki / "server.key")}
        self.example, self.world, self.body = 0, None, "[]"
        self.lock = threading.Lock()
        self.writes: list = []
        self.registry = FaultPeer(self._registry, host=REGISTRY_HOST, port=REGISTRY_PORT, **tls)
        self.http = FaultPeer(self._front)
        self.https = FaultPeer(self._front, **tls)
        self.sql = FaultPeer(sql_answers(), host=QDB_HOST, port=80)
        self.ingest = FaultPeer(self._write, host=QDB_HOST, port=WRITE_PORT, **tls)
        self.peers = [self.registry, self.http, self.https, self.sql, self.ingest]
        self.ports = {"http": self.http.port, "https": self.https.port}

    def __enter__(self):
        for peer in self.peers:
            peer.__enter__()
        return self

    def stop(self):
        for peer in self.peers:
            peer.stop()

    def load(self, world: World) -> None:
        self.example += 1
        self.world = world
        self.body = json.dumps(world.rendered(self.ports, self.example))
        self.writes = list(world.writes)
        for peer in self.peers:
            with peer._lock:
                peer.requests.clear()

    def _registry(self, request):
        if request.path == "/api/login":
            return Answer(body='{"token": "tok-7d1f"}')
        return Answer(body=self.body)

    def _front(self, request):
        found = re.search(r"/g(\d+)/c(\d+)", request.target)
        if not found or int(found[1]) != self.example:
            return Answer(status=404, body="")
        return self.world.fronts[int(found[2])].answer(json.loads(request.body))

    def _write(self, _request):
        with self.lock:
            return WRITE_ANSWERS[self.writes.pop(0) if self.writes else "accept"]

    def calls(self) -> dict[int, Counter]:
        seen: dict[int, Counter] = {}
        for request in self.http.requests + self.https.requests:
            front = int(re.search(r"/c(\d+)", request.target)[1])
            seen.setdefault(front, Counter())[json.loads(request.body)["method"]] += 1
        return seen


@pytest.fixture(scope="module")
def stand_ins(pki):
    peers = StandIns(pki).__enter__()
    yield peers
    peers.stop()


def rows_of(body: bytes) -> list[tuple]:
    """The rows of a /write body: symbols unescaped, integers read, the null count left out."""
    rows, fields, token, i = [], [], bytearray(), 0
    while i < len(body):
        byte = body[i:i + 1]
        if byte == b"\\":
            token += body[i + 1:i + 2]
            i += 2
            continue
        if byte in (b",", b" ", b"\n"):
            fields.append(bytes(token))
            token = bytearray()
            if byte == b"\n":
                rows.append(fields)
                fields = []
        else:
            token += byte
        i += 1
    out = []
    for fields in rows:
        values = dict(f.split(b"=", 1) for f in fields[1:-1])
        pppoe = values.get(b"pppoe")
        out.append((values[b"nome"].decode(), values[b"parceiro"].decode(), int(values[b"numero"][:-1]),
                    int(values[b"status"][:-1]), None if pppoe is None else int(pppoe[:-1])))
    return out


# ---- the property ---------------------------------------------------------------------------------

def one_customer(lastvalue="57", nome="Alfa", numero=7, parceiro="P", writes=("accept",)) -> World:
    entry = {"empresa": nome, "numero": numero, "parceiro": parceiro,
             "produto": [{"tipo": "ornivex", "link": [{"tipo": "zabbix", "link": Link("http", 0)}]}]}
    return World([entry], [FrontEnd(("ok", "t"), ("value", (lastvalue, [])), ("ok", None))], list(writes))


@PROFILE
@seed(SEED)
@given(world=worlds())
@example(world=one_customer(lastvalue="1\n\x1b[2J2"))  # the peer's words in the report of a failed run
@example(world=one_customer(numero="7\r\n7"))
def test_every_run_keeps_the_healthy_rows_and_reports_the_rest(coletor, stand_ins, world):
    if LONG:
        note(f"COLETOR_PROPERTY_SEED={SEED} repeats this run")
    stand_ins.load(world)
    try:
        outcome, failure = world.outcome(stand_ins.ports, stand_ins.example), None
    except Fails as fails:
        outcome, failure = Outcome(), fails
    fit = [r for r in outcome.records if r.unfit() is None]
    writes_rows = bool(fit) and not outcome.failures and failure is None
    busy = len(world.writes) > 100  # refused for longer than the retries last
    bound = (3.0 + outcome.cost + (12.0 if busy else 0.2 * len(world.writes))) * (3 if SLOW else 1)
    done = run(coletor, *args(), timeout=bound + 60)
    out, err = done.out[:-1], done.err[:-1]

    assert done.took < bound, (done.took, bound)
    assert all(l.startswith(("Aviso: ", "Erro: ", "coletor-pppoe: falha não tratada em ")) for l in err), err
    assert stand_ins.calls() == outcome.calls  # every worker ran, and asked what it should
    if failure or outcome.failures:  # fails by design: one report, nothing stored
        event(f"fails by design: {(failure or outcome.failures[0]).kind}: {(failure or outcome.failures[0]).message}")
        candidates = [failure.line()] if failure else [f.line() for f in outcome.failures]
        assert done.status == 1 and len(err) == 1 and any(c.fullmatch(err[0]) for c in candidates), (err, candidates)
        assert Counter(out) == Counter(outcome.logout_lines) and "OK" not in out
        assert stand_ins.sql.requests == [] and stand_ins.ingest.requests == []
        return
    accepted = not writes_rows or world.writes[-1] == "accept"
    event(f"{len(fit)} rows, {len(outcome.records) - len(fit)} left out, "
          f"{'stored' if accepted and writes_rows else 'nothing to send' if accepted else 'refused'}")
    refusal = [] if accepted else [BUSY_LINE if busy else REFUSED_LINE]
    expected_err = [r.warning() for r in outcome.records if r.unfit() is not None] + refusal
    assert Counter(err) == Counter(expected_err), (err, expected_err)
    assert (done.status == 0) == accepted and (out[-1:] == ["OK"]) == accepted, (done.status, out)
    assert Counter(out[:-1] if accepted else out) == Counter(outcome.logout_lines), out
    bodies = [r.body for r in stand_ins.ingest.requests]
    assert len(bodies) == (0 if not writes_rows else len(bodies) if busy else len(world.writes)), bodies
    for body in bodies:  # every attempt carries the whole batch
        assert Counter(rows_of(body)) == Counter(r.row() for r in fit)
