"""What a run's environment changes: the health file every kind of ending writes, the trust
store an operator names, the proxies every request goes through."""
import json
import os
import re
import shutil
import socket
import subprocess
import time

import pytest

from blackbox.conftest import REGISTRY_PORT, run
from blackbox.test_discovery_run import args
from fakes.peer import Answer, Peer, Silence, always
from fakes.questdb import QuestDbFake, QuestDbPeers
from fakes.registry import RegistryFake, customer
from fakes.zabbix import ZabbixFake
from paths import build_setting

TIME = r"\d+\.\d{3}"
NAMES = ["stored", "report", "failed", "ingestion_failed", "time_limit", "command_line", "other_mode"]


def health(outcome: str, status: int, customers=None, rows=0, success=r"0\.000", left_out=0) -> list:
    """The file's lines, whole; `success` the last success time as a pattern."""
    code = NAMES.index(outcome)
    def gauge(name, help_, samples):
        return [f"# HELP coletor_pppoe_{name} {help_}", f"# TYPE coletor_pppoe_{name} gauge"] + samples
    lines = gauge("run_outcome", "How the last run ended: 0 stored, 1 report, 2 failed, 3 ingestion_failed, "
                  "4 time_limit, 5 command_line, 6 other_mode.", [f'coletor_pppoe_run_outcome{{outcome="{outcome}"}} {code}'])
    lines += gauge("run_exit_status", "Exit status of the last run.", [f"coletor_pppoe_run_exit_status {status}"])
    lines += gauge("run_start_time_seconds", "When the last run started, in seconds since the epoch.",
                   [re.compile(f"coletor_pppoe_run_start_time_seconds {TIME}")])
    lines += gauge("run_duration_seconds", "How long the last run took.",
                   [re.compile(f"coletor_pppoe_run_duration_seconds {TIME}")])
    if customers is not None:
        lines += gauge("run_customers", "Customer links of the last run by status: 1 queried, 0 could not be reached.",
                       [f'coletor_pppoe_run_customers{{status="1"}} {customers[0]}',
                        f'coletor_pppoe_run_customers{{status="0"}} {customers[1]}'])
    lines += gauge("run_rows_written", "Rows the last run stored in QuestDB.", [f"coletor_pppoe_run_rows_written {rows}"])
    lines += gauge("run_rows_left_out", "Rows the last run left out: the table cannot hold them.",
                   [f"coletor_pppoe_run_rows_left_out {left_out}"])
    lines += gauge("last_success_time_seconds", "When a run last stored its rows, in seconds since the epoch (0: never).",
                   [re.compile(f"coletor_pppoe_last_success_time_seconds {success}")])
    return lines + gauge("build_info", "The build that wrote this file.", ['coletor_pppoe_build_info{version="1.0.4"} 1'])


def matches(text: str, expected: list) -> bool:
    got = text.split("\n")
    return got[-1] == "" and len(got) - 1 == len(expected) and all(
        g == e if isinstance(e, str) else e.fullmatch(g) for g, e in zip(got, expected))


@pytest.fixture
def three_customers(registro):
    """One customer whose front end answers, one whose front end is down, and one whose number
    the table cannot hold (its front end is down too)."""
    with Peer(ZabbixFake(lastvalue="5")) as up:
        registro(RegistryFake(customers=[customer("Alfa", 1, "P", up.url), customer("Beta", 2, "P", "http://127.0.0.1:9"),
                                         customer("Gama", 2147483648, "P", "http://127.0.0.1:9")]))
        yield


CASES = {
    # name: (command line, how QuestDB answers /write, exit status, expected file)
    "stored": (args(), 204, 0, health("stored", 0, (1, 2), 2, TIME, left_out=1)),
    "report": (args("debug"), 204, 0, health("report", 0, (1, 2), 0, "7.000")),
    "ingestion-refused": (args(), 400, 1, health("ingestion_failed", 1, (1, 2), 0, "7.000", left_out=1)),
    "bad-port": (args(qdb_port="x"), 204, 1, health("command_line", 1, None, 0, "7.000")),
    "mode-alone": (["descobertaPPPoE"], 204, 1, health("failed", 1, None, 0, "7.000")),
    "argument-count": (["version", "x"], 204, 1, health("command_line", 1, None, 0, "7.000")),
    "version": (["version"], 204, 0, health("other_mode", 0, None, 0, "7.000")),
}


