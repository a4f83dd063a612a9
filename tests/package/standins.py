"""The registry (HTTPS, on the port compiled into the package under test) and two Zabbix
front ends for the package test; prints "ready" once they listen, runs until SIGTERM. The
secrets come in the environment, which other users cannot read, never on the command line.

usage: COLETOR_STANDIN_PASSWORD=… COLETOR_STANDIN_ACCOUNT=login:senha standins.py PKI_DIR REGISTRY_PORT PARTNER
"""
import os
import signal
import sys
import threading
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))

from fakes.peer import Peer  # noqa: E402
from fakes.registry import RegistryFake, customer  # noqa: E402
from fakes.zabbix import ZabbixFake  # noqa: E402


def main() -> None:
    pki, port, partner = Path(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
    password, account = os.environ["COLETOR_STANDIN_PASSWORD"], os.environ["COLETOR_STANDIN_ACCOUNT"].split(":", 1)
    answers = Peer(ZabbixFake(password=password, lastvalue="1843")).__enter__()
    refuses = Peer(ZabbixFake(login="refuse")).__enter__()
    registry = Peer(RegistryFake(customers=[customer("Pacote Responde", 901, partner, answers.url),
                                            customer("Pacote Recusa", 902, partner, refuses.url)],
                                 account=tuple(account)),
                    host="127.0.0.1", port=port, cert=str(pki / "server.pem"), key=str(pki / "server.key")).__enter__()
    print("ready", flush=True)
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    stop.wait()
    for peer in (registry, answers, refuses):
        peer.stop()


if __name__ == "__main__":
    main()
