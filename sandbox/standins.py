"""Stand-ins for the sandbox: the customer registry over HTTPS and a fleet of Zabbix
front ends on loopback. Runs until interrupted.

usage: standins.py PKI_DIR [VERSION=REAL_ZABBIX_URL ...]   (VERSION: 6.0 or 7.0)
"""
import signal
import sys
import threading
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))

from fakes.peer import Peer  # noqa: E402
from fakes.registry import RegistryFake, customer  # noqa: E402
from fakes.zabbix import ZabbixFake  # noqa: E402


def main() -> None:
    pki = Path(sys.argv[1])
    real_zabbix = dict(argument.split("=", 1) for argument in sys.argv[2:])
    tls = {"cert": str(pki / "server.pem"), "key": str(pki / "server.key")}
    fronts = {
        "norte": (ZabbixFake(lastvalue="1843"), {}),
        "sul": (ZabbixFake(lastvalue="977", version="6.4"), {}),
        "leste": (ZabbixFake(lastvalue="0"), {}),
        "oeste": (ZabbixFake(lastvalue="5120", version="7.4"), tls),
        "centro": (ZabbixFake(lastvalue="311"), tls),
        "recusa": (ZabbixFake(login="refuse"), {}),
        "html": (ZabbixFake(login="html"), {}),
        "lento": (ZabbixFake(lastvalue="64", delay=1.5), {}),
        "vazio": (ZabbixFake(items=[]), {}),
        "duplo-a": (ZabbixFake(lastvalue="120"), {}),
        "duplo-b": (ZabbixFake(lastvalue="80"), {}),
    }
    peers = {name: Peer(fake, **options).__enter__() for name, (fake, options) in fronts.items()}
    url = {name: peer.url for name, peer in peers.items()}
    customers = [
        customer("Norte Fibra", 101, "Parceiro Alfa", url["norte"]),
        customer("Sul Net", 102, "Parceiro Alfa", url["sul"]),
        customer("Leste Telecom", "103", "Parceiro Beta", url["leste"]),
        customer("Oeste Online", 104, "Parceiro Beta", url["oeste"]),
        # a bare host: the collector puts https:// in front of it
        customer("Centro Conecta", 105, "Parceiro Beta", url["centro"].removeprefix("https://")),
        customer("Recusa Login", 106, "Parceiro Gama", url["recusa"]),
        customer("Página HTML", 107, "Parceiro Gama", url["html"]),
        customer("Lento Provedor", 108, "Parceiro Gama", url["lento"]),
        customer("Sem Item", 109, "Parceiro Gama", url["vazio"]),
        customer("Duplo Link", 110, "Parceiro Delta", url["duplo-a"], url["duplo-b"]),
        customer("Outro Produto", 111, "Parceiro Delta", url["norte"], product="outro"),
        {"empresa": "Sem Produto", "numero": 112, "parceiro": "Parceiro Delta"},
    ]
    for version, number in (("6.0", 113), ("7.0", 114)):
        if version in real_zabbix:
            customers.append(customer(f"Zabbix Real {version}", number, "Parceiro Real", real_zabbix[version]))
    registry = Peer(RegistryFake(customers=customers), host="127.0.0.1", port=18443, **tls).__enter__()
    print(f"stand-ins ready: registry {registry.url}, {len(peers)} Zabbix front ends", flush=True)
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    stop.wait()
    for peer in [registry, *peers.values()]:
        peer.stop()


if __name__ == "__main__":
    main()
