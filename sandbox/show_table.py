"""Prints the rows of pppoeClientes, read back through QuestDB's /exec.

usage: show_table.py HOST USER PASSWORD EXPECTED_ROWS
"""
import base64
import json
import sys
import time
import urllib.parse
import urllib.request

QUERY = "select nome, parceiro, numero, status, pppoe, timestamp from pppoeClientes order by parceiro, nome"


def fetch(host: str, user: str, password: str) -> dict:
    url = f"http://{host}/exec?" + urllib.parse.urlencode({"query": QUERY, "fmt": "json"})
    request = urllib.request.Request(url, headers={
        "Authorization": "Basic " + base64.b64encode(f"{user}:{password}".encode()).decode()})
    with urllib.request.urlopen(request, timeout=10) as answer:
        return json.load(answer)


def main() -> None:
    host, user, password, expected = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    deadline = time.monotonic() + 15
    answer = fetch(host, user, password)
    while answer.get("count", 0) < expected and time.monotonic() < deadline:
        time.sleep(0.3)  # rows become visible shortly after the write
        answer = fetch(host, user, password)
    names = [column["name"] for column in answer["columns"]]
    rows = [["null" if value is None else str(value) for value in row] for row in answer["dataset"]]
    widths = [max(len(name), *(len(row[i]) for row in rows)) if rows else len(name) for i, name in enumerate(names)]
    line = lambda cells: " | ".join(cell.ljust(width) for cell, width in zip(cells, widths))  # noqa: E731
    print(line(names))
    print("-+-".join("-" * width for width in widths))
    for row in rows:
        print(line(row))
    print(f"({answer['count']} rows)")


if __name__ == "__main__":
    main()
