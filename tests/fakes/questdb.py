"""A stand-in QuestDB: /exec over plain HTTP and /write over TLS, both recorded."""
from __future__ import annotations

import json
import os
from dataclasses import dataclass, field

from fakes.peer import Action, Answer, Peer, Request

HOST = os.environ.get("COLETOR_TEST_QUESTDB_HOST", "127.0.0.2")
WRITE_PORT = 19444
COLUMNS_CURRENT = {"query": "SHOW COLUMNS FROM pppoeClientes", "columns": [], "dataset": [], "count": 7}
TABLE_MISSING = {"query": "SHOW COLUMNS FROM pppoeClientes", "error": "table does not exist [table=pppoeClientes]",
                 "position": 18}


@dataclass
class QuestDbFake:
    columns: object = field(default_factory=lambda: COLUMNS_CURRENT)
    write: Action = field(default_factory=lambda: Answer(status=204, body="", content_type=None))

    def exec(self, request: Request) -> Action:
        statement = dict(request.query).get("query", "")
        if statement.startswith("SHOW COLUMNS"):
            status = 400 if "error" in self.columns else 200
            return Answer(status=status, body=json.dumps(self.columns))
        return Answer(body='{"ddl":"OK"}')

    def writer(self, request: Request) -> Action:
        return self.write


class QuestDbPeers:
    """Starts the /exec peer on HOST:80 and the /write peer on HOST:WRITE_PORT."""

    def __init__(self, fake: QuestDbFake, pki):
        self.fake = fake
        self.sql = Peer(fake.exec, host=HOST, port=80)
        self.ingest = Peer(fake.writer, host=HOST, port=WRITE_PORT, cert=str(pki / "server.pem"), key=str(pki / "server.key"))

    def __enter__(self):
        self.sql.__enter__()
        self.ingest.__enter__()
        return self

    def __exit__(self, *exc):
        self.sql.stop()
        self.ingest.stop()

    def statements(self) -> list[str]:
        return [dict(r.query)["query"] for r in self.sql.requests]

    def lines(self) -> list[str]:
        return [line for r in self.ingest.requests for line in r.body.decode().splitlines()]
