#!/usr/bin/env python3
"""Drives the benchmark: a loopback fleet, the program and the bare libcurl floor run
after run, then a table, a JSON file of every measurement and a PNG plot."""
from __future__ import annotations

import argparse
import json
import math
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request
from pathlib import Path

TIME = "/usr/bin/time"  # GNU time, Debian package time
WORKERS = 10
LIMIT_S = 300  # the program's bound on a run
MARGIN_S = 30  # left out of the limit for start-up, registry, store and slow days


def parse_args() -> argparse.Namespace:
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--program", required=True, type=Path)
    p.add_argument("--floor", required=True, type=Path)
    p.add_argument("--fleet", required=True, type=Path)
    p.add_argument("--pki", required=True, type=Path)
    p.add_argument("--out", required=True, type=Path)
    p.add_argument("--host", default="127.0.0.6")
    p.add_argument("--registry-port", type=int, default=39443)
    p.add_argument("--sizes", default="10,100,1000,5000")
    p.add_argument("--schemes", default="http,https")
    p.add_argument("--latency-ms", type=float, default=20.0)
    p.add_argument("--rtt-ms", default="0", help="round trips to emulate, one pass each (e.g. 10,50,100)")
    p.add_argument("--pool-seconds", type=float, default=0,
                   help="instead of --sizes, one N per round trip whose ideal HTTPS pool phase lasts about this")
    p.add_argument("--runs", type=int, default=3)
    p.add_argument("--big", type=int, default=100_000, help="customers in the large list (0: skip)")
    p.add_argument("--version-runs", type=int, default=50)
    p.add_argument("--no-plot", action="store_true")
    return p.parse_args()


class Fleet:
    HTTP_PORT, HTTPS_PORT, WRITE_PORT, CONTROL_PORT = 39080, 39444, 39445, 39099

    def __init__(self, args: argparse.Namespace, rtt_ms: float = 0):
        self.host = args.host
        self.proc = subprocess.Popen(
            [str(args.fleet), "-host", args.host, "-registry-port", str(args.registry_port),
             "-http-port", str(self.HTTP_PORT), "-https-port", str(self.HTTPS_PORT), "-exec-port", "80",
             "-write-port", str(self.WRITE_PORT), "-control-port", str(self.CONTROL_PORT),
             "-cert", str(args.pki / "server.pem"), "-key", str(args.pki / "server.key"),
             "-latency", f"{args.latency_ms}ms", "-rtt", f"{rtt_ms}ms"], stdout=subprocess.PIPE, text=True)
        if self.proc.stdout.readline().strip() != "ready":
            raise SystemExit("the fleet did not start (ports taken?)")

    def base(self, scheme: str) -> str:
        port = self.HTTP_PORT if scheme == "http" else self.HTTPS_PORT
        return f"{scheme}://{self.host}:{port}"

    def control(self, path: str) -> dict:
        with urllib.request.urlopen(f"http://{self.host}:{self.CONTROL_PORT}{path}", timeout=120) as r:
            return json.loads(r.read())

    def stop(self) -> None:
        self.proc.terminate()
        self.proc.wait()


