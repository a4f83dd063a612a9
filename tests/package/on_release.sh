#!/usr/bin/env bash
# The Debian package on the release this runs on (started by test_package.sh): builds it
# from NEW (this tree) and the package servers run today from OLD (kept once built), checks
# it with lintian and systemd-analyze, installs it, runs the unit's command as systemd would
# (credential directory, empty environment) and the README's cron line as the service user
# against local stand-ins and the real QuestDB, reads the rows back, sweeps /proc as an
# unprivileged user during 200 starts of each form, follows the README's recipe for the
# health file and purges, installs the package in use, upgrades it keeping its
# configuration, runs each form again, and purges checking that nothing is left.
# The metrics file is checked with promtool, from the release's own package, unpacked and
# never installed (COLETOR_PACKAGE_METRICS=0 leaves that check out).
#   on_release.sh NEW_SOURCE OLD_SOURCE
set -euo pipefail

new_src=$1 old_src=$2
release=$COLETOR_PACKAGE_RELEASE
pki=$COLETOR_PEERS_DIR/pki
cache=$COLETOR_PEERS_DIR/package-cache
check_metrics=${COLETOR_PACKAGE_METRICS:-1}
# COLETOR_PACKAGE_NSPAWN=1 also runs the unit, sandbox and all, under systemd in a container.
nspawn=${COLETOR_PACKAGE_NSPAWN:-0}
starts=${COLETOR_PACKAGE_SWEEP_STARTS:-200}
# Fixed, so that the package in use is built once per release and kept.
port=$((18450 + release))
conf=/etc/coletor-pppoe/coletor-pppoe.conf
user=coletor-pppoe
exporter_dir=/var/lib/prometheus/node-exporter
readme=$new_src/README.md
phase_started=$SECONDS timings=''

step() { printf '== [Debian %s] %s\n' "$release" "$*"; }
fail() { printf 'FAILED (Debian %s): %s\n' "$release" "$*" >&2; exit 1; }
timed() { timings+="$1 $((SECONDS - phase_started)) s, "; phase_started=$SECONDS; }

exec 9>/run/lock/coletor-pppoe-package-test.lock
flock 9
! dpkg-query -W coletor-pppoe >/dev/null 2>&1 || fail "coletor-pppoe is already installed here: purge it first"

work=$(mktemp -d /var/tmp/coletor-package.XXXXXX)
chmod 755 "$work"
standins='' installed='' made_dir=''
cleanup() {
  if [[ -n $standins ]]; then kill "$standins" 2>/dev/null; wait "$standins" 2>/dev/null || true; fi
  if [[ -n $installed ]]; then dpkg --purge coletor-pppoe >/dev/null || true; fi
  if [[ -n $made_dir ]]; then rm -rf "$made_dir"; fi
  rm -rf "$work"
}
trap cleanup EXIT

step "tools and build dependencies"
export DEBIAN_FRONTEND=noninteractive
apt=(apt-get -o DPkg::Lock::Timeout=900 -y -qq --no-install-recommends)
install_tools() {
  "${apt[@]}" install lintian python3 curl systemd adduser ca-certificates >/dev/null && (cd "$new_src" && "${apt[@]}" build-dep ./ >/dev/null)
}
install_tools 2>/dev/null || { "${apt[@]}" update && install_tools; } || fail "installing the tools"
mkdir -p "$cache"
if ((check_metrics)); then
  promtool=$cache/promtool-debian$release
  if [[ ! -x $promtool ]]; then
    # Its own package since Debian 13.
    package=prometheus
    if apt-cache show promtool >/dev/null 2>&1; then package=promtool; fi
    (cd "$work" && apt-get -o APT::Sandbox::User=root download -qq "$package" && dpkg-deb -x "$package"_*.deb unpacked) \
      >/dev/null 2>&1 || true
    install -m 755 "$work/unpacked/usr/bin/promtool" "$promtool" 2>/dev/null \
      || fail "could not unpack promtool from Debian's $package package"
  fi
fi
timed tools

