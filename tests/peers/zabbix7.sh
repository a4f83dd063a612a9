#!/usr/bin/env bash
# A real Zabbix 7.0 LTS front end on loopback, for tests. Debian 12 ships only 6.0, so
# this one runs from a Debian 13 root (debootstrap) through chroot, beside the 6.0 peer.
#   zabbix7.sh install | start | stop | status | seed VALUE | unseed
# API:   http://127.0.0.1:18081/api_jsonrpc.php   (Admin / zabbix)
# State: ${COLETOR_PEERS_DIR:-/var/tmp/coletor-peers}/zabbix7/ (the root, its markers, apt logs)
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
PEERS=${COLETOR_PEERS_DIR:-/var/tmp/coletor-peers}
S=$PEERS/zabbix7
ROOT=$S/root

PG_PORT=${ZABBIX7_PEER_PG_PORT:-15433}
HTTP_PORT=${ZABBIX7_PEER_HTTP_PORT:-18081}
SERVER_PORT=${ZABBIX7_PEER_SERVER_PORT:-10052}
API_URL=http://127.0.0.1:$HTTP_PORT/api_jsonrpc.php
SUITE=trixie

# php8.4-fpm named by version: the generic php would bring Apache in.
PACKAGES=(zabbix-server-pgsql zabbix-frontend-php php8.4-pgsql php8.4-fpm postgresql
          nginx-light zabbix-sender)
HOST_PACKAGES=(debootstrap curl python3 iproute2 procps)

# Paths as the processes in the root see them; on this machine they are under $ROOT.
P=/srv/peer
PGDATA=$P/pg/data
PGRUN=$P/pg/run
ZBX=$P/server
PHP=$P/php
NGX=$P/nginx
SQL_DIR=/usr/share/zabbix-server-pgsql
CHROOT_PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin

log() { printf 'zabbix7-peer: %s\n' "$*" >&2; }
die() { log "error: $*"; exit 1; }

mirror() { echo "${ZABBIX7_PEER_MIRROR:-$(bash "$HERE/mirror.sh")}"; }

# Runs a command in the root, as root or as USER, with a clean environment.
in_root() {
  local user=$1; shift
  local env=(/usr/bin/env -i "PATH=$CHROOT_PATH" LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive)
  if [[ $user == root ]]; then
    chroot "$ROOT" "${env[@]}" HOME=/root "$@"
  else
    chroot "$ROOT" /usr/bin/setpriv --reuid="$user" --regid="$user" --init-groups \
      "${env[@]}" HOME=/tmp "$@"
  fi
}

# A zombie counts as gone: PID 1 in some sandboxes is slow to reap.
proc_alive() {
  local st
  st=$(ps -o stat= -p "$1" 2>/dev/null) || return 1
  [[ $st != Z* ]]
}
pid_alive() { [[ -f $ROOT$1 ]] && proc_alive "$(head -n 1 "$ROOT$1")"; }
port_busy() { ss -Hltn "sport = :$1" | grep -q .; }

api_up() {
  curl -fsS -m 5 -o /dev/null -H 'Content-Type: application/json-rpc' \
    -d '{"jsonrpc": "2.0", "method": "apiinfo.version", "params": [], "id": 1}' \
    "$API_URL" 2>/dev/null
}

# Everything mounted at or under the root, deepest first.
mounts_under_root() {
  awk -v r="$ROOT" '$2 == r || index($2, r "/") == 1 { print $2 }' /proc/mounts | sort -r
}
mount_proc() {
  mountpoint -q "$ROOT/proc" || mount -t proc proc "$ROOT/proc"
}
unmount_all() {
  local m
  for m in $(mounts_under_root); do umount "$m" 2>/dev/null || umount -l "$m"; done
}

# ---------------------------------------------------------------- install

