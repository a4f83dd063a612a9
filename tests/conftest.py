"""Shared fixtures of the Python tests: the test PKI, the built programs, local peers."""
from __future__ import annotations

import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))

from paths import BUILD_DIR, PEERS_DIR, ROOT  # noqa: E402

# The programs under test trust the test authority compiled into them; an SSL_CERT_FILE
# that the machine sets for everything would name another store instead.
os.environ.pop("SSL_CERT_FILE", None)


@pytest.fixture(scope="session")
def pki() -> Path:
    folder = PEERS_DIR / "pki"
    subprocess.run(["bash", str(ROOT / "tests/pki/make-pki.sh"), str(folder)], check=True)
    return folder


@pytest.fixture(scope="session")
def probe_path() -> Path:
    path = BUILD_DIR / "tests" / "http_probe"
    if not path.exists():
        pytest.fail(f"{path} is missing: build the project first (cmake --build {BUILD_DIR})")
    return path


@pytest.fixture
def probe(probe_path, pki):
    """Performs one exchange with the real HTTP core; returns its outcome as a dict."""
    def run(**request) -> dict:
        request.setdefault("ca", str(pki / "ca.pem"))
        done = subprocess.run([str(probe_path), json.dumps(request)], capture_output=True, timeout=120, check=True)
        outcome = json.loads(done.stdout)
        if "body" in outcome:
            outcome["body"] = bytes(outcome["body"])
        return outcome
    return run
