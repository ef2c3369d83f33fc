#!/usr/bin/env bash
# Multicast in both streaming modes ("Multicast Primary": this recorder sets the camera up;
# "Multicast": someone else does), with the configuration's NetworkInterface. Everything runs in
# a network namespace of its own whose loopback carries the multicast routes, with a camera
# simulator of its own, so no multicast leaves the machine.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.10
private_namespace "$cam"
camsim_get() { in_ns curl -s -m 15 "http://$control$1${2:+?$2}"; }
camsim_post() { in_ns curl -s -m 15 -X POST "http://$control$1${2:+?$2}"; }

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
  # The seconds count from the first frame: a fresh Wine server and prefix, the camera's set-up
  # and the simulator's encoder start can take most of a short run on a loaded machine.
  host_start "$name" $(host_device $cam) live --format h264 --size 640x480 --seconds ${MC_SECONDS:-8} \
    --first-frame-wait 40 -o "$cap"
  if wait_line "$name" "^FIRST_FRAME channel=0 stream=0" 45 >/dev/null; then
    groups=$(in_ns ip maddr show dev lo | grep -o "239\.255\.[0-9.]*" | sort -u | tr '\n' ' ')
    [ -n "$groups" ] && pass "$name: the host joined $groups" || fail "$name: no multicast group joined on lo"
  fi
  host_wait "$name" 90 || fail "$name: host exit code $?"
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
