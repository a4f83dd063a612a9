"""The folders are floors: each includes only the folders below it, and only the entry reads
the environment."""
import re

import pytest

from paths import ROOT

BELOW = {
    "base": set(),
    "net": {"base"},
    "records": {"net", "base"},
    "registry": {"net", "base"},
    "zabbix": {"records", "net", "base"},
    "store": {"records", "net", "base"},
    "discovery": {"registry", "zabbix", "store", "records", "net", "base"},
    "run": {"discovery", "registry", "zabbix", "store", "records", "net", "base"},
}
OURS = re.compile(r'^#include "([a-z_]+)/', re.M)


@pytest.mark.parametrize("folder", BELOW)
def test_a_folder_includes_only_what_lies_below_it(folder):
    sources = sorted((ROOT / folder).glob("*.[ch]pp")) + sorted((ROOT / folder).glob("*.in"))
    assert sources
    for source in sources:
        text = source.read_text()
        assert set(OURS.findall(text)) <= BELOW[folder] | {folder}, source.name
        assert folder == "run" or "getenv" not in text, source.name
