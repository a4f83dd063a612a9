#!/usr/bin/env bash
# Builds the program and runs every test: the unit tests and the Python tests against
# local stand-ins and real peers (QuestDB behind nginx, Zabbix 6.0 and 7.0), the same again
# on a build with AddressSanitizer and UndefinedBehaviorSanitizer, then the hardening checks.
# Run scripts/setup.sh once before (it installs the build dependencies).
# COLETOR_SKIP_ZABBIX=1 leaves both real Zabbix out, COLETOR_SKIP_ZABBIX7=1 only the 7.0
# (each first install takes a minute or more).
set -euo pipefail
# The builds here trust the test authority compiled into them; an SSL_CERT_FILE set for the
# whole machine would name another store instead.
unset SSL_CERT_FILE

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
logs=$(mktemp -d)
stop_peers() {
  local peer
  for peer in "${peers_up[@]}"; do bash "tests/peers/$peer.sh" stop >/dev/null 2>&1 || true; done
  rm -rf "$logs"
}
trap stop_peers EXIT

# Work that waits on downloads or on another root runs beside work that needs the CPU;
# its output is printed whole once it is joined.
declare -A beside=()
start_beside() {  # NAME COMMAND...
  local name=$1; shift
  "$@" >"$logs/$name.log" 2>&1 &
  beside[$name]=$!
}
join_beside() {  # NAME
  local status=0
  wait "${beside[$1]}" || status=$?
  cat "$logs/$1.log"
  ((status == 0)) || { echo "FAILED: $1 (status $status)" >&2; exit 1; }
}

install_peers() {
  bash tests/peers/questdb.sh install
  if [[ ${COLETOR_SKIP_ZABBIX:-} != 1 ]]; then
    bash tests/peers/zabbix.sh install
    if [[ ${COLETOR_SKIP_ZABBIX7:-} != 1 ]]; then bash tests/peers/zabbix7.sh install; fi
  fi
}

echo "== build, the real peers installed beside it"
start_beside "peer installs" install_peers
build build
join_beside "peer installs"

echo "== real peers"
bash tests/peers/questdb.sh start && peers_up+=(questdb)
export COLETOR_QUESTDB_HOST=127.0.0.5 COLETOR_QUESTDB_PORT=19443 COLETOR_QUESTDB_USER=admin \
  COLETOR_QUESTDB_PASS=quest COLETOR_QUESTDB_CA=$COLETOR_PEERS_DIR/pki/ca.pem
declare -A seeded=()  # real Zabbix peer -> the PPPoE value it holds
if [[ ${COLETOR_SKIP_ZABBIX:-} != 1 ]]; then
  bash tests/peers/zabbix.sh start && peers_up+=(zabbix)
  export COLETOR_ZABBIX_URL=http://127.0.0.1:18080 COLETOR_ZABBIX_VALUE=4242
  bash tests/peers/zabbix.sh seed "$COLETOR_ZABBIX_VALUE"
  seeded[zabbix]=$COLETOR_ZABBIX_VALUE
  if [[ ${COLETOR_SKIP_ZABBIX7:-} != 1 ]]; then
    # Stopped at exit even if its start fails half-way: stop also unmounts its root's /proc.
    peers_up+=(zabbix7)
    bash tests/peers/zabbix7.sh start
    export COLETOR_ZABBIX7_URL=http://127.0.0.1:18081 COLETOR_ZABBIX7_VALUE=7070
    bash tests/peers/zabbix7.sh seed "$COLETOR_ZABBIX7_VALUE"
    seeded[zabbix7]=$COLETOR_ZABBIX7_VALUE
  fi
fi

echo "== unit tests"
(cd build && ctest --output-on-failure)
if ((${#seeded[@]})); then
  echo "== real Zabbix with the PPPoE item absent"
  for peer in "${!seeded[@]}"; do bash "tests/peers/$peer.sh" unseed; done
  COLETOR_ZABBIX_VALUE=none COLETOR_ZABBIX7_VALUE=none build/tests/coletor_tests --gtest_filter='*RealZabbix.Reads*'
  for peer in "${!seeded[@]}"; do bash "tests/peers/$peer.sh" seed "${seeded[$peer]}"; done
fi

echo "== python tests"
python3 -m pytest -q tests -p no:cacheprovider

# Each release installs in its own root, with its own stand-in port and lock.
echo "== Debian package on Debian 12 and, beside it, on Debian 13"
start_beside "Debian 13 package" bash tests/package/test_package.sh --release 13
bash tests/package/test_package.sh
join_beside "Debian 13 package"

echo "== sanitizers (address, undefined)"
build build-asan -DCOLETOR_SANITIZE=ON
(cd build-asan && ctest --output-on-failure)
# The fault suite runs under the sanitizers in the hardening step below.
COLETOR_BUILD="$root/build-asan" COLETOR_SANITIZE=1 python3 -m pytest -q tests -p no:cacheprovider --ignore=tests/faults

echo "== hardening (thread sanitizer, fault suite under sanitizers, memcheck, fuzzing)"
bash tests/hardening.sh
