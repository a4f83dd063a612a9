"""A stand-in Zabbix front end that answers the JSON-RPC API as a given version would."""
from __future__ import annotations

import json
from dataclasses import dataclass, field

from fakes.peer import Action, Answer, Request, Silence

ITEM_KEY = 'grpsum["CONCENTRADORES","pppoeTotal",last]'
LEGACY = ("5.0", "6.0", "6.2")


def _rpc(result=None, error=None) -> Answer:
    body = {"jsonrpc": "2.0"}
    if error is not None:
        body["error"] = error
    else:
        body["result"] = result
    body["id"] = 1
    return Answer(body=json.dumps(body, separators=(",", ":")))


def _error(code: int, message: str, data: str) -> Answer:
    return _rpc(error={"code": code, "message": message, "data": data})


@dataclass
class ZabbixFake:
    version: str = "6.0"
    user: str = "Admin"
    password: str = "zabbix"
    lastvalue: object = "57"
    items: list | None = None        # the whole "result" of item.get, when set
    login: str = "ok"                # ok, html, silent, slow
    delay: float = 0.0               # before every answer
    logout: str = "ok"               # ok, refuse (status 500)
    tokens: set = field(default_factory=set)
    login_attempts: int = 0
    issued: int = 0                  # tokens handed out so far: each login gets a new one

    def __call__(self, request: Request) -> Action:
        if request.method != "POST" or not (request.header("Content-Type") or "").startswith("application/json"):
            return Answer(status=412, body="", content_type=None)
        try:
            call = json.loads(request.body)
        except ValueError:
            return _error(-32700, "Parse error.", "Invalid JSON. An error occurred on the server while parsing the JSON text.")
        answer = self._answer(call, request)
        if isinstance(answer, Answer) and self.delay:
            answer.delay = self.delay
        return answer

    def _answer(self, call: dict, request: Request) -> Action:
        method = call.get("method")
        if self.version not in LEGACY and self.version >= "7.2" and "auth" in call:
            return _error(-32600, "Invalid request.", 'Invalid parameter "/": unexpected parameter "auth".')
        if method == "user.login":
            return self._login(call.get("params", {}))
        token = self._token(call, request)
        if token not in self.tokens:
            return _error(-32602, "Invalid params.", "Not authorized.")
        if method == "item.get":
            return _rpc(self.items if self.items is not None else [{"itemid": "44518", "name": "PPPoE total",
                                                                    "lastvalue": self.lastvalue}])
        if method == "user.logout":
            self.tokens.discard(token)
            return _rpc(True) if self.logout == "ok" else Answer(status=500, body="erro interno", content_type="text/plain")
        return _error(-32601, "Method not found.", "Incorrect API \"%s\"." % method)

    def _login(self, params: dict) -> Action:
        self.login_attempts += 1
        if self.login == "html":
            return Answer(body="<html><body>Zabbix</body></html>", content_type="text/html")
        if self.login == "silent":
            return Silence(30)
        if "user" in params and self.version not in LEGACY:
            return _error(-32602, "Invalid params.", 'Invalid parameter "/": unexpected parameter "user".')
        if "username" in params and self.version == "5.0":
            return _error(-32602, "Invalid params.", 'Invalid parameter "/": unexpected parameter "username".')
        name = params.get("user", params.get("username"))
        if (name, params.get("password")) != (self.user, self.password) or self.login == "refuse":
            return _error(-32500, "Application error.", "Incorrect user name or password or account is temporarily blocked.")
        self.issued += 1
        token = "%032x" % (self.issued + 0xabc0)
        self.tokens.add(token)
        return _rpc(token)

    def _token(self, call: dict, request: Request):
        bearer = request.header("Authorization") or ""
        if bearer.startswith("Bearer ") and self.version not in LEGACY:
            return bearer[len("Bearer "):]
        return call.get("auth")
