#!/usr/bin/env bash
# The Debian package end to end: builds it for local stand-ins, checks it with lintian and
# systemd-analyze, installs it, runs the installed service's own ExecStart once as the
# service user (as systemd would: credential directory, empty environment) and the cron
# form once as root, reads the rows back from the real QuestDB, then purges the package
# and checks that nothing of it is left.
# It installs system-wide: one run at a time on a machine, purged whatever happens.
# The metrics file is checked with promtool, from Debian's prometheus package, unpacked
# here and never installed (COLETOR_PACKAGE_METRICS=0 leaves that check out).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export COLETOR_PEERS_DIR=${COLETOR_PEERS_DIR:-/var/tmp/coletor-peers}
pki=$COLETOR_PEERS_DIR/pki
check_metrics=${COLETOR_PACKAGE_METRICS:-1}
# The packaged program trusts the system store; the configuration names the test CA
# through SSL_CERT_FILE. COLETOR_PACKAGE_COMPILE_CA=1 compiles it in as well.
compile_ca=${COLETOR_PACKAGE_COMPILE_CA:-0}
# COLETOR_PACKAGE_NSPAWN=1 also runs the unit, sandbox and all, under systemd in a container.
nspawn=${COLETOR_PACKAGE_NSPAWN:-0}
unit=/lib/systemd/system/coletor-pppoe
started=$SECONDS

step() { printf '== %s\n' "$*"; }
fail() { printf 'FAILED: %s\n' "$*" >&2; exit 1; }

exec 9>/run/lock/coletor-pppoe-package-test.lock
flock 9
! dpkg-query -W coletor-pppoe >/dev/null 2>&1 || fail "coletor-pppoe is already installed here: purge it first"