step "build: this tree, and the package in use from $COLETOR_OLD_COMMIT"
cat >"$work/site.cmake" <<EOF
set(REGISTRY_API_URL "https://127.0.0.1:$port/api" CACHE STRING "")
set(PORTAL_ORIGIN "https://portal.sandbox.test" CACHE STRING "")
set(REGISTRY_LOGIN "coletor-teste" CACHE STRING "")
set(REGISTRY_PASSWORD "senha-teste" CACHE STRING "")
EOF
build() {  # SOURCE: builds its package, whose path it prints
  (cd "$1" && COLETOR_SITE=$work/site.cmake DEB_BUILD_OPTIONS="parallel=$(nproc)" dpkg-buildpackage -us -uc -b \
     >"$work/build.log" 2>&1) \
    || { tail -n 40 "$work/build.log" >&2; fail "dpkg-buildpackage in $1"; }
  echo "$(dirname "$1")/coletor-pppoe_$(dpkg-parsechangelog -l "$1/debian/changelog" -S Version)_$(dpkg --print-architecture).deb"
}
deb=$(build "$new_src")
old_deb=$cache/coletor-pppoe_${COLETOR_OLD_COMMIT}_debian${release}_port${port}.deb
[[ -f $old_deb ]] || cp "$(build "$old_src")" "$old_deb"
timed build

step "lintian"
setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME=/nonexistent lintian --fail-on error,warning "$deb" \
  || fail "lintian"
timed lintian

step "install"
dpkg -i "$deb" >/dev/null
installed=1
# The paths the README and the manual page give, on either release (/lib is /usr/lib).
unit=/usr/lib/systemd/system/coletor-pppoe
for file in /usr/bin/coletor-pppoe /usr/libexec/coletor-pppoe/run-from-conf /usr/share/man/man1/coletor-pppoe.1.gz \
            "$unit.service" "$unit.timer"; do
  [[ -e $file ]] || fail "$file missing"
done
[[ $(stat -c %a:%U:%G /usr/bin/coletor-pppoe) == 750:root:$user ]] || fail "program not root:$user 0750"
[[ $(stat -c %a:%U:%G "$conf") == 640:root:$user ]] || fail "configuration not root:$user 0640"
[[ $(systemctl is-enabled coletor-pppoe.timer 2>&1) == disabled ]] || fail "the timer is not left disabled"

step "systemd-analyze"
verified=$(systemd-analyze verify "$unit.service" "$unit.timer" 2>&1) || true
[[ -z $verified ]] || fail "systemd-analyze verify: $verified"
systemd-analyze security --offline=yes --threshold=20 "$unit.service" | tail -n 1 || fail "exposure above 2.0"
timed install

standins_up() {  # ACCOUNT: (re)starts the stand-ins, whose registry takes only that account
  if [[ -n $standins ]]; then kill "$standins"; wait "$standins" 2>/dev/null || true; fi
  COLETOR_STANDIN_PASSWORD=$password COLETOR_STANDIN_ACCOUNT=$1 \
    python3 -B "$new_src/tests/package/standins.py" "$pki" "$port" "$partner" >"$work/standins.log" 2>&1 &
  standins=$!
  for _ in $(seq 100); do grep -q ready "$work/standins.log" && return; sleep 0.1; done
  cat "$work/standins.log"; fail "stand-ins did not start"
}
fill_conf() {  # EXTRA_LINES: the operator's configuration
  cat >"$conf" <<EOF
ZABBIX_USER=Admin
ZABBIX_PASSWORD=$password
REGISTRY_USER=usuario
REGISTRY_PASSWORD=$registry_password
QUESTDB_HOST=127.0.0.5
QUESTDB_PORT=19443
QUESTDB_USER=admin
QUESTDB_PASSWORD=quest
DEBUG_SWITCH=normal
SSL_CERT_FILE=$pki/ca.pem
$1
EOF
}
# What systemd does for LoadCredential= and Environment=: a copy readable by the service
# user alone, and COLETOR_CONFIG naming it.
credentials=$work/credentials
install -d -m 0500 -o "$user" -g "$user" "$credentials"
service_run() {  # CONF
  install -m 0400 -o "$user" -g "$user" "$1" "$credentials/coletor-pppoe.conf"
  (cd / && env -i PATH=/usr/bin:/bin CREDENTIALS_DIRECTORY="$credentials" \
     $(sed -n "/^Environment=/{s|^Environment=||; s|%d|$credentials|g; p}" "$unit.service") \
     setpriv --reuid="$user" --regid="$user" --init-groups --no-new-privs \
     $(sed -n 's/^ExecStart=//p' "$unit.service") >"$work/out" 2>"$work/err")
}
# The README's cron line, its command run as cron would: /bin/sh as the line's user, a bare
# environment; `logger` is a stand-in writing to $work/cron.log.
cron_line=$(sed -n 's|^\*/5 \* \* \* \* coletor-pppoe ||p' "$readme")
[[ -n $cron_line ]] || fail "no cron line in the README"
mkdir "$work/bin"
printf '#!/bin/sh\ncat >>%s\n' "$work/cron.log" >"$work/bin/logger"
chmod 755 "$work/bin/logger"
install -m 0644 -o "$user" /dev/null "$work/cron.log"
cron_run() {
  (cd / && env -i PATH="$work/bin:/usr/bin:/bin" HOME=/nonexistent SHELL=/bin/sh LOGNAME="$user" \
     setpriv --reuid="$user" --regid="$user" --init-groups /bin/sh -c "$cron_line")
}
expect_ok() {  # WHAT
  [[ $(tail -n 1 "$work/out") == OK && ! -s $work/err ]] || fail "$1: $(cat "$work/out" "$work/err")"
}

