#!/usr/bin/env bash
# MPEG-4 through the RCP+ streamer: frames decode at the size set over RCP+; pausing ends the
# streamer connection and resuming makes a new one; a streamer that stalls, closes or sends
# garbage leads to signal loss and a recovery by reconnecting; a refused stream is retried; a
# new size from the host reaches the camera and the stream comes back at that size.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.30
cap="$IT_DIR/capture.m4v"
streamer() { camsim_get "/camera/$cam/streamer_state" | /usr/bin/python3 -c "import json,sys; s=json.load(sys.stdin); print($1)"; }
sfault() { camsim_post "/camera/$cam/streamer_fault" "$1" >/dev/null; }
trap 'sfault name=none; it_cleanup' EXIT
camsim_reset $cam
sfault name=none
camsim_post "/camera/$cam/streamer_clear" >/dev/null
# shellcheck disable=SC2046
host_start main $(host_device $cam) live --format mpeg4 --size 640x480 --seconds 150 -o "$cap"
wait_line main "^STATE channel=0 state=0$" 30 >/dev/null && pass "first MPEG-4 frame" || fail "no first frame"
coding=$(streamer 's["connections"][-1]["coding"] if s["connections"] else -1')
[ "$coding" = 10 ] && pass "unicast MPEG-4 asked with coding 10" || fail "coding $coding, expected 10"
wait_line main "^STATS .* frames=[1-9][0-9]* .*size=640x480 fourcc=DIV" 10 >/dev/null &&
  pass "640x480 MPEG-4 frames" || fail "no 640x480 MPEG-4 frames"

host_cmd main "pause 0"
paused=$(wait_line main "^CMD pause channel=0 result=true$" 10) && pass "PauseChannel" || fail "PauseChannel failed"
sleep 1
[ "$(streamer 's["active"]')" = 0 ] && pass "pausing disconnects the streamer" || fail "the streamer stays connected while paused"
before=$(streamer 'len(s["connections"])')
host_cmd main "resume 0"
resumed=$(wait_line main "^CMD resume channel=0 result=true$" 10) && pass "ResumeChannel" || fail "ResumeChannel failed"
wait_line main "^STATS .* frames=[1-9][0-9]* " 15 "${resumed:-0}" >/dev/null && pass "frames again after resume" ||
  fail "no frames after resume"
[ "$(streamer 'len(s["connections"])')" -gt "$before" ] && pass "resuming reconnects the streamer" ||
  fail "no new streamer connection after resume"

# Each fault on the running stream: signal loss, then recovery by a new connection.
n=0
for fault in stall close garbage; do
  n=$((n + 1))
  mark=$(line_count main)
  sfault "name=$fault&running=1"
  wait_line main "^STATE channel=0 state=2$" 25 "$mark" >/dev/null && pass "$fault: signal lost" ||
    fail "$fault: no signal loss"
  wait_line main "^STATE channel=0 state=0$" 40 "$mark" >/dev/null && pass "$fault: receiving again" ||
    fail "$fault: no recovery"
done
# A camera that refuses the next two stream requests: the channel keeps asking.
mark=$(line_count main)
sfault "name=refuse&count=2&code=10"
sfault "name=stall&running=1"
wait_line main "^STATE channel=0 state=2$" 25 "$mark" >/dev/null || fail "refuse: no signal loss"
wait_line main "^STATE channel=0 state=0$" 60 "$mark" >/dev/null && pass "refuse: receiving after two refusals" ||
  fail "refuse: no recovery"
refused=$(streamer 'sum(1 for c in s["connections"] if c["result"] == 10)')
[ "$refused" = 2 ] && pass "two refused requests" || fail "$refused refused requests, expected 2"
wait_line main "^LOG level=2 .*The camera ended the RCP\+ video stream of .* \(error 0xA\)" 5 "$mark" >/dev/null &&
  pass "a refusal is logged with the camera's code" || fail "no log line for the refusal"
host_cmd main quit
host_wait main 60 || fail "host exit code $?"
show_log main
expect_line main "^LIVE channel=0 stream=0 frames=[1-9][0-9]* .*bad=0" "frames without faults"
check_capture main "$cap" m4v 640 480
[ "$(camsim_state $cam 's["values"].get("0x0a9c/1")')" = 1 ] && pass "stream coding 1 on the encoder instance" ||
  fail "no 0x0A9C write of 1"

# shellcheck disable=SC2046
host_start resize $(host_device $cam) live --format mpeg4 --size 640x480 --seconds 60
wait_line resize "^STATS .* frames=[1-9][0-9]* .*size=640x480 " 30 >/dev/null || fail "resize: no 640x480 frames"
mark=$(line_count resize)
host_cmd resize "update 0 320 240 25"
wait_line resize "^STATS .* frames=[1-9][0-9]* .*size=320x240 " 30 "$mark" >/dev/null &&
  pass "frames at the new size after UpdateChannelSettings" || fail "resize: no 320x240 frames"
host_cmd resize quit
host_wait resize 60 || fail "resize: host exit code $?"
finish