@pytest.mark.parametrize("case", CASES, ids=list(CASES))
def test_every_ending_writes_the_health_file_and_keeps_the_last_success(coletor, three_customers, pki, tmp_path, case):
    argv, write_status, status, expected = CASES[case]
    path = tmp_path / "coletor-pppoe.prom"
    path.write_text("coletor_pppoe_last_success_time_seconds 7.000\n")
    write = Answer(status=write_status, body="" if write_status == 204 else '{"message":"no"}', content_type=None)
    with QuestDbPeers(QuestDbFake(write=write), pki):
        done = run(coletor, *argv, env=dict(os.environ, COLETOR_METRICS_FILE=str(path)))
    assert done.returncode == status, done.stderr
    assert matches(path.read_text(), expected), path.read_text()
    assert (path.stat().st_mode & 0o777, sorted(os.listdir(tmp_path))) == (0o644, ["coletor-pppoe.prom"])


def test_the_time_limit_writes_the_health_file_too(coletor_limite_curto, registro, tmp_path):
    registro(always(Silence(30)))
    path = tmp_path / "h.prom"
    done = run(coletor_limite_curto, *args(), env=dict(os.environ, COLETOR_METRICS_FILE=str(path)))
    assert done.returncode == 0
    assert matches(path.read_text(), health("time_limit", 0)), path.read_text()


@pytest.mark.parametrize("journal", [False, True], ids=["elsewhere", "journal"])
def test_a_health_file_that_cannot_be_written_is_one_warning_and_changes_nothing_else(coletor_padrao, tmp_path, journal):
    """Stderr lines take the journal's level prefix only when stderr is the stream JOURNAL_STREAM names."""
    error, warning = ("<3>", "<4>") if journal else ("", "")
    with open(tmp_path / "err", "w+b") as err:
        named = os.fstat(err.fileno() if journal else 0)
        env = dict(os.environ, COLETOR_METRICS_FILE="/nonexistent/h.prom", JOURNAL_STREAM=f"{named.st_dev}:{named.st_ino}")
        done = subprocess.run([str(coletor_padrao), "descobertaPPPoE"], env=env, stdout=subprocess.PIPE, stderr=err)
        err.seek(0)
        assert err.read().decode() == (
            f"{error}coletor-pppoe: falha não tratada em descobertaPPPoE: linha de comando incompleta: o modo exige a "
            "linha de comando completa (dez argumentos)\n"
            f"{warning}Aviso: não foi possível escrever o arquivo de saúde /nonexistent/h.prom: No such file or directory\n")
    assert (done.returncode, done.stdout) == (1, b"")


def test_ssl_cert_file_names_the_store_trusted_instead_of_the_compiled_in_one(coletor, registro, pki, tmp_path):
    """A customer's front end signed by an authority outside the store: status 0, then 1 once
    the operator's bundle holds that authority too (and the test authority the registry needs)."""
    with Peer(ZabbixFake(lastvalue="5"), cert=str(pki / "unknown-ca.pem"), key=str(pki / "unknown-ca.key")) as front:
        registro(RegistryFake(customers=[customer("Alfa", 1, "P", front.url)]))
        bundle = tmp_path / "bundle.pem"
        bundle.write_bytes((pki / "ca.pem").read_bytes() + (pki / "unknown-root.pem").read_bytes())
        plain = run(coletor, *args("debug"))
        trusting = run(coletor, *args("debug"), env=dict(os.environ, SSL_CERT_FILE=str(bundle)))
    assert "Cliente: Alfa | PPPoE: 0 | Status: 0" in plain.stdout.decode()
    assert "Cliente: Alfa | PPPoE: 5 | Status: 1" in trusting.stdout.decode()