host_packages() {
  local p missing=()
  for p in "${HOST_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  log "installing ${missing[*]} on this machine"
  { apt-get -o DPkg::Lock::Timeout=900 update -qq &&
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y -q \
      --no-install-recommends "${missing[@]}"; } >"$S/host-apt.log" 2>&1 \
    || { tail -n 20 "$S/host-apt.log" >&2; die "apt-get failed (see $S/host-apt.log)"; }
}

# Each marker is written only after its whole step. A step cut short is done again
# from scratch: a half-made root, or one whose package install was cut short, is
# removed and made anew, never patched.
bootstrap_root() {
  if [[ -f $S/.packages-begun && ! -f $S/.packages ]]; then rm -f "$S/.bootstrapped"; fi
  [[ -f $S/.bootstrapped && -x $ROOT/usr/bin/apt-get ]] && return 0
  rm -f "$S/.packages" "$S/.packages-begun" "$S/.bootstrapped"
  unmount_all
  [[ -z $(mounts_under_root) ]] || die "something is still mounted under $ROOT"
  rm -rf --one-file-system "$ROOT"
  log "debootstrap $SUITE into $ROOT from $(mirror)"
  debootstrap --variant=minbase "$SUITE" "$ROOT" "$(mirror)" >"$S/debootstrap.log" 2>&1 \
    || { unmount_all; tail -n 20 "$S/debootstrap.log" >&2; die "debootstrap failed (see $S/debootstrap.log)"; }
  touch "$S/.bootstrapped"
}

install_packages() {
  [[ -f $S/.packages ]] && return 0
  # Nothing in this root is ever started by a maintainer script, nor is a default
  # PostgreSQL cluster made: the peer makes its own on its own port.
  printf '#!/bin/sh\nexit 101\n' > "$ROOT/usr/sbin/policy-rc.d"
  chmod 755 "$ROOT/usr/sbin/policy-rc.d"
  install -d "$ROOT/etc/postgresql-common/createcluster.d"
  echo 'create_main_cluster = false' > "$ROOT/etc/postgresql-common/createcluster.d/coletor-peer.conf"
  cp -L /etc/resolv.conf "$ROOT/etc/resolv.conf" 2>/dev/null || true
  mount_proc
  touch "$S/.packages-begun"
  log "installing Zabbix 7.0, PostgreSQL, PHP and nginx in the root"
  local rc=0
  { in_root root apt-get -o DPkg::Lock::Timeout=900 update -q &&
    in_root root apt-get -o DPkg::Lock::Timeout=900 install -y -q --no-install-recommends \
      -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold "${PACKAGES[@]}" &&
    in_root root apt-get clean; } >"$S/apt.log" 2>&1 || rc=$?
  unmount_all
  ((rc == 0)) || { tail -n 30 "$S/apt.log" >&2; die "apt-get in the root failed (see $S/apt.log)"; }
  touch "$S/.packages"
}

write_server_conf() {
  install -d "$ROOT$P"
  in_root root install -d -o zabbix -g zabbix -m 755 "$ZBX"
  cat > "$ROOT$P/zabbix_server.conf" <<EOF
LogFile=$ZBX/zabbix_server.log
LogFileSize=10
PidFile=$ZBX/zabbix_server.pid
SocketDir=$ZBX
DBHost=127.0.0.1
DBPort=$PG_PORT
DBName=zabbix
DBUser=zabbix
DBPassword=zabbix
ListenIP=127.0.0.1
ListenPort=$SERVER_PORT
User=zabbix
# PostgreSQL 17 is newer than what 7.0 was released for.
AllowUnsupportedDBVersions=1
# Few processes: this server only takes trapper values.
StartPollers=1
StartAgentPollers=1
StartHTTPAgentPollers=1
StartSNMPPollers=1
StartBrowserPollers=1
StartPollersUnreachable=1
StartPingers=1
StartDiscoverers=1
StartHTTPPollers=1
StartTrappers=2
StartPreprocessors=1
StartLLDProcessors=1
StartAlerters=1
StartDBSyncers=1
StartEscalators=1
StartTimers=1
StartHistoryPollers=1
# New items are picked up sooner (the seed also forces a reload).
CacheUpdateFrequency=5
Timeout=4
EOF
}

