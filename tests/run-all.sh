#!/usr/bin/env bash
# Builds the program and runs every test: unit tests, then the Python tests against
# local fakes and real peers (QuestDB behind nginx, Zabbix 6.0), then the unit and
# HTTP tests again under AddressSanitizer and UndefinedBehaviorSanitizer.
# Run scripts/setup.sh once before (it installs the build dependencies).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
export COLETOR_PEERS_DIR=${COLETOR_PEERS_DIR:-/var/tmp/coletor-peers}
jobs=$(nproc)

build() {  # build FOLDER [cmake options]
  local folder=$1; shift
  cmake -S . -B "$folder" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$folder" -j "$jobs"
}

peers_up=()
stop_peers() {
  local peer
  for peer in "${peers_up[@]}"; do bash "tests/peers/$peer.sh" stop >/dev/null 2>&1 || true; done
}
trap stop_peers EXIT

echo "== build"
build build

echo "== unit tests"
(cd build && ctest --output-on-failure)

echo "== real peers"
bash tests/peers/questdb.sh install && bash tests/peers/questdb.sh start && peers_up+=(questdb)
if [[ ${COLETOR_SKIP_ZABBIX:-} != 1 ]]; then
  bash tests/peers/zabbix.sh install && bash tests/peers/zabbix.sh start && peers_up+=(zabbix)
fi

echo "== python tests"
python3 -m pytest -q tests -p no:cacheprovider

echo "== sanitizers (address, undefined)"
build build-asan -DCOLETOR_SANITIZE=ON
(cd build-asan && ctest --output-on-failure)
COLETOR_BUILD="$root/build-asan" python3 -m pytest -q tests/net -p no:cacheprovider
