#!/usr/bin/env bash
# CTest fixture for the RTSP client tests: simulated camera RTSP servers, one per auth mode.
#   rtsp_client_servers.sh start|stop <state dir>
# 127.0.0.60 no auth, 127.0.0.61 Basic, 127.0.0.62 Digest (user "u", password "p"); each takes
# fault commands on port 8554 of its address. 127.0.0.69 is left without a server.
set -u
action=$1
state=$2
here=$(cd "$(dirname "$0")" && pwd)
server="$here/../../tools/camsim/camsimlib/rtsp_server.py"
mkdir -p "$state"

stop_all() {
  local pids=()
  for pidfile in "$state"/rtsp_server_*.pid; do
    [ -f "$pidfile" ] || continue
    pids+=("$(cat "$pidfile")")
    rm -f "$pidfile"
  done
  [ ${#pids[@]} -gt 0 ] || return 0
  kill "${pids[@]}" 2>/dev/null
  for _ in $(seq 50); do kill -0 "${pids[@]}" 2>/dev/null || return 0; sleep 0.1; done
  kill -9 "${pids[@]}" 2>/dev/null
}

wait_port() {  # address port seconds
  for _ in $(seq $(($3 * 10))); do
    (exec 3<>"/dev/tcp/$1/$2") 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

case "$action" in
  start)
    stop_all
    for spec in "60 none" "61 basic" "62 digest"; do
      set -- $spec
      address="127.0.0.$1"
      setsid /usr/bin/python3 "$server" --address "$address" --auth "$2" --user u --password p \
        --control-port 8554 >"$state/rtsp_server_$1.log" 2>&1 </dev/null &
      echo $! >"$state/rtsp_server_$1.pid"
    done
    for n in 60 61 62; do
      if ! wait_port "127.0.0.$n" 554 20 || ! wait_port "127.0.0.$n" 8554 5; then
        echo "RTSP server on 127.0.0.$n did not start:"; cat "$state/rtsp_server_$n.log"
        stop_all
        exit 1
      fi
    done
    ;;
  stop)
    stop_all
    ;;
esac
