#!/usr/bin/env bash
# A real QuestDB for tests, behind a dedicated nginx (plain HTTP + TLS).
# Usage: questdb.sh install|start|stop|status
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
peers=${COLETOR_PEERS_DIR:-/var/tmp/coletor-peers}
pki=${COLETOR_PKI_DIR:-$peers/pki}

qdb_version=${QDB_VERSION:-9.3.4}
qdb_dir=$peers/questdb
qdb_jar=$qdb_dir/questdb-$qdb_version.jar
qdb_root=${QDB_ROOT:-$qdb_dir/root}
qdb_pidfile=$qdb_dir/questdb.pid
qdb_log=$qdb_dir/questdb.log
qdb_http=${QDB_HTTP:-127.0.0.1:19000}
qdb_user=${QDB_USER:-admin}
qdb_pass=${QDB_PASS:-quest}
qdb_java_opts=${QDB_JAVA_OPTS:--Xms128m -Xmx1g}

proxy_host=${QDB_PROXY_HOST:-127.0.0.5}
proxy_http_port=${QDB_PROXY_HTTP_PORT:-80}
proxy_tls_port=${QDB_PROXY_TLS_PORT:-19443}
ngx_dir=$peers/nginx
ngx_conf=$ngx_dir/nginx.conf
ngx_pidfile=$ngx_dir/nginx.pid

log() { echo "questdb.sh: $*" >&2; }
die() { log "$*"; exit 1; }

java_bin() {
    if [[ -n ${JAVA_HOME:-} && -x $JAVA_HOME/bin/java ]]; then echo "$JAVA_HOME/bin/java"
    elif [[ -x /usr/lib/jvm/java-17-openjdk-amd64/bin/java ]]; then echo /usr/lib/jvm/java-17-openjdk-amd64/bin/java
    else command -v java; fi
}

alive() { [[ -s $1 ]] && kill -0 "$(cat "$1")" 2>/dev/null; }

qdb_answers() {
    curl -fsS -o /dev/null --max-time 2 -u "$qdb_user:$qdb_pass" \
        "http://$qdb_http/exec?query=select%201" 2>/dev/null
}

# Debian's own nginx service listens on 0.0.0.0:80, which blocks our 127.0.0.5:80.
stop_system_nginx() {
    if [[ -s /run/nginx.pid ]] && kill -0 "$(cat /run/nginx.pid)" 2>/dev/null; then
        log "stopping Debian's default nginx service (it holds port 80)"
        service nginx stop >/dev/null 2>&1 || nginx -s quit 2>/dev/null || true
    fi
}