write_frontend_conf() {
  cat > "$ROOT/etc/zabbix/zabbix.conf.php" <<EOF
<?php
// Written by tests/peers/zabbix7.sh for the loopback test peer.
\$DB['TYPE']     = 'POSTGRESQL';
\$DB['SERVER']   = '127.0.0.1';
\$DB['PORT']     = '$PG_PORT';
\$DB['DATABASE'] = 'zabbix';
\$DB['USER']     = 'zabbix';
\$DB['PASSWORD'] = 'zabbix';
\$DB['SCHEMA']   = '';
\$DB['ENCRYPTION']  = false;
\$DB['KEY_FILE']    = '';
\$DB['CERT_FILE']   = '';
\$DB['CA_FILE']     = '';
\$DB['VERIFY_HOST'] = false;
\$DB['CIPHER_LIST'] = '';
\$DB['VAULT']           = '';
\$DB['VAULT_URL']       = '';
\$DB['VAULT_PREFIX']    = '';
\$DB['VAULT_DB_PATH']   = '';
\$DB['VAULT_TOKEN']     = '';
\$DB['VAULT_CERT_FILE'] = '';
\$DB['VAULT_KEY_FILE']  = '';
\$ZBX_SERVER      = '127.0.0.1';
\$ZBX_SERVER_PORT = '$SERVER_PORT';
\$ZBX_SERVER_NAME = 'coletor test peer 7.0';
\$IMAGE_FORMAT_DEFAULT = IMAGE_FORMAT_PNG;
EOF
  chmod 644 "$ROOT/etc/zabbix/zabbix.conf.php"
}

write_php_conf() {
  install -d -m 755 "$ROOT$PHP"
  cat > "$ROOT$PHP/php-fpm.conf" <<EOF
[global]
pid = $PHP/php-fpm.pid
error_log = $PHP/php-fpm.log
daemonize = yes

[zabbix]
user = www-data
group = www-data
listen = $PHP/php-fpm.sock
listen.owner = www-data
listen.group = www-data
listen.mode = 0660
pm = dynamic
pm.max_children = 4
pm.start_servers = 1
pm.min_spare_servers = 1
pm.max_spare_servers = 2
; Minimums the Zabbix frontend asks for.
php_admin_value[post_max_size] = 16M
php_admin_value[max_execution_time] = 300
php_admin_value[max_input_time] = 300
php_admin_value[date.timezone] = UTC
EOF
}

write_nginx_conf() {
  install -d -m 755 "$ROOT$NGX" "$ROOT$NGX/tmp"
  cat > "$ROOT$NGX/nginx.conf" <<EOF
user www-data;
worker_processes 1;
pid $NGX/nginx.pid;
error_log $NGX/error.log;
events { worker_connections 256; }
http {
  include /etc/nginx/mime.types;
  default_type application/octet-stream;
  access_log $NGX/access.log;
  client_body_temp_path $NGX/tmp/body;
  fastcgi_temp_path $NGX/tmp/fastcgi;
  proxy_temp_path $NGX/tmp/proxy;
  uwsgi_temp_path $NGX/tmp/uwsgi;
  scgi_temp_path $NGX/tmp/scgi;
  gzip on;
  server {
    listen 127.0.0.1:$HTTP_PORT;
    root /usr/share/zabbix;
    index index.php;
    location ~ ^/(conf|app|include|local)/ { deny all; }
    location ~ \.php\$ {
      include /etc/nginx/fastcgi_params;
      fastcgi_param SCRIPT_FILENAME \$document_root\$fastcgi_script_name;
      fastcgi_pass unix:$PHP/php-fpm.sock;
    }
  }
}
EOF
}

