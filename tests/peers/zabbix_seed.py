#!/usr/bin/env python3
"""Seed or remove the PPPoE total trapper item on the loopback Zabbix peer.

Usage: zabbix_seed.py seed VALUE | unseed
Called by zabbix.sh and zabbix7.sh, which set ZABBIX_API_URL, ZABBIX_SERVER_CONF and
ZABBIX_SERVER_PORT; zabbix7.sh also ZABBIX_SEED_CHROOT, the root its server runs in.
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
# The server's own tools, run where the server runs.
IN_ROOT = ["chroot", os.environ["ZABBIX_SEED_CHROOT"]] if os.environ.get("ZABBIX_SEED_CHROOT") else []
HOST = "Zabbix server"
KEY = 'grpsum["CONCENTRADORES","pppoeTotal",last]'
WAIT_S = 60


class ApiError(Exception):
    pass


class Session:
    """A token and how this front end wants it: 6.4 on take "username" and a bearer
    header, and 7.2 on refuse an "auth" member altogether."""

    def __init__(self):
        version = tuple(int(part) for part in call("apiinfo.version", []).split(".")[:2])
        self.bearer = version >= (6, 4)
        self.token = call("user.login", {"username" if self.bearer else "user": "Admin",
                                         "password": "zabbix"})

    def __call__(self, method, params):
        if self.bearer:
            return call(method, params, headers={"Authorization": "Bearer " + self.token})
        return call(method, params, auth=self.token)


def call(method, params, auth=None, headers=None):
    body = {"jsonrpc": "2.0", "method": method, "params": params, "id": 1}
    if auth is not None:
        body["auth"] = auth
    req = urllib.request.Request(
        URL, data=json.dumps(body).encode(),
        headers={"Content-Type": "application/json-rpc", **(headers or {})})
    with urllib.request.urlopen(req, timeout=30) as resp:
        answer = json.load(resp)
    if "error" in answer:
        raise ApiError(f"{method}: {answer['error']}")
    return answer["result"]


def find_items(api):
    return api("item.get", {
        "output": ["itemid", "name", "lastvalue"],
        "host": HOST,
        "filter": {"key_": KEY},
    })


def reload_cache():
    # Without this the server drops values for a trapper item it has not seen.
    subprocess.run([*IN_ROOT, "zabbix_server", "-c", SERVER_CONF, "-R", "config_cache_reload"],
                   check=True, stdout=subprocess.DEVNULL)


def send(value):
    # zabbix_sender exits non-zero when the server rejects the value (item
    # not in its cache yet): expected while waiting, so not fatal.
    subprocess.run([*IN_ROOT, "zabbix_sender", "-z", "127.0.0.1", "-p", SERVER_PORT,
                    "-s", HOST, "-k", KEY, "-o", value],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def seed(api, value):
    items = find_items(api)
    if not items:
        hosts = api("host.get", {"output": ["hostid"], "filter": {"host": [HOST]}})
        if not hosts:
            raise ApiError(f"host {HOST!r} not found")
        api("item.create", {
            "hostid": hosts[0]["hostid"],
            "name": "PPPoE total (test)",
            "key_": KEY,
            "type": 2,        # Zabbix trapper
            "value_type": 3,  # numeric unsigned
        })
        print(f"created item {KEY}", file=sys.stderr)
    reload_cache()
    deadline = time.monotonic() + WAIT_S
    tries = 0
    while time.monotonic() < deadline:
        send(value)
        tries += 1
        time.sleep(1)
        items = find_items(api)
        if items and items[0]["lastvalue"] == value:
            print(f"item {KEY} lastvalue={value} (itemid {items[0]['itemid']}, "
                  f"{tries} send(s))", file=sys.stderr)
            return 0
        if tries % 5 == 0:
            reload_cache()
    print(f"timeout: lastvalue is not {value} after {WAIT_S}s", file=sys.stderr)
    return 1


def unseed(api):
    ids = [i["itemid"] for i in find_items(api)]
    if ids:
        api("item.delete", ids)
    reload_cache()
    print(f"removed {len(ids)} item(s) {KEY}", file=sys.stderr)
    return 0


def main(argv):
    if len(argv) == 3 and argv[1] == "seed":
        if not argv[2].isdigit():
            print("VALUE must be an unsigned integer", file=sys.stderr)
            return 2
        argv[2] = str(int(argv[2]))  # as the API prints it: no leading zeros
        action = lambda api: seed(api, argv[2])
    elif len(argv) == 2 and argv[1] == "unseed":
        action = unseed
    else:
        print(__doc__, file=sys.stderr)
        return 2
    api = Session()
    try:
        return action(api)
    finally:
        api("user.logout", [])


if __name__ == "__main__":
    sys.exit(main(sys.argv))
