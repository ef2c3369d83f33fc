#!/usr/bin/env bash
# The camera's RTSP server restarts (listener and sessions gone for two seconds): the channel
# reconnects by itself and frames flow again.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.14
cap="$IT_DIR/capture.h264"
# shellcheck disable=SC2046
host_start main $(host_device $cam) live --format h264 --size 640x480 --seconds 90 -o "$cap"
wait_line main "^STATE channel=0 state=0$" 30 >/dev/null || fail "no first frame"
before=$(line_count main)
echo "fault: $(rtsp_fault $cam restart delay=2)"
gap=$(wait_line main "^STATS .* frames=0 " 15 "$before") && pass "the restart interrupted the stream" ||
  fail "no interruption seen"
wait_line main "^STATS .* frames=[1-9][0-9]+ " 45 "${gap:-$before}" >/dev/null &&
  pass "frames flow again after the restart" || fail "no frames after the restart"
host_cmd main quit
host_wait main 60 || fail "host exit code $?"
show_log main
expect_line main "^LIVE channel=0 stream=0 frames=[1-9][0-9]* .*bad=0" "no bad frames"
check_capture main "$cap" h264 640 480
finish