cmd_install() {
  [[ $(id -u) == 0 ]] || die "run as root"
  install -d -m 755 "$PEERS" "$S"
  host_packages
  bootstrap_root
  install_packages
  write_server_conf
  write_frontend_conf
  write_php_conf
  write_nginx_conf
  log "installed ($(in_root root zabbix_server -V | head -n 1))"
}

# ---------------------------------------------------------------- start / stop

as_postgres() { in_root postgres "$@"; }
pg_bin() {
  local d
  d=$(printf '%s\n' "$ROOT"/usr/lib/postgresql/*/bin | sort -V | tail -n 1)
  [[ -x $d/initdb ]] || die "PostgreSQL server binaries not found in the root"
  echo "${d#"$ROOT"}"
}
pg_up() { as_postgres "$(pg_bin)/pg_ctl" -D "$PGDATA" status >/dev/null 2>&1; }

pg_start() {
  if [[ ! -f $ROOT$PGDATA/PG_VERSION ]]; then
    log "creating the PostgreSQL cluster"
    rm -rf "$ROOT$P/pg"
    in_root root install -d -o postgres -g postgres -m 755 "$P/pg"
    in_root root install -d -o postgres -g postgres -m 700 "$PGDATA"
    as_postgres "$(pg_bin)/initdb" -D "$PGDATA" -E UTF8 --locale=C.UTF-8 \
      --auth-local=peer --auth-host=scram-sha-256 >"$ROOT$P/pg/initdb.log" 2>&1 \
      || { cat "$ROOT$P/pg/initdb.log" >&2; die "initdb failed"; }
    cat > "$ROOT$PGDATA/postgresql.auto.conf" <<EOF
# Test peer only: durability traded for speed.
listen_addresses = '127.0.0.1'
port = $PG_PORT
unix_socket_directories = '$PGRUN'
dynamic_shared_memory_type = mmap
shared_buffers = 32MB
max_connections = 50
fsync = off
synchronous_commit = off
full_page_writes = off
EOF
  fi
  pg_up && return 0
  port_busy "$PG_PORT" && die "port $PG_PORT is taken by another process"
  in_root root install -d -o postgres -g postgres -m 755 "$PGRUN"
  as_postgres "$(pg_bin)/pg_ctl" -D "$PGDATA" -l "$P/pg/postgresql.log" -w -t 60 start >/dev/null \
    || { tail -n 20 "$ROOT$P/pg/postgresql.log" >&2; die "PostgreSQL did not start"; }
}

psql_admin() { as_postgres psql -h "$PGRUN" -p "$PG_PORT" -X -q -v ON_ERROR_STOP=1 "$@"; }
psql_zabbix() { in_root zabbix psql -h "$PGRUN" -p "$PG_PORT" -d zabbix -X -q -v ON_ERROR_STOP=1; }

# Imported once; the marker is written only after the whole import, and a database
# left half-imported is dropped and imported again.
import_schema() {
  [[ -f $ROOT$P/pg/imported ]] && return 0
  if [[ -z $(psql_admin -tAc "SELECT 1 FROM pg_roles WHERE rolname = 'zabbix'") ]]; then
    psql_admin -c "CREATE ROLE zabbix LOGIN PASSWORD 'zabbix'"
  fi
  psql_admin -c "SET client_min_messages = warning" -c "DROP DATABASE IF EXISTS zabbix"
  psql_admin -c "CREATE DATABASE zabbix OWNER zabbix ENCODING 'UTF8' TEMPLATE template0"
  log "importing the Zabbix 7.0 schema, images and data"
  local f
  for f in schema images data; do
    zcat "$ROOT$SQL_DIR/$f.sql.gz" | psql_zabbix >/dev/null
  done
  touch "$ROOT$P/pg/imported"
}

server_start() {
  pid_alive "$ZBX/zabbix_server.pid" && return 0
  port_busy "$SERVER_PORT" && die "port $SERVER_PORT is taken by another process"
  in_root root zabbix_server -c "$P/zabbix_server.conf"
  for _ in $(seq 1 100); do
    pid_alive "$ZBX/zabbix_server.pid" && port_busy "$SERVER_PORT" && return 0
    sleep 0.2
  done
  tail -n 20 "$ROOT$ZBX/zabbix_server.log" >&2 || true
  die "zabbix_server did not start"
}

php_start() {
  pid_alive "$PHP/php-fpm.pid" && return 0
  in_root root php-fpm8.4 --fpm-config "$PHP/php-fpm.conf"
}

nginx_start() {
  pid_alive "$NGX/nginx.pid" && return 0
  port_busy "$HTTP_PORT" && die "port $HTTP_PORT is taken by another process"
  in_root root nginx -e "$NGX/error.log" -c "$NGX/nginx.conf"
}

cmd_start() {
  [[ -f $S/.packages && -f $ROOT$P/zabbix_server.conf ]] || die "not installed; run: $0 install"
  mount_proc
  pg_start
  import_schema
  server_start
  php_start
  nginx_start
  for _ in $(seq 1 60); do
    if api_up; then log "API up at $API_URL"; return 0; fi
    sleep 1
  done
  die "API did not answer at $API_URL"
}

# Signal the process in a pid file (a path in the root) and wait for it to go.
stop_pidfile() {
  local name=$1 pidfile=$2 sig=$3 pid
  pid_alive "$pidfile" || { rm -f "$ROOT$pidfile"; return 0; }
  pid=$(head -n 1 "$ROOT$pidfile")
  kill "-$sig" "$pid"
  for _ in $(seq 1 150); do
    proc_alive "$pid" || { rm -f "$ROOT$pidfile"; return 0; }
    sleep 0.2
  done
  die "$name (pid $pid) did not stop"
}

# Processes whose root directory is this peer's root: only ever ours.
pids_in_root() {
  local d
  for d in /proc/[0-9]*; do
    [[ $(readlink "$d/root" 2>/dev/null) == "$ROOT" ]] && echo "${d#/proc/}"
  done
  return 0
}

cmd_stop() {
  [[ -d $ROOT ]] || { log "not installed"; return 0; }
  stop_pidfile nginx "$NGX/nginx.pid" TERM
  stop_pidfile php-fpm "$PHP/php-fpm.pid" TERM
  stop_pidfile zabbix_server "$ZBX/zabbix_server.pid" TERM
  # SIGINT is PostgreSQL's fast shutdown; pg_ctl would need /proc in the root.
  stop_pidfile postgres "$PGDATA/postmaster.pid" INT
  # Anything left in the root (a worker orphaned by a crash) would keep it busy.
  local pid left
  left=$(pids_in_root)
  if [[ -n $left ]]; then
    for pid in $left; do kill -TERM "$pid" 2>/dev/null || true; done
    sleep 2
    for pid in $(pids_in_root); do kill -KILL "$pid" 2>/dev/null || true; done
  fi
  unmount_all
  [[ -z $(mounts_under_root) ]] || die "still mounted: $(mounts_under_root | tr '\n' ' ')"
  log "stopped"
}

cmd_status() {
  if api_up; then log "API up at $API_URL"; else log "API not answering at $API_URL"; return 1; fi
}

# ---------------------------------------------------------------- seed

helper() {
  ZABBIX_API_URL=$API_URL ZABBIX_SERVER_CONF=$P/zabbix_server.conf \
  ZABBIX_SERVER_PORT=$SERVER_PORT ZABBIX_SEED_CHROOT=$ROOT \
    /usr/bin/python3 "$HERE/zabbix_seed.py" "$@"
}

case ${1:-} in
  install) cmd_install ;;
  start)   cmd_start ;;
  stop)    cmd_stop ;;
  status)  cmd_status ;;
  seed)    [[ $# == 2 ]] || die "usage: $0 seed VALUE"; helper seed "$2" ;;
  unseed|seed-remove) helper unseed ;;
  *) echo "usage: $0 {install|start|stop|status|seed VALUE|unseed}" >&2; exit 2 ;;
esac
