#!/usr/bin/env bash
# The whole product on one machine: installs and builds everything, starts a stand-in
# registry and Zabbix fleet (plus the real Zabbix 6.0 and 7.0 when installed) and a real
# QuestDB behind its TLS proxy, runs the collector in debug mode and in normal mode,
# shows the rows it stored, and stops everything it started.
set -euo pipefail
# The builds here trust the test authority compiled into them; an SSL_CERT_FILE set for the
# whole machine would name another store instead.
unset SSL_CERT_FILE

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
export COLETOR_PEERS_DIR=${COLETOR_PEERS_DIR:-/var/tmp/coletor-peers}
pki=$COLETOR_PEERS_DIR/pki
questdb=(127.0.0.5 19443 admin quest)

step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

step "setting up (packages, test certificate authority, build)"
bash scripts/setup.sh
bash tests/pki/make-pki.sh "$pki"
cmake -S . -B build-sandbox -G Ninja -DCMAKE_BUILD_TYPE=Release -DCOLETOR_TESTS=OFF \
  -DREGISTRY_API_URL=https://127.0.0.1:18443/api -DPORTAL_ORIGIN=https://portal.sandbox.test \
  -DCA_BUNDLE="$pki/ca.pem" >/dev/null
cmake --build build-sandbox --target coletor-pppoe -j "$(nproc)"

started=()
standins=
cleanup() {
  [[ -n $standins ]] && kill "$standins" 2>/dev/null && wait "$standins" 2>/dev/null
  local peer
  for peer in "${started[@]}"; do bash "tests/peers/$peer.sh" stop >/dev/null 2>&1 || true; done
}
trap cleanup EXIT

step "starting QuestDB behind nginx (SQL on ${questdb[0]}:80, ingestion over TLS on ${questdb[0]}:${questdb[1]})"
bash tests/peers/questdb.sh install
bash tests/peers/questdb.sh start && started+=(questdb)

real_zabbix=()  # VERSION=URL of each real front end, for the stand-in registry
if dpkg-query -W -f='${Status}' zabbix-server-pgsql 2>/dev/null | grep -q "install ok installed"; then
  step "starting the real Zabbix 6.0"
  bash tests/peers/zabbix.sh install && bash tests/peers/zabbix.sh start && started+=(zabbix)
  bash tests/peers/zabbix.sh seed 4242 && real_zabbix+=(6.0=http://127.0.0.1:18080)
else
  step "the real Zabbix 6.0 is not installed (bash tests/peers/zabbix.sh install adds it)"
fi
if [[ -f $COLETOR_PEERS_DIR/zabbix7/.packages ]]; then
  step "starting the real Zabbix 7.0"
  # Stopped at exit even if its start fails half-way: stop also unmounts its root's /proc.
  started+=(zabbix7)
  bash tests/peers/zabbix7.sh install && bash tests/peers/zabbix7.sh start
  bash tests/peers/zabbix7.sh seed 7070 && real_zabbix+=(7.0=http://127.0.0.1:18081)
else
  step "the real Zabbix 7.0 is not installed (bash tests/peers/zabbix7.sh install adds it)"
fi

step "starting the stand-in registry and Zabbix front ends"
python3 sandbox/standins.py "$pki" "${real_zabbix[@]}" &
standins=$!
for _ in $(seq 100); do
  (exec 3<>/dev/tcp/127.0.0.1/18443) 2>/dev/null && break
  sleep 0.1
done

args=(Admin zabbix usuario senha "${questdb[@]}")
step "debug run: ./coletor-pppoe descobertaPPPoE ${args[*]} debug"
./build-sandbox/coletor-pppoe descobertaPPPoE "${args[@]}" debug
echo "(exit status $?)"

step "normal run: ./coletor-pppoe descobertaPPPoE ${args[*]} normal"
./build-sandbox/coletor-pppoe descobertaPPPoE "${args[@]}" normal
echo "(exit status $?)"

step "rows now in pppoeClientes"
expected=$((11 + ${#real_zabbix[@]}))
python3 sandbox/show_table.py "${questdb[0]}" "${questdb[2]}" "${questdb[3]}" "$expected"
