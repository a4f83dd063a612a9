#!/usr/bin/env bash
# A real Zabbix 6.0 front end on loopback, for tests.
#   zabbix.sh install | start | stop | status | seed VALUE | unseed
# API:   http://127.0.0.1:18080/api_jsonrpc.php   (Admin / zabbix)
# State: ${COLETOR_PEERS_DIR:-/var/tmp/coletor-peers}/zabbix/
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
PEERS=${COLETOR_PEERS_DIR:-/var/tmp/coletor-peers}
S=$PEERS/zabbix

PG_PORT=${ZABBIX_PEER_PG_PORT:-15432}
HTTP_PORT=${ZABBIX_PEER_HTTP_PORT:-18080}
SERVER_PORT=${ZABBIX_PEER_SERVER_PORT:-10051}
# Set to 1 to let nginx gzip JSON answers (clients must then decode them).
GZIP_JSON=${ZABBIX_PEER_GZIP:-0}
API_URL=http://127.0.0.1:$HTTP_PORT/api_jsonrpc.php

# php8.2-fpm named first and by version: through the generic "php" package
# apt would otherwise pick libapache2-mod-php8.2 and apache2-bin.
PACKAGES=(php8.2-fpm php8.2-pgsql zabbix-server-pgsql zabbix-frontend-php
          zabbix-agent nginx postgresql fping curl python3)
SQL_DIR=/usr/share/zabbix-server-pgsql
FRONTEND_CONF=/etc/zabbix/zabbix.conf.php

PGDATA=$S/pg/data
PGRUN=$S/pg/run          # postgres unix socket dir
ZBX=$S/server            # zabbix_server log, pid, control socket
PHP=$S/php
NGX=$S/nginx

log() { printf 'zabbix-peer: %s\n' "$*" >&2; }
die() { log "error: $*"; exit 1; }

