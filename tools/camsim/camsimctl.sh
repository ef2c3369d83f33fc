#!/usr/bin/env bash
# Starts and stops the camera simulator for CTest (fixture "camsim").
#   camsimctl.sh start <state dir> [camsim.py options...]
#   camsimctl.sh stop <state dir>
# The daemon runs detached (setsid, output to <state dir>/camsim.log) so that CTest is not held by
# a pipe. Several build trees may share one simulator: each start registers its state dir as a
# user under /tmp/camsim.<control port>/users and stop ends the daemon only when the last user
# leaves. A daemon left over from older sources is replaced when nobody else uses it.
set -u
here=$(cd "$(dirname "$0")" && pwd)
cmd=${1:-}
dir=${2:-}
[ -n "$cmd" ] && [ -n "$dir" ] || { echo "usage: $0 start|stop <state dir> [options]" >&2; exit 2; }
shift 2
control=${CAMSIM_CONTROL:-127.0.0.1:18080}
# One simulator per network namespace: tests running inside a namespace of their own (see
# scripts/ns-ctest.sh and the multicast test) must neither share nor stop another namespace's.
netns=$(readlink /proc/self/ns/net 2>/dev/null | tr -dc 0-9)
shared=/tmp/camsim.${control##*:}.${netns:-0}
user_id=$(printf '%s' "$(cd "$dir" 2>/dev/null && pwd || echo "$dir")" | md5sum | cut -c1-16)
mkdir -p "$dir" "$shared/users"

health() {  # prints the source mtime the running daemon reports, fails when none answers
  /usr/bin/python3 - "$control" <<'EOF'
import json, sys, urllib.request
try:
    with urllib.request.urlopen("http://%s/health" % sys.argv[1], timeout=2) as r:
        print(json.load(r)["source_mtime"])
except Exception:
    sys.exit(1)
EOF
}

stop_daemon() {
  local pid
  pid=$(cat "$shared/pid" 2>/dev/null) || return 0
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid"
    for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$pid" 2>/dev/null && kill -KILL "$pid"
  fi
  rm -f "$shared/pid"
}

case $cmd in
start)
  exec 9>"$shared/lock"
  flock -w 60 9 || echo "camsimctl: lock busy; going on without it" >&2
  want=$(/usr/bin/python3 -c 'import os,sys; print(max(os.path.getmtime(f) for f in sys.argv[1:] if os.path.exists(f)))' \
    "$here/camsim.py" "$here/rtsp_server.py" "$here/edge_replay.py")
  if have=$(health); then
    others=$(ls "$shared/users" | grep -vx "$user_id" | wc -l)
    if [ "$have" = "$want" ] || [ "$others" -gt 0 ]; then
      touch "$shared/users/$user_id"
      echo "camsim already running on $control; using it"
      exit 0
    fi
    echo "camsim on $control runs older sources; restarting it"
    stop_daemon
    # A daemon we did not start (no pid file) still holds the port: ask it to leave.
    curl -s -m 2 -X POST "http://$control/shutdown" >/dev/null 2>&1 || true
    sleep 1
  fi
  setsid /usr/bin/python3 "$here/camsim.py" --control "$control" --cache-dir "$dir/camsim-cache" \
    --pidfile "$shared/pid" "$@" >"$dir/camsim.log" 2>&1 </dev/null 9>&- &
  for _ in $(seq 1 300); do
    if health >/dev/null; then
      touch "$shared/users/$user_id"
      echo "camsim started (log: $dir/camsim.log)"
      exit 0
    fi
    sleep 0.1
  done
  echo "camsim did not answer within 30 s; log follows:" >&2
  cat "$dir/camsim.log" >&2
  exit 1
  ;;
stop)
  exec 9>"$shared/lock"
  flock -w 60 9 || echo "camsimctl: lock busy; going on without it" >&2
  rm -f "$shared/users/$user_id"
  if [ -z "$(ls "$shared/users")" ]; then
    stop_daemon
    echo "camsim stopped"
  else
    echo "camsim still used by $(ls "$shared/users" | wc -l) other build tree(s); left running"
  fi
  exit 0
  ;;
*)
  echo "usage: $0 start|stop <state dir> [options]" >&2
  exit 2
  ;;
esac
