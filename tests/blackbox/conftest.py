"""Whole runs of the built program against local peers."""
from __future__ import annotations

import os
import subprocess
from pathlib import Path

import pytest

from local_time import tz_at
from paths import BUILD_DIR, ROOT
from fakes.peer import Peer, always, Answer

# Another test session on this machine can pick other addresses through the environment.
REGISTRY_HOST = "127.0.0.1"
REGISTRY_PORT = int(os.environ.get("COLETOR_TEST_REGISTRY_PORT", "18443"))
PORTAL = "https://portal.sandbox.test"


SANITIZE = os.environ.get("COLETOR_SANITIZE") == "1"


def build_sandbox(folder: Path, ca: Path, limit: int) -> Path:
    """A build of the program that trusts the test authority and talks to the local registry
    (with AddressSanitizer and UndefinedBehaviorSanitizer when COLETOR_SANITIZE=1)."""
    if SANITIZE:
        folder = folder.with_name(folder.name + "-asan")
    subprocess.run(["cmake", "-S", str(ROOT), "-B", str(folder), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                    "-DCOLETOR_TESTS=OFF", f"-DREGISTRY_API_URL=https://{REGISTRY_HOST}:{REGISTRY_PORT}/api",
                    f"-DPORTAL_ORIGIN={PORTAL}", f"-DCA_BUNDLE={ca}", f"-DRUNTIME_LIMIT_SECONDS={limit}",
                    f"-DCOLETOR_SANITIZE={'ON' if SANITIZE else 'OFF'}"],
                   check=True, capture_output=True)
    subprocess.run(["cmake", "--build", str(folder), "--target", "coletor-pppoe"], check=True, capture_output=True)
    return folder / "coletor-pppoe"


@pytest.fixture(scope="session")
def coletor(pki) -> Path:
    return build_sandbox(ROOT / f"build-blackbox-{REGISTRY_PORT}", pki / "ca.pem", 300)


@pytest.fixture(scope="session")
def coletor_limite_curto(pki) -> Path:
    """The same program with a run-time limit of 3 s."""
    return build_sandbox(ROOT / f"build-blackbox-{REGISTRY_PORT}-limit", pki / "ca.pem", 3)


@pytest.fixture(scope="session")
def coletor_padrao() -> Path:
    return BUILD_DIR / "coletor-pppoe"


@pytest.fixture
def registro(pki):
    """Starts the stand-in registry on its compiled-in address with a handler of the test's."""
    peers = []

    def start(handler) -> Peer:
        peer = Peer(handler, host=REGISTRY_HOST, port=REGISTRY_PORT,
                    cert=str(pki / "server.pem"), key=str(pki / "server.key")).__enter__()
        peers.append(peer)
        return peer
    yield start
    for peer in peers:
        peer.stop()


def run(program: Path, *args: str, timeout: float = 60, env: dict | None = None, local_time=(12, 0),
        **kwargs) -> subprocess.CompletedProcess:
    """One run, at noon local time unless local_time is None (the case then sets its own zone)."""
    env = dict(os.environ if env is None else env)
    if local_time is not None:
        env["TZ"] = tz_at(*local_time)
    return subprocess.run([str(program), *args], capture_output=True, timeout=timeout, env=env, **kwargs)
