#!/usr/bin/env bash
# nginx-fixture.sh start|stop STATE_DIR PORT [modern|old-tls]
# Runs Debian's nginx, unprivileged and on 127.0.0.1:PORT only, as the update service over TLS:
# the server block is tools/nginx/update-service.conf.in filled in by tools/nginx/make-config with
# the TLS test certificate (cmake/tls-test-ca.cmake) and STATE_DIR/release; everything nginx
# writes (pid, logs, temporary files) stays in STATE_DIR/nginx. "old-tls" is the same server
# made to offer TLS 1.0 and 1.1 only, the way an outdated service would.
#
# nginx runs detached (its own session, all output in files: ctest reads this script's output to
# its end). It is stopped by "stop", and in any case once the process that ran "start" (ctest, the
# demo) has gone, so an interrupted run leaves no server behind.
# Environment: ORVANTI_BUILD_DIR, the build folder (for tls-test-ca/).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source_dir="$(cd "$here/../.." && pwd)"
action="${1:?usage: nginx-fixture.sh start|stop STATE_DIR PORT [modern|old-tls]}"
state="${2:?STATE_DIR}"
port="${3:-}"
mode="${4:-modern}"
conf="$state/nginx"

# The master's pid, when it runs.
running_pid() {
  local pid
  pid="$(cat "$conf/nginx.pid" 2>/dev/null || true)"
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null && echo "$pid"
  return 0
}

stop() {
  local pid watcher
  watcher="$(cat "$conf/watcher.pid" 2>/dev/null || true)"
  if [ -n "$watcher" ]; then kill "$watcher" 2>/dev/null || true; fi
  pid="$(running_pid)"
  if [ -n "$pid" ]; then
    # TERM is nginx's fast shutdown: the master ends its workers, then itself.
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    pkill -KILL -P "$pid" 2>/dev/null || true
    kill -KILL "$pid" 2>/dev/null || true
  fi
  rm -f "$conf/nginx.pid" "$conf/watcher.pid"
}

case "$action" in
  start)
    [ -n "$port" ] || { echo "nginx-fixture: PORT is missing" >&2; exit 2; }
    case "$mode" in modern|old-tls) ;; *) echo "nginx-fixture: unknown mode $mode" >&2; exit 2 ;; esac
    nginx="$(command -v nginx || echo /usr/sbin/nginx)"
    [ -x "$nginx" ] || { echo "nginx-fixture: nginx is missing: run scripts/setup" >&2; exit 1; }
    tls="${ORVANTI_BUILD_DIR:?ORVANTI_BUILD_DIR is not set}/tls-test-ca"
    [ -d "$state" ] && stop
    rm -rf "$state"
    mkdir -p "$state/release" "$conf/temp"
    trap 'stop' ERR

    python3 "$source_dir/tools/nginx/make-config" --listen "127.0.0.1:$port" \
      --server-name 127.0.0.1 --certificate "$tls/tls-test-server.pem" \
      --key "$tls/tls-test-server.key" --release-dir "$state/release" \
      --out "$conf/update-service.conf"
    if [ "$mode" = old-tls ]; then
      # Debian's OpenSSL allows TLS 1.0 and 1.1 only at security level 0.
      sed -i 's/^\( *\)ssl_protocols .*;$/\1ssl_protocols TLSv1 TLSv1.1;\n\1ssl_ciphers DEFAULT:@SECLEVEL=0;/' \
        "$conf/update-service.conf"
      grep -q 'ssl_protocols TLSv1 TLSv1.1;' "$conf/update-service.conf"
    fi
    # As root nginx would hand its workers to "nobody"; they run as the user who started the
    # tests instead, so they read the release folder exactly as the tests wrote it.
    user_line=""
    [ "$(id -u)" -eq 0 ] && user_line="user $(id -un) $(id -gn);"
    cat >"$conf/nginx.conf" <<CONF
# Made by tests/e2e/nginx-fixture.sh: nginx for one test run, everything under $conf.
$user_line
daemon on;
worker_processes 1;
pid "$conf/nginx.pid";
error_log "$conf/error.log" info;
events { worker_connections 64; }
http {
    # The usual combined format, with the TLS protocol and cipher that each request came over.
    log_format tls '\$remote_addr - - [\$time_local] "\$request" \$status \$body_bytes_sent '
                   '"\$http_referer" "\$http_user_agent" \$ssl_protocol \$ssl_cipher';
    access_log "$conf/access.log" tls;
    client_body_temp_path "$conf/temp/client";
    proxy_temp_path "$conf/temp/proxy";
    fastcgi_temp_path "$conf/temp/fastcgi";
    uwsgi_temp_path "$conf/temp/uwsgi";
    scgi_temp_path "$conf/temp/scgi";
    types { }
    include "$conf/update-service.conf";
}
CONF
    # -e: the error log of the start itself, before the configuration is read.
    setsid "$nginx" -p "$conf" -c "$conf/nginx.conf" -e "$conf/error.log" \
      </dev/null >"$conf/start.log" 2>&1
    for _ in $(seq 100); do
      pid="$(running_pid)"
      if [ -n "$pid" ] && (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
        # Ends nginx once the starter has gone without a stop (an interrupted ctest or demo), or
        # when it is itself ended: nginx overwrites its environment with its process title, so a
        # script that ends what it started by the environment finds the watcher, not nginx.
        starter=$PPID
        setsid bash -c 'trap "kill -TERM \"\$2\" 2>/dev/null; exit 0" TERM
                        while kill -0 "$1" 2>/dev/null && kill -0 "$2" 2>/dev/null; do sleep 1; done
                        kill -TERM "$2" 2>/dev/null || true' watcher "$starter" "$pid" \
          </dev/null >/dev/null 2>&1 &
        echo $! >"$conf/watcher.pid"
        exit 0
      fi
      sleep 0.1
    done
    echo "nginx did not start on 127.0.0.1:$port:" >&2
    cat "$conf/start.log" "$conf/error.log" >&2 2>/dev/null || true
    stop
    exit 1
    ;;
  stop)
    stop
    ;;
  *)
    echo "usage: $0 start|stop STATE_DIR PORT [modern|old-tls]" >&2
    exit 2
    ;;
esac
