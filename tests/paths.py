"""Where the Python tests find the repository, the builds and the local peers' state."""
import os
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
PEERS_DIR = Path(os.environ.get("COLETOR_PEERS_DIR", "/var/tmp/coletor-peers"))
BUILD_DIR = Path(os.environ.get("COLETOR_BUILD", ROOT / "build"))