cmd_install() {
    local missing=() pair
    for pair in nginx:nginx mvn:maven curl:curl openssl:openssl flock:util-linux; do
        command -v "${pair%%:*}" >/dev/null || missing+=("${pair#*:}")
    done
    [[ -x $(java_bin 2>/dev/null || true) ]] || missing+=(openjdk-17-jre-headless)
    if ((${#missing[@]})); then
        log "installing ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        apt-get install -y -qq "${missing[@]}" >/dev/null
    fi
    stop_system_nginx
    mkdir -p "$qdb_dir"
    if [[ ! -s $qdb_jar ]]; then
        log "fetching QuestDB $qdb_version"
        local out
        out=$(mvn -B -q -Dstyle.color=never org.apache.maven.plugins:maven-dependency-plugin:3.6.1:copy \
            "-Dartifact=org.questdb:questdb:$qdb_version" "-DoutputDirectory=$qdb_dir" 2>&1) \
            || { echo "$out" >&2; die "maven could not fetch QuestDB $qdb_version"; }
    fi
    [[ -s $qdb_jar ]] || die "no jar at $qdb_jar"
    bash "$here/../pki/make-pki.sh" "$pki"
}

write_server_conf() {
    mkdir -p "$qdb_root/conf"
    cat >"$qdb_root/conf/server.conf" <<EOF
http.enabled=true
http.bind.to=$qdb_http
http.user=$qdb_user
http.password=$qdb_pass
http.min.enabled=false
pg.enabled=false
line.tcp.enabled=false
line.udp.enabled=false
line.http.enabled=true
line.auto.create.new.tables=false
telemetry.enabled=false
metrics.enabled=false
EOF
}

start_qdb() {
    if alive "$qdb_pidfile" && qdb_answers; then
        log "QuestDB already running (pid $(cat "$qdb_pidfile"))"
        return
    fi
    [[ -s $qdb_jar ]] || die "QuestDB not installed: run '$0 install'"
    stop_qdb
    ! qdb_answers || die "something else already answers on $qdb_http"
    rm -rf "$qdb_root"
    write_server_conf
    local java; java=$(java_bin)
    # shellcheck disable=SC2086
    nohup "$java" $qdb_java_opts -p "$qdb_jar" -m io.questdb/io.questdb.ServerMain \
        -d "$qdb_root" >"$qdb_log" 2>&1 </dev/null &
    echo $! >"$qdb_pidfile"
    local i
    for ((i = 0; i < 600; i++)); do
        qdb_answers && return
        alive "$qdb_pidfile" || { tail -n 30 "$qdb_log" >&2; die "QuestDB exited during start"; }
        sleep 0.1
    done
    tail -n 30 "$qdb_log" >&2
    die "QuestDB did not answer on $qdb_http within 60 s"
}

write_nginx_conf() {
    mkdir -p "$ngx_dir/tmp"
    local user_line=""
    ((EUID == 0)) && user_line="user root;"
    cat >"$ngx_conf" <<EOF
$user_line
daemon on;
worker_processes 1;
pid $ngx_pidfile;
error_log $ngx_dir/error.log warn;
events { worker_connections 1024; }
http {
    access_log $ngx_dir/access.log;
    client_body_temp_path $ngx_dir/tmp/body;
    proxy_temp_path $ngx_dir/tmp/proxy;
    client_max_body_size 1g;
    # No pooled upstream connections: QuestDB 9.3 drops rows written on a connection
    # that had written to a table before it was dropped and created again.
    upstream questdb { server $qdb_http; }
    proxy_http_version 1.1;
    proxy_set_header Connection "";
    proxy_set_header Host \$http_host;
    # Stream both ways so QuestDB's own status codes and bodies reach the client as sent.
    proxy_request_buffering off;
    proxy_buffering off;
    proxy_intercept_errors off;
    proxy_read_timeout 300s; proxy_send_timeout 300s;
    server {
        listen $proxy_host:$proxy_http_port;
        location / { proxy_pass http://questdb; }
    }
    server {
        listen $proxy_host:$proxy_tls_port ssl;
        ssl_certificate $pki/server.pem;
        ssl_certificate_key $pki/server.key;
        ssl_protocols TLSv1.2 TLSv1.3;
        location / { proxy_pass http://questdb; }
    }
}
EOF
}

start_nginx() {
    if alive "$ngx_pidfile"; then
        log "nginx proxy already running (pid $(cat "$ngx_pidfile"))"
        return
    fi
    stop_system_nginx
    write_nginx_conf
    : >"$ngx_dir/error.log"
    nginx -q -p "$ngx_dir" -c "$ngx_conf" -e "$ngx_dir/error.log" \
        || { cat "$ngx_dir/error.log" >&2; die "nginx failed to start"; }
    local i  # the daemonised master writes its pid file a moment after the parent returns
    for ((i = 0; i < 50; i++)); do alive "$ngx_pidfile" && return; sleep 0.1; done
    die "nginx did not write $ngx_pidfile"
}

cmd_start() {
    [[ -s $pki/ca.pem ]] || bash "$here/../pki/make-pki.sh" "$pki"
    start_qdb
    start_nginx
    log "up: http://$proxy_host:$proxy_http_port https://$proxy_host:$proxy_tls_port (user $qdb_user) -> $qdb_http"
}

# $1 pid file, $2 seconds before SIGKILL, $3 signal
stop_pid() {
    alive "$1" || { rm -f "$1"; return; }
    local pid i; pid=$(cat "$1")
    kill "-$3" "$pid" 2>/dev/null || true
    for ((i = 0; i < $2 * 10; i++)); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$pid" 2>/dev/null; then
        log "pid $pid did not stop, killing it"
        kill -9 "$pid" 2>/dev/null || true
        while kill -0 "$pid" 2>/dev/null; do sleep 0.1; done
    fi
    rm -f "$1"
}

stop_qdb() { stop_pid "$qdb_pidfile" 30 TERM; }

cmd_stop() {
    stop_pid "$ngx_pidfile" 10 QUIT
    stop_qdb
    ! qdb_answers || die "something else already answers on $qdb_http"
    rm -rf "$qdb_root"
}

cmd_status() { alive "$qdb_pidfile" && qdb_answers && alive "$ngx_pidfile"; }

case ${1:-} in
    install) cmd_install ;;
    start) cmd_start ;;
    stop) cmd_stop ;;
    status) cmd_status ;;
    *) die "usage: $0 install|start|stop|status" ;;
esac