step "the unit's command as its user, the registry account from the configuration"
partner="Pacote $$ $RANDOM"
password='s3nha com espaço '\''aspas'\'' "duplas" $HOME `id` \n #fim'
registry_password="senha-do-registro-$RANDOM$RANDOM"
account_password="conta do arquivo $RANDOM$RANDOM"
standins_up "conta-do-arquivo:$account_password"
metrics=$work/metrics/coletor-pppoe.prom
install -d -o "$user" -g "$user" "$work/metrics"
fill_conf "COLLECTOR_ACCOUNT_LOGIN=conta-do-arquivo
COLLECTOR_ACCOUNT_PASSWORD=$account_password
COLETOR_METRICS_FILE=$metrics"
service_run "$conf" || fail "status $?: $(cat "$work/err")"
expect_ok "the unit's command"

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
  for line in 'coletor_pppoe_run_outcome{outcome="stored"} 0' 'coletor_pppoe_run_rows_written 2' \
              'coletor_pppoe_build_info{version="1.0.4"} 1'; do
    grep -qxF "$line" "$metrics" || fail "no '$line' in: $(cat "$metrics")"
  done
fi

step "the README's cron line as the service user"
cron_run || fail "cron line: $(cat "$work/cron.log")"
[[ $(tail -n 1 "$work/cron.log") == OK ]] || fail "cron line: $(cat "$work/cron.log")"

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
  timeout 120 systemd-nspawn --quiet -D "$work/nsroot" --register=no --keep-unit --bind-ro=/usr --bind-ro=/etc \
    --bind-ro="$pki" --bind="$work/metrics" --bind-ro="$work/dropin:/run/systemd/system/coletor-pppoe.service.d" \
    --boot -- systemd.unit=coletor-pppoe.service >"$work/nspawn.log" 2>&1 || true
  grep -aqE $'coletor-pppoe\\[[0-9]+\\]: OK\r?$' "$work/nspawn.log" \
    || { cat "$work/nspawn.log"; fail "no OK from the run under systemd"; }
fi

step "a configuration without DEBUG_SWITCH is refused"
grep -v '^DEBUG_SWITCH=' "$conf" >"$work/incomplete.conf"
status=0; service_run "$work/incomplete.conf" || status=$?
[[ $status == 78 && $(cat "$work/err") == "Erro: $credentials/coletor-pppoe.conf: falta DEBUG_SWITCH" ]] \
  || fail "status $status: $(cat "$work/err")"
timed runs

step "no secret in /proc during $starts starts of each form, for an unprivileged poller"
printf '%s\n' "$password" "$registry_password" "$account_password" quest >"$work/secrets"
sweep() {  # FORM: its runs under the poller
  setpriv --reuid=nobody --regid=nogroup --clear-groups env -i /usr/bin/python3 -B "$new_src/tests/package/sweep.py" $$ \
    <"$work/secrets" >"$work/sweep" &
  local poller=$! i
  for _ in $(seq 100); do grep -q ready "$work/sweep" && break; sleep 0.05; done
  # Proof that the poller sees another user's processes: one with a secret on its command
  # line for half a second, which starts no other.
  setpriv --reuid="$user" --regid="$user" --clear-groups /usr/bin/python3 -c 'import time; time.sleep(0.5)' "$password"
  for ((i = 0; i < starts; i++)); do
    if [[ $1 == unit ]]; then service_run "$conf" && expect_ok "the unit's command"; else cron_run; fi
  done
  kill -TERM "$poller"; wait "$poller"
  read -r _ seen _ caught < <(tail -n 1 "$work/sweep")
  echo "$1 form: $starts starts, $seen seen by the poller, a secret caught in $((caught - 1)) of them"
  [[ $caught == 1 ]] || fail "a secret in /proc during the $1 form's starts"
}
sweep unit
sweep cron
[[ $(grep -c '^OK$' "$work/cron.log") == $((starts + 1)) ]] || fail "cron runs: $(grep -v '^OK$' "$work/cron.log")"
timed sweep