def measure(argv: list[str], timeout: float = 600) -> dict:
    """Wall time, CPU (user + system) and peak RSS of one child process.

    The child runs under GNU time, which reports its peak RSS. Forked straight from
    this interpreter, the child's ru_maxrss would start from the interpreter's own
    high-water mark (Linux carries it over exec), so every subject would read the
    driver's size. CPU comes from wait4 on time itself: the subject plus about 1 ms
    of time's own start and exit, far finer than time's 10 ms format."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err, \
            tempfile.NamedTemporaryFile("r") as rss:
        t0 = time.perf_counter()
        proc = subprocess.Popen([TIME, "-f", "%M", "-o", rss.name, "--", *argv], stdout=out, stderr=err,
                                start_new_session=True)
        guard = threading.Timer(timeout, os.killpg, (proc.pid, signal.SIGKILL))
        guard.start()
        _, status, ru = os.wait4(proc.pid, 0)
        wall = time.perf_counter() - t0
        guard.cancel()
        proc.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        err.seek(0)
        stdout, stderr = out.read(), err.read()
        # time writes "Command exited with non-zero status N" before the figure.
        words = rss.read().split()
        maxrss = int(words[-1]) if words and words[-1].isdigit() else 0
    return {"wall_s": wall, "cpu_s": ru.ru_utime + ru.ru_stime, "user_s": ru.ru_utime, "sys_s": ru.ru_stime,
            "maxrss_kb": maxrss, "status": proc.returncode, "stdout": stdout.decode(errors="replace"),
            "stderr": stderr.decode(errors="replace")}


def call_s(scheme: str, latency_ms: float, rtt_ms: float) -> float:
    """One request on a fresh connection: TCP handshake, the TLS 1.3 flight, the answer."""
    return (latency_ms + (3 if scheme == "https" else 2) * rtt_ms) / 1e3


def ideal_s(n: int, scheme: str, latency_ms: float, rtt_ms: float) -> float:
    return math.ceil(n / WORKERS) * 3 * call_s(scheme, latency_ms, rtt_ms)


def pool_run(fleet: Fleet, kind: str, argv: list[str], n: int, ideal: float) -> dict:
    fleet.control("/reset")
    before = fleet.control("/stats")
    m = measure(argv)
    after = fleet.control("/stats")
    ok = (m["status"] == 0 and after["logins"] == n and after["items"] == n and after["logouts"] == n
          and after["others"] == 0)
    if kind == "program":
        ok = ok and m["stdout"].strip().endswith("OK")
    pool_s = (after["last_logout_ns"] - after["first_accept_ns"]) / 1e9 if after["logouts"] else float("nan")
    fleet_cpu = (after["cpu_user_ns"] + after["cpu_sys_ns"] - before["cpu_user_ns"] - before["cpu_sys_ns"]) / 1e9
    per_n = 1 / n if n else math.nan
    if not ok:
        print(f"  INVALID {kind} run: status {m['status']}, stand-ins saw {after}; stdout tail "
              f"{m['stdout'][-300:]!r} stderr {m['stderr'][-300:]!r}", file=sys.stderr)
    return {"kind": kind, "n": n, "ok": ok, "pool_s": pool_s, "ideal_s": ideal,
            "ratio": pool_s / ideal if ideal else math.nan, "load1": os.getloadavg()[0],
            "wall_s": m["wall_s"], "cpu_s": m["cpu_s"], "user_s": m["user_s"], "sys_s": m["sys_s"],
            "cpu_per_customer_ms": m["cpu_s"] * per_n * 1e3, "maxrss_kb": m["maxrss_kb"], "fleet_cpu_s": fleet_cpu,
            "fleet_busy": fleet_cpu / (after["now_ns"] - before["now_ns"]) * 1e9,
            "max_concurrent": after["max_concurrent"]}


def med(values: list[float]) -> tuple[float, float, float]:
    return statistics.median(values), min(values), max(values)


def fmt(values: list[float], scale: float = 1.0, digits: int = 3) -> str:
    values = [v for v in values if not math.isnan(v)]
    if not values:
        return "-"
    m, lo, hi = med([v * scale for v in values])
    return f"{m:.{digits}f} [{lo:.{digits}f}-{hi:.{digits}f}]"


def main() -> int:
    args = parse_args()
    if not os.access(TIME, os.X_OK):
        raise SystemExit(f"{TIME} is missing: apt-get install time")
    args.out.mkdir(parents=True, exist_ok=True)
    sizes = [int(s) for s in args.sizes.split(",") if s]
    schemes = [s for s in args.schemes.split(",") if s]
    rtts = [float(r) for r in args.rtt_ms.split(",") if r]
    results: dict = {"config": {"sizes": sizes, "schemes": schemes, "latency_ms": args.latency_ms, "runs": args.runs,
                                "rtts_ms": rtts, "cores": os.cpu_count()}, "pool": [], "version": {}, "big": {}}
    program_argv = [str(args.program), "descobertaPPPoE", "Admin", "zabbix", "usuario", "senha", args.host,
                    str(Fleet.WRITE_PORT), "admin", "quest", "normal"]
    for rtt in rtts:
        ns = sizes
        if args.pool_seconds:
            per = ideal_s(WORKERS, "https", args.latency_ms, rtt) / WORKERS
            ns = [max(WORKERS, round(args.pool_seconds / per / 100) * 100)]
        fleet = Fleet(args, rtt)
        try:
            for scheme in schemes:
                for n in ns:
                    doc = fleet.control(f"/list?n={n}&base={fleet.base(scheme)}")
                    urls = args.out / f"urls-{scheme}-{n}.txt"
                    urls.write_text("".join(f"{fleet.base(scheme)}/z/{i}/api_jsonrpc.php\n" for i in range(1, n + 1)))
                    floor_argv = [str(args.floor), str(urls), str(args.pki / "bundle-with-system.pem")]
                    ideal = ideal_s(n, scheme, args.latency_ms, rtt)
                    print(f"{scheme} r={rtt:g} ms N={n} (list {doc['bytes']} bytes): ", end="", flush=True)
                    for r in range(args.runs):
                        # Alternate which goes first, so neither always meets a warmer machine.
                        order = [("program", program_argv), ("floor", floor_argv)]
                        for kind, argv in (order if r % 2 == 0 else order[::-1]):
                            row = pool_run(fleet, kind, argv, n, ideal)
                            row["scheme"], row["rtt_ms"] = scheme, rtt
                            results["pool"].append(row)
                            print(f"{kind[0]}{row['ratio']:.3f} ", end="", flush=True)
                    print()
        finally:
            fleet.stop()
    if args.version_runs:
        results["version"] = version_times(args)
    if args.big:
        fleet = Fleet(args)
        try:
            results["big"] = big_list(args, fleet)
        finally:
            fleet.stop()
    (args.out / "results.json").write_text(json.dumps(results, indent=1))
    report = table(results)
    (args.out / "table.txt").write_text(report)
    print(report)
    if not args.no_plot:
        plot(results, args.out / "bench.png")
        plot_capacity(results, args.out / "capacity.png")
    return 0


def version_times(args: argparse.Namespace) -> dict:
    # Interleaved with /bin/true started the same way, so that a busy moment of the
    # machine weighs on both; the difference is the program's own share.
    walls, true_walls = [], []
    for _ in range(args.version_runs):
        m = measure([str(args.program), "version"])
        if m["status"] != 0:
            raise SystemExit(f"version failed: {m}")
        walls.append(m["wall_s"])
        true_walls.append(measure(["/bin/true"])["wall_s"])
    return {"wall_s": walls, "true_wall_s": true_walls, "maxrss_kb": m["maxrss_kb"]}


def big_list(args: argparse.Namespace, fleet: Fleet) -> dict:
    doc = fleet.control(f"/list?n={args.big}&base=")
    argv = [str(args.program), "descobertaPPPoE", "Admin", "zabbix", "usuario", "senha", args.host,
            str(Fleet.WRITE_PORT), "admin", "quest", "debug"]
    runs = []
    for _ in range(args.runs):
        m = measure(argv)
        if m["status"] != 0 or "Modo debug ativado:" not in m["stdout"] or "Cliente: " in m["stdout"]:
            print(f"  INVALID large-list run: {m['status']} {m['stderr'][-300:]!r}", file=sys.stderr)
        runs.append({k: m[k] for k in ("wall_s", "cpu_s", "maxrss_kb", "status")})
    fleet.control("/list?n=0&base=")
    return {"customers": args.big, "bytes": doc["bytes"], "runs": runs}


def groups(pool: list[dict]) -> list[tuple[float, str, int]]:
    """(round trip, scheme, N) in the order they were measured."""
    return list(dict.fromkeys((r.get("rtt_ms", 0), r["scheme"], r["n"]) for r in pool))


def runs_of(pool: list[dict], key: tuple[float, str, int], kind: str) -> list[dict]:
    return [r for r in pool if (r.get("rtt_ms", 0), r["scheme"], r["n"]) == key and r["kind"] == kind]


def capacity(per_customer_s: float) -> int:
    """Customers one run serves in the limit less the margin, rounded down to hundreds."""
    return int((LIMIT_S - MARGIN_S) / per_customer_s / 100) * 100


def capacity_rows(results: dict) -> list[dict]:
    """Per round trip and scheme, at the largest N measured: the pool phase's wall time per
    customer (program, floor, formula) and what that makes of the limit."""
    pool, latency = results["pool"], results["config"]["latency_ms"]
    largest = {}
    for rtt, scheme, n in groups(pool):
        if n:
            largest[(rtt, scheme)] = max(n, largest.get((rtt, scheme), 0))
    rows = []
    for (rtt, scheme), n in largest.items():
        p, f = (runs_of(pool, (rtt, scheme, n), kind) for kind in ("program", "floor"))
        formula = 3 * call_s(scheme, latency, rtt) / WORKERS
        prog = statistics.median(r["pool_s"] for r in p) / n
        flo = statistics.median(r["pool_s"] for r in f) / n
        rows.append({"rtt_ms": rtt, "scheme": scheme, "n": n, "formula_ms": formula * 1e3, "program_ms": prog * 1e3,
                     "floor_ms": flo * 1e3, "outside_s": statistics.median(r["wall_s"] - r["pool_s"] for r in p),
                     "capacity_program": capacity(prog), "capacity_floor": capacity(flo),
                     "capacity_formula": capacity(formula)})
    return rows


def table(results: dict) -> str:
    lines = []
    pool = results["pool"]
    cfg = results["config"]
    lines.append(f"Pool phase at L = {cfg['latency_ms']:g} ms, {cfg['runs']} runs each, median [min-max]; "
                 f"ideal = ceil(N/10) x 3 x (L + k r), k = 2 over HTTP, 3 over HTTPS (r: emulated round trip)")
    head = (f"{'scheme':6} {'r ms':>4} {'N':>5} {'ideal s':>7} | {'makespan ratio program':>24} {'floor':>21} "
            f"{'p/f':>5} | {'CPU ms/customer program':>24} {'floor':>21} {'p/f':>5} | {'peak RSS MB program':>21} "
            f"{'floor':>18} {'p/f':>5} | {'stand-ins CPU':>13}")
    lines.append(head)
    lines.append("-" * len(head))
    for key in groups(pool):
        rtt, scheme, n = key
        p, f = runs_of(pool, key, "program"), runs_of(pool, key, "floor")
        if not p or not f:
            continue
        bad = sum(not r["ok"] for r in p + f)
        rp, rf = (statistics.median(r["ratio"] for r in x) for x in (p, f))
        cp, cf = (statistics.median(r["cpu_per_customer_ms"] for r in x) for x in (p, f))
        mp, mf = (statistics.median(r["maxrss_kb"] for r in x) for x in (p, f))
        busy = max(r["fleet_busy"] for r in p + f)
        lines.append(
            f"{scheme:6} {rtt:>4g} {n:>5} {p[0]['ideal_s']:>7.2f} | {fmt([r['ratio'] for r in p]):>24} "
            f"{fmt([r['ratio'] for r in f]):>21} {rp / rf:>5.3f} | "
            f"{fmt([r['cpu_per_customer_ms'] for r in p]):>24} {fmt([r['cpu_per_customer_ms'] for r in f]):>21} "
            f"{cp / cf:>5.2f} | {fmt([r['maxrss_kb'] for r in p], 1 / 1024, 1):>21} "
            f"{fmt([r['maxrss_kb'] for r in f], 1 / 1024, 1):>18} {mp / mf:>5.2f} | "
            f"{busy * 100:>11.0f} %" + (f"  ({bad} INVALID runs)" if bad else ""))
    lines.append("stand-ins CPU: the fleet's own CPU time over the run's wall time, worst run, "
                 f"in per cent of one core ({cfg['cores']} cores in all)")
    if pool:
        lines.append(f"1-minute load average after each run: {fmt([r['load1'] for r in pool], 1, 2)}")
    for rtt, scheme in dict.fromkeys((k[0], k[1]) for k in groups(pool)):
        by_n = {n: statistics.median(r["maxrss_kb"] for r in runs_of(pool, (rtt, scheme, n), "program"))
                for r2, s2, n in groups(pool) if (r2, s2) == (rtt, scheme)}
        line = (f"{scheme} r={rtt:g} ms: program peak RSS "
                + ", ".join(f"N={n}: {kb / 1024:.1f} MB" for n, kb in by_n.items()))
        if 1000 in by_n and 5000 in by_n:
            line += f"; N=5000 is {by_n[5000] / by_n[1000] * 100 - 100:+.1f} % of N=1000"
        lines.append(line)
    cap = capacity_rows(results)
    if any(c["rtt_ms"] for c in cap):
        lines.append("")
        lines.append(f"Capacity: pool phase per customer (its wall time over N, 10 workers) against the formula "
                     f"3 x (L + k r) / 10, and the customers one run serves in {LIMIT_S} s less {MARGIN_S} s")
        head = (f"{'scheme':6} {'r ms':>4} {'N':>5} | {'ms per customer: formula':>24} {'program':>8} {'floor':>8} "
                f"{'p/formula':>9} | {'rest of the run s':>17} | {'customers per run: formula':>26} {'program':>8} "
                f"{'floor':>8}")
        lines.append(head)
        lines.append("-" * len(head))
        for c in cap:
            lines.append(f"{c['scheme']:6} {c['rtt_ms']:>4g} {c['n']:>5} | {c['formula_ms']:>24.1f} "
                         f"{c['program_ms']:>8.1f} {c['floor_ms']:>8.1f} {c['program_ms'] / c['formula_ms']:>9.3f} | "
                         f"{c['outside_s']:>17.2f} | {c['capacity_formula']:>26} {c['capacity_program']:>8} "
                         f"{c['capacity_floor']:>8}")
        lines.append("rest of the run: the program's wall time outside the pool phase (start-up, registry login "
                     "and list, store)")
    v = results.get("version")
    if v:
        extra = [a - b for a, b in zip(v["wall_s"], v["true_wall_s"])]
        lines.append(f"version: wall {fmt(v['wall_s'], 1e3, 2)} ms over {len(v['wall_s'])} runs; /bin/true "
                     f"interleaved from the same harness: {fmt(v['true_wall_s'], 1e3, 2)} ms; "
                     f"version minus /bin/true: median {statistics.median(extra) * 1e3:.2f} ms; "
                     f"peak RSS {v['maxrss_kb'] / 1024:.1f} MB")
    b = results.get("big")
    if b:
        runs = b["runs"]
        rss = [r["maxrss_kb"] * 1024 for r in runs]
        lines.append(f"large list: {b['customers']} customers, {b['bytes'] / 1e6:.1f} MB of JSON, none selected: "
                     f"wall {fmt([r['wall_s'] for r in runs])} s, CPU {fmt([r['cpu_s'] for r in runs])} s, "
                     f"peak RSS {fmt(rss, 1e-6, 1)} MB = {fmt([x / b['bytes'] for x in rss], 1, 2)} x the document")
    return "\n".join(lines) + "\n"


def pyplot():
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
        return plt
    except ImportError:
        print("matplotlib is not installed: no plot", file=sys.stderr)
        return None


def plot(results: dict, path: Path) -> None:
    """Pool phase against N, at the first round trip measured."""
    cfg = results["config"]
    rtt = cfg["rtts_ms"][0]
    pool = [r for r in results["pool"] if r.get("rtt_ms", 0) == rtt]
    if len({r["n"] for r in pool}) < 2 or not (plt := pyplot()):
        return
    fig, axes = plt.subplots(1, len(cfg["schemes"]), figsize=(6 * len(cfg["schemes"]), 4.5), squeeze=False)
    for ax, scheme in zip(axes[0], cfg["schemes"]):
        ns = sorted({r["n"] for r in pool if r["scheme"] == scheme and r["n"]})
        ax.plot(ns, [ideal_s(n, scheme, cfg["latency_ms"], rtt) for n in ns], "k--", label="ideal")
        for kind, style in (("floor", "s-"), ("program", "o-")):
            walls = [[r["pool_s"] for r in pool if r["scheme"] == scheme and r["n"] == n and r["kind"] == kind]
                     for n in ns]
            m = [statistics.median(w) for w in walls]
            err = [[a - min(w) for a, w in zip(m, walls)], [max(w) - a for a, w in zip(m, walls)]]
            ax.errorbar(ns, m, yerr=err, fmt=style, capsize=3, label=f"{kind} (median, min-max)")
        ax.set_xscale("log")
        ax.set_yscale("log")
        ax.set_xlabel("customers N")
        ax.set_ylabel("pool phase wall time (s)")
        ax.set_title(f"{scheme.upper()}, L = {cfg['latency_ms']:g} ms, r = {rtt:g} ms, 10 workers")
        ax.grid(True, which="both", alpha=0.3)
        ax.legend()
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    print(f"plot: {path}")


def plot_capacity(results: dict, path: Path) -> None:
    """Pool phase per customer and customers per run against the round trip."""
    cap = capacity_rows(results)
    if len({c["rtt_ms"] for c in cap}) < 2 or not (plt := pyplot()):
        return
    fig, (left, right) = plt.subplots(1, 2, figsize=(12, 4.5))
    for scheme, colour in (("http", "tab:blue"), ("https", "tab:red")):
        rows = sorted((c for c in cap if c["scheme"] == scheme), key=lambda c: c["rtt_ms"])
        if not rows:
            continue
        r = [c["rtt_ms"] for c in rows]
        k = "9r + 3L" if scheme == "https" else "6r + 3L"
        left.plot(r, [c["formula_ms"] for c in rows], "--", color=colour, label=f"{scheme.upper()} formula ({k}) / 10")
        left.plot(r, [c["program_ms"] for c in rows], "o", color=colour, label=f"{scheme.upper()} program")
        left.plot(r, [c["floor_ms"] for c in rows], "x", color=colour, ms=9, label=f"{scheme.upper()} floor")
        dense = [min(r) / 2 + (max(r) - min(r) / 2) * i / 100 for i in range(101)]
        right.plot(dense, [(LIMIT_S - MARGIN_S) / (3 * call_s(scheme, results["config"]["latency_ms"], x) / WORKERS)
                           for x in dense],
                   "--", color=colour, label=f"{scheme.upper()} formula")
        right.plot(r, [c["capacity_program"] for c in rows], "o", color=colour, label=f"{scheme.upper()} program")
    left.set_xlabel("round trip r (ms)")
    left.set_ylabel("pool phase per customer (ms)")
    left.set_title(f"10 workers, L = {results['config']['latency_ms']:g} ms, 3 requests per customer")
    right.set_xlabel("round trip r (ms)")
    right.set_ylabel("customers per run")
    right.set_title(f"customers served in {LIMIT_S} s less {MARGIN_S} s")
    for ax in (left, right):
        ax.grid(True, alpha=0.3)
        ax.legend()
    right.set_ylim(bottom=0)
    left.set_ylim(bottom=0)
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    print(f"plot: {path}")


if __name__ == "__main__":
    sys.exit(main())
