# Sourced by the project's scripts. Whatever a script starts (Wine prefixes and their processes,
# HTTP servers, nginx, Xvfb) is ended when it ends, whether it passed, failed or was interrupted.
#
# The outermost script marks its run with a token in the environment, which every process it starts
# inherits (a wineserver and the prefix's service processes too, and servers started with setsid).
# At exit it ends the prefixes it named, then every process still carrying the token, and then runs
# the script's own clean-up steps. A script started by another one that does this ends its own steps and
# prefixes and leaves the rest to the outermost.
#
#   run_scope_at_exit COMMAND  run COMMAND (a shell text) at exit, after the processes are ended
#   run_scope_prefix PREFIX    end this Wine prefix's processes at exit (PREFIX may end in *)
#   run_scope_xvfb             start a private Xvfb display and export DISPLAY

run_scope_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
run_scope_hooks=()
run_scope_prefixes=()
run_scope_owner=no
run_scope_at_exit() { run_scope_hooks+=("$1"); }
run_scope_prefix() { run_scope_prefixes+=("$1"); }

# The processes whose environment holds ORVANTI_RUN_SCOPE=$1.
run_scope_processes() {
  grep -lzxF "ORVANTI_RUN_SCOPE=$1" /proc/[0-9]*/environ 2>/dev/null |
    sed -e 's|^/proc/||' -e 's|/environ$||' || true
}

run_scope_end() {
  local status=$? token=${ORVANTI_RUN_SCOPE:-} hook pids
  trap - EXIT INT TERM HUP
  # The script's own background jobs are ended below like the rest, without a report each.
  disown -a 2>/dev/null || true
  # A name may be a pattern (PREFIX*): it stands for the prefixes that exist now.
  local IFS=$'\n' pattern prefixes=()
  for pattern in "${run_scope_prefixes[@]}"; do
    # shellcheck disable=SC2206
    prefixes+=($pattern)
  done
  unset IFS
  if [ ${#prefixes[@]} -gt 0 ]; then "$run_scope_dir/../end-prefix" "${prefixes[@]}"; fi
  if [ "$run_scope_owner" = yes ]; then
    # What runs from here on must not carry the token, or it would find itself.
    unset ORVANTI_RUN_SCOPE
    pids=$(run_scope_processes "$token")
    if [ -n "$pids" ]; then
      # shellcheck disable=SC2086
      kill $pids 2>/dev/null || true
      for _ in $(seq 50); do
        pids=$(run_scope_processes "$token")
        [ -n "$pids" ] || break
        sleep 0.1
      done
      # shellcheck disable=SC2086
      [ -z "$pids" ] || kill -9 $pids 2>/dev/null || true
    fi
  fi
  # Files are removed once nothing runs that could still write them.
  for hook in "${run_scope_hooks[@]}"; do eval "$hook" || true; done
  exit "$status"
}

run_scope_xvfb() {
  local display=99
  while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do
    display=$((display + 1))
  done
  # It carries the token and is ended with the rest.
  Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp -noreset </dev/null >/dev/null 2>&1 &
  export DISPLAY=":$display"
  for _ in $(seq 100); do
    xdpyinfo >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "could not start Xvfb on $DISPLAY" >&2
  return 1
}

if [ -z "${ORVANTI_RUN_SCOPE:-}" ]; then
  run_scope_owner=yes
  ORVANTI_RUN_SCOPE="$$-$(date +%s%N)"
  export ORVANTI_RUN_SCOPE
fi
trap run_scope_end EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