step "the README's recipe for the health file and an override of the configuration, reinstall, purge"
! dpkg-statoverride --list "$exporter_dir" >/dev/null || fail "this machine has an override of its own on $exporter_dir"
[[ -d ${exporter_dir%/*} ]] || made_dir=${exporter_dir%/*}
[[ -d $exporter_dir ]] || made_dir=${made_dir:-$exporter_dir}
mkdir -p "$exporter_dir"
recipe=$(grep -o 'dpkg-statoverride --update --add root coletor-pppoe 1775 [^`]*' "$readme" | head -n 1)
[[ $recipe == *" $exporter_dir" ]] || fail "no recipe for $exporter_dir in the README"
$recipe
dpkg-statoverride --update --add root "$user" 0440 "$conf"
dpkg -i "$deb" >/dev/null
[[ $(stat -c %a:%U:%G "$conf") == 440:root:$user ]] || fail "the operator's override of $conf not kept"
dpkg --purge coletor-pppoe >/dev/null
installed=''
overrides=$(dpkg-statoverride --list || true)
[[ $overrides != *"$user"* ]] || fail "overrides left after purge: $overrides"
[[ $(stat -c %a:%U:%G "$exporter_dir") == 755:root:root ]] || fail "$exporter_dir not given back to root"
dpkg --configure --pending || fail "dpkg after purge"
timed recipe

step "install the package in use again, fill in its configuration, upgrade"
dpkg -i "$old_deb" >/dev/null
installed=1
[[ $(stat -c %a:%U:%G "$conf") == 600:root:root ]] || fail "the package in use made $conf $(stat -c %a:%U:%G "$conf")"
standins_up "coletor-teste:senha-teste"
fill_conf "COLETOR_METRICS_FILE=$metrics"
kept=$(sha256sum <"$conf")
"${apt[@]}" -o Dpkg::Options::=--force-confold install "$deb" >"$work/upgrade.log" 2>&1 \
  || { cat "$work/upgrade.log"; fail "upgrade"; }
[[ $(dpkg-query -W -f '${Version}' coletor-pppoe) == "$(dpkg-parsechangelog -l "$new_src/debian/changelog" -S Version)" ]] \
  || fail "not upgraded"
[[ $(sha256sum <"$conf") == "$kept" ]] || fail "$conf changed by the upgrade"
[[ $(stat -c %a:%U:%G "$conf") == 640:root:$user ]] || fail "$conf $(stat -c %a:%U:%G "$conf") after the upgrade"
[[ -f $conf.dpkg-dist ]] || fail "no $conf.dpkg-dist: the README says the new file is left there"
program=$(sed -n 's/^ExecStart=\([^ ]*\).*/\1/p' "$unit.service")
[[ -x $program ]] || fail "ExecStart names $program, which is not there"

step "each form after the upgrade, with the kept configuration"
service_run "$conf" || fail "status $?: $(cat "$work/err")"
expect_ok "the unit's command after the upgrade"
cron_run || fail "cron line after the upgrade: $(cat "$work/cron.log")"
[[ $(tail -n 1 "$work/cron.log") == OK ]] || fail "cron line after the upgrade: $(cat "$work/cron.log")"
# The cron line of the package in use's README, its log in the test's folder.
old_line=$(sed -n 's|^\*/5 \* \* \* \* root \(.*\) >>/var/log/coletor-pppoe.log 2>&1$|\1|p' "$old_src/README.md")
[[ -n $old_line ]] || fail "no cron line in the README of the package in use"
(cd / && env -i PATH=/usr/bin:/bin /bin/sh -c "$old_line" >"$work/out" 2>"$work/err") || fail "status $?: $(cat "$work/err")"
expect_ok "the cron line of the package in use"
timed upgrade

step "purge"
dpkg --purge coletor-pppoe >/dev/null
installed=''
left=$(find /etc /usr/lib/systemd /usr/bin /usr/libexec /usr/share/man /usr/share/doc /var/lib/systemd /var/lib/dpkg/info \
       -name '*coletor-pppoe*' 2>/dev/null || true)
[[ -z $left ]] || fail "left after purge: $left"
! getent passwd "$user" >/dev/null || fail "user $user left after purge"
! getent group "$user" >/dev/null || fail "group $user left after purge"
[[ $(dpkg-statoverride --list) != *"$user"* ]] || fail "overrides left after purge"
timed purge
echo "Debian $release: ${timings%, }"
