"""The registry (HTTPS, on the port compiled into the package under test) and two Zabbix
front ends for the package test; prints "ready" once they listen, runs until SIGTERM.

usage: standins.py PKI_DIR REGISTRY_PORT PARTNER ZABBIX_PASSWORD
"""
import signal
import sys
import threading
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))

from fakes.peer import Peer  # noqa: E402
from fakes.registry import RegistryFake, customer  # noqa: E402
from fakes.zabbix import ZabbixFake  # noqa: E402


def main() -> None:
    pki, port, partner, password = Path(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4]
    answers = Peer(ZabbixFake(password=password, lastvalue="1843")).__enter__()
    refuses = Peer(ZabbixFake(login="refuse")).__enter__()
    registry = Peer(RegistryFake(customers=[customer("Pacote Responde", 901, partner, answers.url),
                                            customer("Pacote Recusa", 902, partner, refuses.url)]),
                    host="127.0.0.1", port=port, cert=str(pki / "server.pem"), key=str(pki / "server.key")).__enter__()
    print("ready", flush=True)
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    stop.wait()
    for peer in (registry, answers, refuses):
        peer.stop()


if __name__ == "__main__":
    main()
