#!/usr/bin/env bash
# Multicast in both streaming modes ("Multicast Primary": this recorder sets the camera up;
# "Multicast": someone else does), with the configuration's NetworkInterface. Everything runs in
# a network namespace of its own whose loopback carries the multicast routes, with a camera
# simulator of its own, so no multicast leaves the machine.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.10
ns=lumivar-mcast-$$
control=127.0.0.1:18080
# Wine creates sockets in its server process, so the host needs a Wine server inside the
# namespace: that needs a prefix of its own.
prefix=$IT_DIR/wineprefix
cleanup_ns() {
  it_cleanup
  ip netns exec "$ns" env WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 </dev/null
  [ -n "${camsim_pid:-}" ] && kill -TERM "$camsim_pid" 2>/dev/null
  for _ in $(seq 1 50); do kill -0 "${camsim_pid:-0}" 2>/dev/null || break; sleep 0.1; done
  [ -n "${camsim_pid:-}" ] && kill -KILL "$camsim_pid" 2>/dev/null
  ip netns del "$ns" 2>/dev/null
  return 0
}
trap cleanup_ns EXIT
ip netns add "$ns" || { echo "cannot make a network namespace (root needed)"; exit 1; }
ip netns exec "$ns" ip link set lo up multicast on
ip netns exec "$ns" ip route add 224.0.0.0/4 dev lo
in_ns() { ip netns exec "$ns" "$@"; }
camsim_get() { in_ns curl -s -m 15 "http://$control$1${2:+?$2}"; }
camsim_post() { in_ns curl -s -m 15 -X POST "http://$control$1${2:+?$2}"; }

# Not through in_ns: a backgrounded function runs in a subshell, and $! would not be the simulator.
ip netns exec "$ns" /usr/bin/python3 "$IT_SOURCE_DIR/tools/camsim/camsim.py" --control "$control" --only "$cam" \
  --cache-dir "$IT_DIR/camsim-cache" >"$IT_DIR/camsim.log" 2>&1 </dev/null &
camsim_pid=$!
for _ in $(seq 1 300); do camsim_get /health >/dev/null 2>&1 && break; sleep 0.1; done
camsim_get /health >/dev/null || { cat "$IT_DIR/camsim.log"; fail "camera simulator did not start"; finish; }
# A prefix of its own, made inside the namespace: a copy of the build's prefix may hold a registry
# the build's long-lived wineserver has not written to disk yet (no MSXML entries then).
in_ns env WINEPREFIX="$prefix" WINEDEBUG=-all wineboot -i >/dev/null 2>&1 </dev/null || fail "cannot make a Wine prefix"
# Started here with output redirected, so that no Wine process holds the test's output pipe.
in_ns env WINEPREFIX="$prefix" WINEDEBUG=-all sh -c 'wineserver -p; wine cmd /c exit' >/dev/null 2>&1 </dev/null
IT_WRAP=(ip netns exec "$ns" env WINEPREFIX="$prefix")

run_mode() {  # NAME STREAMING_MODE_TEXT
  local name=$1 mode=$2 cap="$IT_DIR/$1.h264" groups
  write_config <<XML
<?xml version="1.0"?>
<Configuration>
  <StreamingMode>$mode</StreamingMode>
  <Default><NetworkInterface>127.0.0.1</NetworkInterface></Default>
</Configuration>
XML
  camsim_post "/camera/$cam/clear_log" >/dev/null
  # shellcheck disable=SC2046
  host_start "$name" $(host_device $cam) live --format h264 --size 640x480 --seconds ${MC_SECONDS:-8} -o "$cap"
  if wait_line "$name" "^FIRST_FRAME channel=0 stream=0" 40 >/dev/null; then
    groups=$(in_ns ip maddr show dev lo | grep -o "239\.255\.[0-9.]*" | sort -u | tr '\n' ' ')
    [ -n "$groups" ] && pass "$name: the host joined $groups" || fail "$name: no multicast group joined on lo"
  fi
  host_wait "$name" 60 || fail "$name: host exit code $?"
  show_log "$name"
  expect_line "$name" "^STATE channel=0 state=0$" "$name: the channel reports receiving"
  expect_line "$name" "^LIVE channel=0 stream=0 frames=[1-9][0-9]* .*size=640x480 .*bad=0" "$name: 640x480 frames"
  check_capture "$name" "$cap" h264 640 480
}

run_mode primary "Multicast Primary"
writes=$(camsim_get "/camera/$cam/requests.txt" | grep -c "direction=WRITE")
[ "$writes" -gt 0 ] && pass "primary: the camera was set up ($writes RCP+ writes)" || fail "primary: no RCP+ writes"

run_mode secondary "Multicast"
writes=$(camsim_get "/camera/$cam/requests.txt" | grep -c "direction=WRITE")
[ "$writes" -eq 0 ] && pass "secondary: the camera was left as it was" || fail "secondary: $writes RCP+ writes"
finish
