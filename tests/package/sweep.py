"""An unprivileged poller, as any local user could run one: reads /proc/*/cmdline and
/proc/*/environ of every process over and over until SIGTERM, then prints
"seen N caught M": among the descendants of process ANCESTOR (the machine may run other
tests meanwhile), N runs of the program it saw and M processes whose command line or
environment held a secret (given on stdin, one a line). A secret of fewer than 8
characters counts only as a whole argument or value.

usage: sweep.py ANCESTOR <secrets
"""
import os
import signal
import sys

PROGRAM = b"/usr/bin/coletor-pppoe"


def holds(data: bytes, secrets: list) -> bool:
    for field in data.split(b"\0"):
        value = field.partition(b"=")[2]
        if any(field == s or value == s or (len(s) >= 8 and s in field) for s in secrets):
            return True
    return False


def descends(pid: str, ancestor: str) -> bool:
    while pid not in ("0", "1"):
        if pid == ancestor:
            return True
        try:
            with open(f"/proc/{pid}/stat", "rb") as f:
                pid = f.read().rpartition(b")")[2].split()[1].decode()
        except (OSError, IndexError):
            return False
    return False


def main() -> None:
    ancestor = sys.argv[1]
    secrets = [line.encode() for line in sys.stdin.read().splitlines() if line]
    stopping = []
    signal.signal(signal.SIGTERM, lambda *_: stopping.append(1))
    seen, caught = set(), set()
    me = str(os.getpid())  # its own environment is the test's, not the program's
    print("ready", flush=True)
    while not stopping:
        for pid in os.listdir("/proc"):
            if not pid.isdigit() or pid == me:
                continue
            for name in ("cmdline", "environ"):
                try:
                    with open(f"/proc/{pid}/{name}", "rb") as f:
                        data = f.read()
                except OSError:
                    continue
                run = name == "cmdline" and data.startswith(PROGRAM + b"\0")
                secret = holds(data, secrets)
                if (run or secret) and descends(pid, ancestor):
                    if run:
                        seen.add(pid)
                    if secret:
                        caught.add(pid)
    print(f"seen {len(seen)} caught {len(caught)}", flush=True)


if __name__ == "__main__":
    main()
