#!/usr/bin/env python3
"""Seed or remove the PPPoE total trapper item on the loopback Zabbix peer.

Usage: zabbix_seed.py seed VALUE | unseed
Called by zabbix.sh, which sets ZABBIX_API_URL, ZABBIX_SERVER_CONF and
ZABBIX_SERVER_PORT.
"""
import json
import os
import subprocess
import sys
import time
import urllib.request

URL = os.environ.get("ZABBIX_API_URL", "http://127.0.0.1:18080/api_jsonrpc.php")
SERVER_CONF = os.environ.get("ZABBIX_SERVER_CONF", "")
SERVER_PORT = os.environ.get("ZABBIX_SERVER_PORT", "10051")
HOST = "Zabbix server"
KEY = 'grpsum["CONCENTRADORES","pppoeTotal",last]'
WAIT_S = 60


class ApiError(Exception):
    pass


def call(method, params, auth=None):
    body = {"jsonrpc": "2.0", "method": method, "params": params, "id": 1, "auth": auth}
    req = urllib.request.Request(
        URL, data=json.dumps(body).encode(),
        headers={"Content-Type": "application/json-rpc"})
    with urllib.request.urlopen(req, timeout=30) as resp:
        answer = json.load(resp)
    if "error" in answer:
        raise ApiError(f"{method}: {answer['error']}")
    return answer["result"]


def find_items(auth):
    return call("item.get", {
        "output": ["itemid", "name", "lastvalue"],
        "host": HOST,
        "filter": {"key_": KEY},
    }, auth)


def reload_cache():
    # Without this the server drops values for a trapper item it has not seen.
    subprocess.run(["zabbix_server", "-c", SERVER_CONF, "-R", "config_cache_reload"],
                   check=True, stdout=subprocess.DEVNULL)


def send(value):
    # zabbix_sender exits non-zero when the server rejects the value (item
    # not in its cache yet): expected while waiting, so not fatal.
    subprocess.run(["zabbix_sender", "-z", "127.0.0.1", "-p", SERVER_PORT,
                    "-s", HOST, "-k", KEY, "-o", value],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def seed(auth, value):
    items = find_items(auth)
    if not items:
        hosts = call("host.get", {"output": ["hostid"], "filter": {"host": [HOST]}}, auth)
        if not hosts:
            raise ApiError(f"host {HOST!r} not found")
        call("item.create", {
            "hostid": hosts[0]["hostid"],
            "name": "PPPoE total (test)",
            "key_": KEY,
            "type": 2,        # Zabbix trapper
            "value_type": 3,  # numeric unsigned
        }, auth)
        print(f"created item {KEY}", file=sys.stderr)
    reload_cache()
    deadline = time.monotonic() + WAIT_S
    tries = 0
    while time.monotonic() < deadline:
        send(value)
        tries += 1
        time.sleep(1)
        items = find_items(auth)
        if items and items[0]["lastvalue"] == value:
            print(f"item {KEY} lastvalue={value} (itemid {items[0]['itemid']}, "
                  f"{tries} send(s))", file=sys.stderr)
            return 0
        if tries % 5 == 0:
            reload_cache()
    print(f"timeout: lastvalue is not {value} after {WAIT_S}s", file=sys.stderr)
    return 1


def unseed(auth):
    ids = [i["itemid"] for i in find_items(auth)]
    if ids:
        call("item.delete", ids, auth)
    reload_cache()
    print(f"removed {len(ids)} item(s) {KEY}", file=sys.stderr)
    return 0


def main(argv):
    if len(argv) == 3 and argv[1] == "seed":
        if not argv[2].isdigit():
            print("VALUE must be an unsigned integer", file=sys.stderr)
            return 2
        argv[2] = str(int(argv[2]))  # as the API prints it: no leading zeros
        action = lambda auth: seed(auth, argv[2])
    elif len(argv) == 2 and argv[1] == "unseed":
        action = unseed
    else:
        print(__doc__, file=sys.stderr)
        return 2
    auth = call("user.login", {"user": "Admin", "password": "zabbix"})
    try:
        return action(auth)
    finally:
        call("user.logout", [], auth)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
