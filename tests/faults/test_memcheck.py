"""One whole run under valgrind's memcheck: no invalid access and no memory lost.

Slow (the run takes some seconds under valgrind), so it runs only with COLETOR_MEMCHECK=1,
as tests/hardening.sh sets it. Memory still reachable at exit is allowed: libcurl and
OpenSSL keep their global state until the process ends, and we do not tear it down.
"""
from __future__ import annotations

import os
import re
import subprocess

import pytest

from faults.conftest import args, expect, record_line, registry_listing, report_lines, row, rows_match, tz_at
from faults.stand_ins import FaultPeer
from fakes.registry import customer
from fakes.zabbix import ZabbixFake

pytestmark = pytest.mark.skipif(os.environ.get("COLETOR_MEMCHECK") != "1", reason="COLETOR_MEMCHECK=1 runs it")

VALGRIND = ["valgrind", "--tool=memcheck", "--leak-check=full", "--show-leak-kinds=definite,indirect",
            "--errors-for-leak-kinds=definite,indirect", "--error-exitcode=99", "--track-origins=yes",
            "--num-callers=30"]


def memcheck(program, log, *arguments) -> subprocess.CompletedProcess:
    env = dict(os.environ, TZ=tz_at(12, 0))
    return subprocess.run([*VALGRIND, f"--log-file={log}", str(program), *arguments], capture_output=True,
                          timeout=600, env=env)


def summary(log) -> dict:
    text = log.read_text()
    found = {kind: int(re.search(rf"{kind}: ([\d,]+) bytes", text).group(1).replace(",", "")) if
             re.search(rf"{kind}: ([\d,]+) bytes", text) else 0
             for kind in ("definitely lost", "indirectly lost", "possibly lost", "still reachable")}
    found["errors"] = int(re.search(r"ERROR SUMMARY: ([\d,]+) errors", text).group(1).replace(",", ""))
    return found


@pytest.mark.parametrize("mode", ["debug", "normal"])
def test_a_whole_run_under_memcheck_loses_nothing(coletor, registro, questdb, tmp_path, mode):
    log = tmp_path / "memcheck.log"
    with FaultPeer(ZabbixFake(lastvalue="31")) as um, FaultPeer(ZabbixFake(login="refuse")) as dois:
        registro(registry_listing([customer("Um", 1, "P", um.url), customer("Dois", 2, "P", dois.url)]))
        qdb = questdb()
        done = memcheck(coletor, log, *args(last=mode))
    found = summary(log)
    print(f"memcheck ({mode}): {found}")
    assert (done.returncode, found["errors"], found["definitely lost"], found["indirectly lost"]) == (0, 0, 0, 0), \
        log.read_text()
    out, err = done.stdout.decode().split("\n"), done.stderr.decode().split("\n")
    if mode == "debug":
        problem = "\x1b[0;93mP - 2 - Dois: Cliente com problema na conexão.\x1b[0;0m"
        lines = {"Um": record_line("Um", 31, 1, 1, "P"), "Dois": record_line("Dois", 0, 0, 2, "P")}
        orders = (["Um", "Dois"], ["Dois", "Um"])  # the records come in finishing order
        assert err == [""] and any(out == [problem] + report_lines([lines[n] for n in order], ["Dois"]) + [""]
                                   for order in orders), out
        assert qdb.untouched()
    else:
        assert (out, err) == (["OK", ""], [""])
        assert len(qdb.writes()) == 1 and rows_match(sorted(qdb.writes()[0]), [row("Dois", 2, "P", 0, 0),
                                                                               row("Um", 1, "P", 1, 31)])