work=$(mktemp -d /var/tmp/coletor-package.XXXXXX)
chmod 755 "$work"
standins='' installed='' questdb_started=''
cleanup() {
  if [[ -n $standins ]]; then kill "$standins" 2>/dev/null; wait "$standins" 2>/dev/null || true; fi
  if [[ -n $installed ]]; then dpkg --purge coletor-pppoe >/dev/null || true; fi
  if [[ -n $questdb_started ]]; then bash "$root/tests/peers/questdb.sh" stop >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

step "tools and build dependencies"
export DEBIAN_FRONTEND=noninteractive
apt=(apt-get -o DPkg::Lock::Timeout=900 -y -qq --no-install-recommends)
command -v lintian >/dev/null || "${apt[@]}" install lintian >/dev/null
(cd "$root" && "${apt[@]}" build-dep ./ >/dev/null)
if ((check_metrics)); then
  (cd "$work" && apt-get download -qq prometheus 2>/dev/null && dpkg-deb -x prometheus_*.deb prometheus) || true
  promtool=$work/prometheus/usr/bin/promtool
  [[ -x $promtool ]] || fail "could not unpack promtool from Debian's prometheus package"
fi

step "QuestDB peer"
if ! bash "$root/tests/peers/questdb.sh" status; then
  bash "$root/tests/peers/questdb.sh" install
  bash "$root/tests/peers/questdb.sh" start
  questdb_started=1
fi

step "build"
port=${COLETOR_PACKAGE_REGISTRY_PORT:-$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')}
mkdir "$work/src"
(cd "$root" && git ls-files -z --cached --others --exclude-standard | tar --null -T - -c) | tar -x -C "$work/src"
cat >"$work/site.cmake" <<EOF
set(REGISTRY_API_URL "https://127.0.0.1:$port/api" CACHE STRING "")
set(PORTAL_ORIGIN "https://portal.sandbox.test" CACHE STRING "")
set(REGISTRY_LOGIN "coletor-teste" CACHE STRING "")
set(REGISTRY_PASSWORD "senha-teste" CACHE STRING "")
EOF
if ((compile_ca)); then echo "set(CA_BUNDLE \"$pki/ca.pem\" CACHE FILEPATH \"\")" >>"$work/site.cmake"; fi
(cd "$work/src" && COLETOR_SITE=$work/site.cmake dpkg-buildpackage -us -uc -b >"$work/build.log" 2>&1) \
  || { tail -n 40 "$work/build.log"; fail "dpkg-buildpackage"; }
deb=$work/coletor-pppoe_$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)_$(dpkg --print-architecture).deb
[[ -f $deb ]] || fail "no $deb"

step "lintian"
setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME=/nonexistent lintian --fail-on error,warning "$deb" \
  || fail "lintian"

step "install"
dpkg -i "$deb" >/dev/null
installed=1
for file in /usr/bin/coletor-pppoe /usr/libexec/coletor-pppoe/run-from-conf /usr/share/man/man1/coletor-pppoe.1.gz \
            "$unit.service" "$unit.timer"; do
  [[ -e $file ]] || fail "$file missing"
done
[[ $(stat -c %a:%U:%G /etc/coletor-pppoe/coletor-pppoe.conf) == 600:root:root ]] || fail "configuration not root's 0600"
[[ $(systemctl is-enabled coletor-pppoe.timer 2>&1) == disabled ]] || fail "the timer is not left disabled"

step "systemd-analyze"
verified=$(systemd-analyze verify "$unit.service" "$unit.timer" 2>&1) || true
[[ -z $verified ]] || fail "systemd-analyze verify: $verified"
systemd-analyze security --offline=yes --threshold=20 "$unit.service" | tail -n 1 || fail "exposure above 2.0"

step "one run of the service's ExecStart as its user"
partner="Pacote $$ $RANDOM"
password='s3nha com espaço '\''aspas'\'' "duplas" $HOME `id` \n #fim'
python3 -B "$root/tests/package/standins.py" "$pki" "$port" "$partner" "$password" >"$work/standins.log" 2>&1 &
standins=$!
for _ in $(seq 100); do grep -q ready "$work/standins.log" && break; sleep 0.1; done
grep -q ready "$work/standins.log" || { cat "$work/standins.log"; fail "stand-ins did not start"; }
conf=/etc/coletor-pppoe/coletor-pppoe.conf
cat >"$conf" <<EOF
ZABBIX_USER=Admin
ZABBIX_PASSWORD=$password
REGISTRY_USER=usuario
REGISTRY_PASSWORD=senha
QUESTDB_HOST=127.0.0.5
QUESTDB_PORT=19443
QUESTDB_USER=admin
QUESTDB_PASSWORD=quest
DEBUG_SWITCH=normal
SSL_CERT_FILE=$pki/ca.pem
EOF
user=$(sed -n 's/^User=//p' "$unit.service")
metrics=$work/metrics/coletor-pppoe.prom
if ((check_metrics)); then
  install -d -o "$user" -g "$user" "$work/metrics"
  echo "COLETOR_METRICS_FILE=$metrics" >>"$conf"
fi
# What systemd does for LoadCredential=: a copy readable by the service user alone.
credentials=$work/credentials
install -d -m 0500 -o "$user" -g "$user" "$credentials"
service_run() {
  install -m 0400 -o "$user" -g "$user" "$1" "$credentials/coletor-pppoe.conf"
  (cd / && env -i PATH=/usr/bin:/bin CREDENTIALS_DIRECTORY="$credentials" \
     setpriv --reuid="$user" --regid="$user" --init-groups --no-new-privs \
     $(sed -n 's/^ExecStart=//p' "$unit.service") >"$work/out" 2>"$work/err")
}
service_run "$conf" || fail "status $?: $(cat "$work/err")"
[[ $(tail -n 1 "$work/out") == OK && ! -s $work/err ]] || fail "output: $(cat "$work/out" "$work/err")"

step "rows read back from QuestDB"
query="select nome, numero, status, pppoe from pppoeClientes where parceiro = '$partner' order by numero"
expected="[['Pacote Responde', 901, 1, 1843], ['Pacote Recusa', 902, 0, 0]]"
for _ in $(seq 60); do
  found=$(curl -sS --noproxy '*' -u admin:quest -G http://127.0.0.5/exec --data-urlencode "query=$query" \
          | python3 -c 'import json, sys; print(json.load(sys.stdin).get("dataset"))')
  [[ $found == "$expected" ]] && break
  sleep 0.5
done
[[ $found == "$expected" ]] || fail "rows: $found"

if ((check_metrics)); then
  step "metrics file"
  [[ $(stat -c %U "$metrics") == "$user" ]] || fail "$metrics not written by $user"
  "$promtool" check metrics <"$metrics" || fail "promtool check metrics"
  grep -qx 'coletor_pppoe_run_outcome{outcome="stored"} 0' "$metrics" && grep -qx 'coletor_pppoe_run_rows_written 2' "$metrics" \
    || fail "metrics: $(cat "$metrics")"
fi

step "the cron form: root reads /etc, the program runs as the service user"
cron_run=$(/usr/libexec/coletor-pppoe/run-from-conf 2>&1) || fail "cron form: $cron_run"
[[ $(tail -n 1 <<<"$cron_run") == OK ]] || fail "cron form: $cron_run"

if ((nspawn)); then
  step "one run under systemd itself: a container booted from this machine's /usr and /etc"
  command -v systemd-nspawn >/dev/null || "${apt[@]}" install systemd-container >/dev/null
  mkdir -p "$work/nsroot/usr/lib" "$work/nsroot/etc" "$work/dropin"
  cp /usr/lib/os-release "$work/nsroot/usr/lib/"
  for dir in bin sbin lib lib64; do ln -s "usr/$dir" "$work/nsroot/$dir"; done
  # The unit as installed, plus: its lines on the console, power off after the run, and
  # the test's folders, which its private /var/tmp would hide.
  printf '[Unit]\nSuccessAction=poweroff-force\nFailureAction=poweroff-force\n[Service]\nStandardOutput=journal+console\nBindReadOnlyPaths=%s\nBindPaths=-%s\n' \
    "$pki" "$work/metrics" >"$work/dropin/test.conf"
  mkdir -p "$work/metrics"
  timeout 120 systemd-nspawn --quiet -D "$work/nsroot" --register=no --keep-unit --bind-ro=/usr --bind-ro=/etc \
    --bind-ro="$pki" --bind="$work/metrics" --bind-ro="$work/dropin:/run/systemd/system/coletor-pppoe.service.d" \
    --boot -- systemd.unit=coletor-pppoe.service >"$work/nspawn.log" 2>&1 || true
  grep -aqE $'coletor-pppoe\\[[0-9]+\\]: OK\r?$' "$work/nspawn.log" \
    || { cat "$work/nspawn.log"; fail "no OK from the run under systemd"; }
fi

step "a configuration without DEBUG_SWITCH is refused"
grep -v '^DEBUG_SWITCH=' "$conf" >"$work/incomplete.conf"
status=0; service_run "$work/incomplete.conf" || status=$?
[[ $status == 78 && $(cat "$work/err") == "run-from-conf: DEBUG_SWITCH missing from $credentials/coletor-pppoe.conf" ]] \
  || fail "status $status: $(cat "$work/err")"

step "purge"
dpkg --purge coletor-pppoe >/dev/null
installed=''
left=$(find /etc /lib/systemd /usr/bin /usr/libexec /usr/share/man /usr/share/doc /var/lib/systemd /var/lib/dpkg/info \
       -name '*coletor-pppoe*' 2>/dev/null || true)
[[ -z $left ]] || fail "left after purge: $left"
! getent passwd coletor-pppoe >/dev/null || fail "user coletor-pppoe left after purge"
! getent group coletor-pppoe >/dev/null || fail "group coletor-pppoe left after purge"

echo "package test passed in $((SECONDS - started)) s"