pg_bin() {
  local d
  d=$(printf '%s\n' /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
  [[ -x $d/initdb ]] || die "PostgreSQL server binaries not found"
  echo "$d"
}
php_fpm_bin() {
  local b
  b=$(printf '%s\n' /usr/sbin/php-fpm* | sort -V | tail -n 1)
  [[ -x $b ]] || die "php-fpm not found"
  echo "$b"
}
as_postgres() { runuser -u postgres -- "$@"; }

# A zombie counts as gone: PID 1 in some sandboxes is slow to reap.
proc_alive() {
  local st
  st=$(ps -o stat= -p "$1" 2>/dev/null) || return 1
  [[ $st != Z* ]]
}
pid_alive() { [[ -f $1 ]] && proc_alive "$(head -n 1 "$1")"; }

port_busy() { ss -Hltn "sport = :$1" | grep -q .; }

api_up() {
  curl -fsS -m 5 -o /dev/null -H 'Content-Type: application/json-rpc' \
    -d '{"jsonrpc": "2.0", "method": "apiinfo.version", "params": [], "id": 1}' \
    "$API_URL" 2>/dev/null
}

# ---------------------------------------------------------------- install

packages_missing() {
  local p
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' \
      || return 0
  done
  return 1
}

install_packages() {
  packages_missing || return 0
  log "installing packages"
  # Keep maintainer scripts from starting Debian's default services
  # (nginx on port 80, the main PostgreSQL cluster, php-fpm, zabbix-server).
  local made_policy=0
  if [[ ! -e /usr/sbin/policy-rc.d ]]; then
    printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d
    chmod 755 /usr/sbin/policy-rc.d
    made_policy=1
  fi
  local rc=0
  {
    apt-get update -qq &&
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${PACKAGES[@]}"
  } >"$S/apt.log" 2>&1 || rc=$?
  if (( made_policy )); then rm -f /usr/sbin/policy-rc.d; fi
  (( rc == 0 )) || { tail -n 30 "$S/apt.log" >&2; die "apt-get failed (see $S/apt.log)"; }
}

write_pg_conf() {
  cat > "$PGDATA/postgresql.auto.conf" <<EOF
# Test peer only: durability traded for speed.
listen_addresses = '127.0.0.1'
port = $PG_PORT
unix_socket_directories = '$PGRUN'
shared_buffers = 32MB
max_connections = 50
fsync = off
synchronous_commit = off
full_page_writes = off
EOF
}

pg_up() { as_postgres "$(pg_bin)/pg_ctl" -D "$PGDATA" status >/dev/null 2>&1; }

pg_start() {
  pg_up && return 0
  port_busy "$PG_PORT" && die "port $PG_PORT is taken by another process"
  install -d -o postgres -g postgres -m 755 "$PGRUN"
  as_postgres "$(pg_bin)/pg_ctl" -D "$PGDATA" -l "$S/pg/postgresql.log" -w -t 60 start >/dev/null \
    || { tail -n 20 "$S/pg/postgresql.log" >&2; die "PostgreSQL did not start"; }
}

psql_admin() { as_postgres psql -h "$PGRUN" -p "$PG_PORT" -X -q -v ON_ERROR_STOP=1 "$@"; }
# Unix socket with peer auth: the import runs ~20% faster than over TCP.
psql_zabbix() { runuser -u zabbix -- psql -h "$PGRUN" -p "$PG_PORT" -d zabbix -X -q -v ON_ERROR_STOP=1; }

setup_database() {
  if [[ ! -f $PGDATA/PG_VERSION ]]; then
    log "creating PostgreSQL cluster in $PGDATA"
    install -d -o postgres -g postgres -m 755 "$S/pg"
    install -d -o postgres -g postgres -m 700 "$PGDATA"
    as_postgres "$(pg_bin)/initdb" -D "$PGDATA" -E UTF8 --locale=C.UTF-8 \
      --auth-local=peer --auth-host=scram-sha-256 >"$S/pg/initdb.log" 2>&1 \
      || { cat "$S/pg/initdb.log" >&2; die "initdb failed"; }
    write_pg_conf
  fi
  pg_start
  if [[ -z $(psql_admin -tAc "SELECT 1 FROM pg_roles WHERE rolname = 'zabbix'") ]]; then
    psql_admin -c "CREATE ROLE zabbix LOGIN PASSWORD 'zabbix'"
  fi
  # The marker is written only after a full import; a half-imported
  # database (interrupted run) is dropped and imported again.
  [[ -f $S/pg/imported ]] && return 0
  PGOPTIONS='-c client_min_messages=warning' psql_admin -c "DROP DATABASE IF EXISTS zabbix"
  psql_admin -c "CREATE DATABASE zabbix OWNER zabbix ENCODING 'UTF8' TEMPLATE template0"
  log "importing Zabbix schema, images and data"
  local f
  for f in schema images data; do
    zcat "$SQL_DIR/$f.sql.gz" | psql_zabbix >/dev/null
  done
  touch "$S/pg/imported"
}

write_frontend_conf() {
  install -d -m 755 /etc/zabbix
  cat > "$FRONTEND_CONF" <<EOF
<?php
// Written by tests/peers/zabbix.sh for the loopback test peer.
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
\$DB['VAULT_URL']     = '';
\$DB['VAULT_DB_PATH'] = '';
\$DB['VAULT_TOKEN']   = '';
\$DB['DOUBLE_IEEE754'] = true;
\$ZBX_SERVER      = '127.0.0.1';
\$ZBX_SERVER_PORT = '$SERVER_PORT';
\$ZBX_SERVER_NAME = 'coletor test peer';
\$IMAGE_FORMAT_DEFAULT = IMAGE_FORMAT_PNG;
EOF
  chmod 644 "$FRONTEND_CONF"
}

write_server_conf() {
  install -d -o zabbix -g zabbix -m 755 "$ZBX"
  cat > "$S/zabbix_server.conf" <<EOF
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
FpingLocation=/usr/bin/fping
# Few processes: this server only takes trapper values.
StartPollers=1
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

write_php_conf() {
  install -d -m 755 "$PHP"
  cat > "$PHP/php-fpm.conf" <<EOF
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
  install -d -m 755 "$NGX" "$NGX/tmp"
  local gz=''
  [[ $GZIP_JSON == 1 ]] && gz='gzip_types application/json;'
  cat > "$NGX/nginx.conf" <<EOF
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
  $gz
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
  install_packages
  setup_database
  write_frontend_conf
  write_server_conf
  write_php_conf
  write_nginx_conf
  log "installed ($(zabbix_server -V | head -n 1))"
}

# ---------------------------------------------------------------- start / stop

server_start() {
  pid_alive "$ZBX/zabbix_server.pid" && return 0
  port_busy "$SERVER_PORT" && die "port $SERVER_PORT is taken by another process"
  zabbix_server -c "$S/zabbix_server.conf"
  for _ in $(seq 1 100); do
    pid_alive "$ZBX/zabbix_server.pid" && port_busy "$SERVER_PORT" && return 0
    sleep 0.2
  done
  tail -n 20 "$ZBX/zabbix_server.log" >&2 || true
  die "zabbix_server did not start"
}

php_start() {
  pid_alive "$PHP/php-fpm.pid" && return 0
  "$(php_fpm_bin)" --fpm-config "$PHP/php-fpm.conf"
}

nginx_start() {
  pid_alive "$NGX/nginx.pid" && return 0
  port_busy "$HTTP_PORT" && die "port $HTTP_PORT is taken by another process"
  nginx -e "$NGX/error.log" -c "$NGX/nginx.conf"
}

cmd_start() {
  [[ -f $PGDATA/PG_VERSION && -f $S/zabbix_server.conf ]] || die "not installed; run: $0 install"
  pg_start
  server_start
  php_start
  nginx_start
  for _ in $(seq 1 60); do
    if api_up; then log "API up at $API_URL"; return 0; fi
    sleep 1
  done
  die "API did not answer at $API_URL"
}

# Signal the process in a pid file and wait for it to go.
stop_pidfile() {
  local name=$1 pidfile=$2 sig=$3 pid
  pid_alive "$pidfile" || { rm -f "$pidfile"; return 0; }
  pid=$(head -n 1 "$pidfile")
  kill "-$sig" "$pid"
  for _ in $(seq 1 150); do
    proc_alive "$pid" || { rm -f "$pidfile"; return 0; }
    sleep 0.2
  done
  die "$name (pid $pid) did not stop"
}

cmd_stop() {
  # Fast shutdown: nothing here needs graceful draining.
  stop_pidfile nginx "$NGX/nginx.pid" TERM
  stop_pidfile php-fpm "$PHP/php-fpm.pid" TERM
  stop_pidfile zabbix_server "$ZBX/zabbix_server.pid" TERM
  if [[ -f $PGDATA/PG_VERSION ]] && pg_up; then
    as_postgres "$(pg_bin)/pg_ctl" -D "$PGDATA" -m fast -w stop >/dev/null
  fi
  log "stopped"
}

cmd_status() {
  if api_up; then log "API up at $API_URL"; else log "API not answering at $API_URL"; return 1; fi
}

# ---------------------------------------------------------------- seed

helper() {
  ZABBIX_API_URL=$API_URL ZABBIX_SERVER_CONF=$S/zabbix_server.conf \
  ZABBIX_SERVER_PORT=$SERVER_PORT \
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
