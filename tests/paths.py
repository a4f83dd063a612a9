"""Where the Python tests find the repository, the builds and the local peers' state."""
import os
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
PEERS_DIR = Path(os.environ.get("COLETOR_PEERS_DIR", "/var/tmp/coletor-peers"))
BUILD_DIR = Path(os.environ.get("COLETOR_BUILD", ROOT / "build"))


def build_setting(name: str, folder: Path = BUILD_DIR) -> str:
    """A cache variable of the build in `folder` (REGISTRY_LOGIN...), as its site file set it."""
    for line in (folder / "CMakeCache.txt").read_text().splitlines():
        key, sep, value = line.partition("=")
        if sep and key.split(":")[0] == name:
            return value
    raise KeyError(name)
