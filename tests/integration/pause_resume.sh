#!/usr/bin/env bash
# PauseChannel stops frames reaching the host without losing the session; ResumeChannel brings
# them back without a reconnect or a signal-loss notice.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.21
cap="$IT_DIR/capture.h264"
# shellcheck disable=SC2046
host_start main $(host_device $cam) live --format h264 --size 640x480 --seconds 90 -o "$cap"
wait_line main "^STATE channel=0 state=0$" 30 >/dev/null || fail "no first frame"
host_cmd main "pause 0"
paused=$(wait_line main "^CMD pause channel=0 result=true$" 10) && pass "PauseChannel" || fail "PauseChannel failed"
# The second full once-a-second line after the pause counts no frames, and stays so.
quiet=$(wait_line main "^STATS .* frames=0 " 10 "${paused:-0}") && pass "no frames while paused" ||
  fail "frames kept coming while paused"
wait_line main "^STATS .*" 10 $((${quiet:-0} + 3)) >/dev/null
n=$(host_log main | awk -v a="${quiet:-0}" 'NR > a && /^STATS / && !/ frames=0 / { c++ } END { print c + 0 }')
[ "$n" -eq 0 ] && pass "still no frames three seconds later" || fail "$n once-a-second lines with frames while paused"
host_cmd main "resume 0"
resumed=$(wait_line main "^CMD resume channel=0 result=true$" 10) && pass "ResumeChannel" || fail "ResumeChannel failed"
wait_line main "^STATS .* frames=[1-9][0-9]* " 15 "${resumed:-0}" >/dev/null && pass "frames again after resume" ||
  fail "no frames after resume"
host_cmd main "pause 0"
host_cmd main "pause 0"
wait_line main "^CMD pause channel=0 result=false$" 10 >/dev/null && pass "a second PauseChannel is refused" ||
  fail "a second PauseChannel was not refused"
host_cmd main "resume 0"
host_cmd main quit
host_wait main 60 || fail "host exit code $?"
show_log main
reject_line main "^SIGNAL_LOST" "no signal loss while paused"
reject_line main "Signal was lost" "no signal-loss message while paused"
expect_line main "^LIVE channel=0 stream=0 frames=[1-9][0-9]* .*bad=0" "frames without faults"
check_capture main "$cap" h264 640 480
finish