@pytest.fixture
def proxy(tmp_path):
    """A real HTTP proxy on loopback (Debian's tinyproxy); yields its URL and its log."""
    if shutil.which("tinyproxy") is None:
        pytest.skip("tinyproxy is not installed (scripts/setup.sh installs it)")
    with socket.create_server(("127.0.0.1", 0)) as probe:
        port = probe.getsockname()[1]
    log = tmp_path / "proxy.log"
    conf = tmp_path / "tinyproxy.conf"
    # No ConnectPort line: CONNECT may reach any port, as the peers' are not 443.
    conf.write_text(f"Port {port}\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 60\nLogFile \"{log}\"\nLogLevel Info\n"
                    "MaxClients 50\n")
    process = subprocess.Popen(["tinyproxy", "-d", "-c", str(conf)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        with socket.socket() as s:
            if s.connect_ex(("127.0.0.1", port)) == 0:
                break
        time.sleep(0.05)
    yield f"http://127.0.0.1:{port}", log
    process.terminate()
    process.wait(timeout=10)


def conf_file(path, argv, extra=""):
    """The configuration file of a full command line `argv`, plus `extra` lines."""
    names = ["ZABBIX_USER", "ZABBIX_PASSWORD", "REGISTRY_USER", "REGISTRY_PASSWORD", "QUESTDB_HOST", "QUESTDB_PORT",
             "QUESTDB_USER", "QUESTDB_PASSWORD", "DEBUG_SWITCH"]
    path.write_text("".join(f"{n}={v}\n" for n, v in zip(names, argv[1:])) + extra)
    return str(path)


@pytest.mark.parametrize("source", ["environment", "file"])
def test_a_whole_run_goes_through_the_proxies_of_its_environment(coletor, registro, pki, proxy, tmp_path, source):
    """Also when they, and the registry account, come from the file COLETOR_CONFIG names."""
    url, log = proxy
    with Peer(ZabbixFake(lastvalue="5")) as front, QuestDbPeers(QuestDbFake(), pki) as qdb:
        registry = registro(RegistryFake(customers=[customer("Alfa", 1, "P", front.url)]))
        env = {k: v for k, v in os.environ.items() if k.lower() not in ("no_proxy", "http_proxy", "https_proxy")}
        if source == "file":
            conf = conf_file(tmp_path / "c.conf", args(), f"https_proxy={url}\nhttp_proxy={url}\n"
                             "COLLECTOR_ACCOUNT_LOGIN=outra\nCOLLECTOR_ACCOUNT_PASSWORD=s3 nha\n")
            done = run(coletor, "descobertaPPPoE", env=dict(env, COLETOR_CONFIG=conf))
        else:
            done = run(coletor, *args(), env=dict(env, https_proxy=url, http_proxy=url))
        lines = qdb.lines()
    assert (done.returncode, done.stdout, done.stderr) == (0, b"OK\n", b""), done.stderr
    built_in = (build_setting("REGISTRY_LOGIN", coletor.parent), build_setting("REGISTRY_PASSWORD", coletor.parent))
    account = ("outra", "s3 nha") if source == "file" else built_in
    assert json.loads(registry.requests[0].body) == {"login": account[0], "senha": account[1]}
    assert len(lines) == 1 and lines[0].startswith("pppoeClientes,nome=Alfa,parceiro=P numero=1i,status=1i,pppoe=5i,")
    seen = log.read_text()
    # TLS through CONNECT (registry, ingestion); plain HTTP forwarded (the front end, QuestDB's SQL on port 80)
    for wanted in (r"CONNECT 127\.0\.0\.1:18443", rf"CONNECT {re.escape(qdb.ingest.host)}:{qdb.ingest.port}",
                   rf"POST http://127\.0\.0\.1:{front.port}/api_jsonrpc\.php", rf"GET http://{re.escape(qdb.sql.host)}/exec"):
        assert re.search(wanted, seen), (wanted, seen)


def test_a_configuration_file_that_cannot_be_used_ends_the_run_with_status_78(coletor, registro, tmp_path):
    """One line naming the file and line, nothing contacted, the health file told; the full
    command line does not read the file."""
    peer = registro(RegistryFake())
    health_file = tmp_path / "h.prom"
    broken = conf_file(tmp_path / "dos.conf", args())
    (tmp_path / "dos.conf").write_bytes((tmp_path / "dos.conf").read_bytes().replace(b"\n", b"\r\n"))
    env = dict(os.environ, COLETOR_METRICS_FILE=str(health_file))
    for conf, line in ((broken, f"{broken}:1: retorno de carro na linha (salvo com finais de linha do DOS?)"),
                       (str(tmp_path / "none"), f"não foi possível ler o arquivo de configuração {tmp_path / 'none'}: "
                                                "No such file or directory")):
        done = run(coletor, "descobertaPPPoE", env=dict(env, COLETOR_CONFIG=conf))
        assert (done.returncode, done.stdout, done.stderr.decode()) == (78, b"", f"Erro: {line}\n")
        assert matches(health_file.read_text(), health("command_line", 78)), health_file.read_text()
    assert peer.requests == []
    assert run(coletor, *args("debug"), env=dict(env, COLETOR_CONFIG=broken)).returncode == 0
