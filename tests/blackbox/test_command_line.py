"""Command line, run modes, version report, exit statuses and the argument scrubbing."""
import os
import shutil
import subprocess
import time

import pytest

from blackbox.conftest import run
from fakes.peer import Silence, always

FATAL = "Erro crítico -- Contactar Tarquel em: suporte@registro.example.net ou +55 11 4000-0000\n"
UNKNOWN = "Modo de execução não identificado.\n"
RIGHTS = " Todos os direitos reservados ao fabricante.\n"


def full(mode, last="host"):
    return [mode, "uz", "sz", "ut", "st", "127.0.0.9", "9000", "uq", "sq", last]


@pytest.mark.parametrize("count", [0, 2, 9, 11])
def test_a_wrong_argument_count_prints_the_fatal_message_and_fails(coletor_padrao, count):
    done = run(coletor_padrao, *(["version"] * count))
    assert (done.returncode, done.stdout.decode(), done.stderr) == (1, FATAL, b"")


@pytest.mark.parametrize("args, out", [
    (["Version"], UNKNOWN), (full("descobertappPoE"), UNKNOWN), (full("VERSION"), UNKNOWN),
    ([""] * 10, UNKNOWN), (["\xff\xfe"], UNKNOWN), (full("version"), None), (["version"], None),
])
def test_modes_are_matched_exactly(coletor_padrao, args, out):
    done = subprocess.run([str(coletor_padrao), *[a.encode("latin-1") for a in args]], capture_output=True)
    assert done.returncode == 0 and done.stderr == b""
    if out is None:
        assert done.stdout.decode().startswith(RIGHTS)
    else:
        assert done.stdout.decode() == out


def test_the_version_report_shows_the_invocation_name_with_dot_slashes_replaced(coletor_padrao):
    cases = {"./coletor": " coletor", "/opt/coletor/bin/coletor": "/opt/coletor/bin/coletor",
             "./sub/../coletor": " sub/. coletor", "../bin/coletor": ". bin/coletor"}
    for name, shown in cases.items():
        # argv[0] is the name under test; the file run is the build's.
        done = subprocess.run([name, "version"], capture_output=True, executable=coletor_padrao)
        assert done.returncode == 0
        assert done.stdout.decode() == RIGHTS + shown + "  1.0.4\n", name


def test_the_mode_alone_cannot_run_the_discovery(coletor, registro):
    peer = registro(always(Silence(1)))
    done = run(coletor, "descobertaPPPoE")
    assert done.returncode == 1 and done.stdout == b""
    assert done.stderr.decode() == ("coletor-pppoe: falha não tratada em descobertaPPPoE: linha de comando incompleta: "
                                    "o modo exige a linha de comando completa (dez argumentos)\n")
    assert peer.requests == []


def test_stdout_that_cannot_be_written_turns_a_normal_end_into_status_2(coletor_padrao):
    for args in (["xx"], ["version"]):
        with open("/dev/full", "wb") as full_device:
            assert subprocess.run([str(coletor_padrao), *args], stdout=full_device).returncode == 2
        assert subprocess.run([str(coletor_padrao), *args], stdout=subprocess.DEVNULL,
                              preexec_fn=lambda: os.close(1)).returncode == 2


def test_passwords_disappear_from_the_process_list(coletor, registro):
    registro(always(Silence(30)))
    process = subprocess.Popen([str(coletor), *full("descobertaPPPoE")], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        time.sleep(0.5)
        cmdline = open(f"/proc/{process.pid}/cmdline", "rb").read().split(b"\0")
    finally:
        process.kill()
        process.wait()
    assert cmdline[:3] == [str(coletor).encode(), b"descobertaPPPoE", b"uz"]
    for secret in (b"sz", b"st", b"sq"):
        assert secret not in cmdline
    assert b"ut" in cmdline and b"uq" in cmdline and b"host" in cmdline


def test_launch_starts_the_mode_after_launch_in_the_background(coletor, registro):
    peer = registro(always(Silence(5)))
    start = time.monotonic()
    # A caller that waits for the end of a pipe it handed over is not held by the background run.
    reader, writer = os.pipe()
    with os.fdopen(reader, "rb") as pipe:
        done = run(coletor, *full("agendar_launch_descobertaPPPoE"), pass_fds=(writer,))
        os.close(writer)
        assert pipe.read() == b""
    assert (done.returncode, done.stdout, done.stderr) == (0, b"", b"")
    assert time.monotonic() - start < 2
    deadline = time.monotonic() + 10
    while not peer.requests and time.monotonic() < deadline:
        time.sleep(0.1)
    assert peer.requests and peer.requests[0].path == "/api/login"
    subprocess.run(["pkill", "-f", "^" + str(coletor) + " descobertaPPPoE"], check=False)


def test_the_run_time_limit_ends_a_run_waiting_on_a_silent_registry(coletor_limite_curto, registro):
    registro(always(Silence(30)))
    start = time.monotonic()
    done = run(coletor_limite_curto, *full("descobertaPPPoE"))
    took = time.monotonic() - start
    assert done.returncode == 0
    assert done.stdout.decode() == "Tempo limite de execução atingido (3 s): execução interrompida.\n"
    assert done.stderr == b""
    assert 2.9 <= took < 4.5
