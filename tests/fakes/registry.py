"""A stand-in for the customer registry: /login hands out a token, /acessos the customer list."""
from __future__ import annotations

import json
from dataclasses import dataclass, field

from fakes.peer import Action, Answer, Request

TOKEN = "tok-7d1f"


def customer(name: str, number, partner: str, *links: str, product: str = "ornivex") -> dict:
    return {"empresa": name, "numero": number, "parceiro": partner,
            "produto": [{"tipo": product, "link": [{"tipo": "zabbix", "link": link} for link in links]}]}


@dataclass
class RegistryFake:
    customers: object = field(default_factory=list)   # the /acessos document (any JSON value)
    token: object = TOKEN
    login_answer: Action | None = None                 # replaces the normal login answer
    list_answer: Action | None = None                  # replaces the normal list answer
    account: tuple | None = None                       # (login, senha) the login must carry

    def __call__(self, request: Request) -> Action:
        if request.path.endswith("/login"):
            if self.account and json.loads(request.body) != dict(zip(("login", "senha"), self.account)):
                return Answer(status=401, body='{"erro": "conta inválida"}')
            return self.login_answer or Answer(body=json.dumps({"token": self.token, "nome": "coletor"}))
        if request.path.endswith("/acessos"):
            if self.list_answer:
                return self.list_answer
            if request.header("Authorization") != "Bearer " + str(self.token):
                return Answer(status=401, body='{"erro": "token inválido"}')
            return Answer(body=json.dumps(self.customers))
        return Answer(status=404, body="{}")
