#!/usr/bin/env bash
# update-service-fixture.sh start|stop STATE_DIR
# Runs the local update service for the end-to-end tests on the address compiled into the dev
# build (127.0.0.1:8765). The tests publish into STATE_DIR/release and change the service's
# behaviour through STATE_DIR/options.json while it runs.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
action="$1"
state="$2"
port=8765

case "$action" in
  start)
    if [ -f "$state/pid" ] && kill -0 "$(cat "$state/pid")" 2>/dev/null; then
      kill "$(cat "$state/pid")" || true
    fi
    rm -rf "$state"
    mkdir -p "$state/release"
    # Detached and with all output in a file: ctest reads this script's output to its end.
    setsid python3 "$here/../../tools/update_service.py" "$state/release" --port "$port" \
      --options-file "$state/options.json" --request-log "$state/requests.log" \
      --port-file "$state/port" </dev/null >"$state/service.log" 2>&1 &
    echo $! >"$state/pid"
    for _ in $(seq 100); do
      [ -s "$state/port" ] && exit 0
      kill -0 "$(cat "$state/pid")" 2>/dev/null || break
      sleep 0.1
    done
    echo "update service did not start on 127.0.0.1:$port:" >&2
    cat "$state/service.log" >&2
    exit 1
    ;;
  stop)
    if [ -f "$state/pid" ]; then
      pid="$(cat "$state/pid")"
      kill "$pid" 2>/dev/null || true
      for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      kill -9 "$pid" 2>/dev/null || true
      rm -f "$state/pid"
    fi
    ;;
  *)
    echo "usage: $0 start|stop STATE_DIR" >&2
    exit 2
    ;;
esac
