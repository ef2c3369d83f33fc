#!/usr/bin/env bash
# H.264 over RTP/UDP unicast from a camera with Basic authentication: the camera is set up over
# RCP+ for the requested size, the frames reach the host with size and code, and ffmpeg decodes
# the capture at that size.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.10
cap="$IT_DIR/capture.h264"
# shellcheck disable=SC2046
host_start main $(host_device $cam) live --format h264 --size 640x480 --fps 25 --seconds 5 -o "$cap"
if wait_line main "^FIRST_FRAME channel=0 stream=0" 30 >/dev/null; then
  # While frames flow, the driver's RTP socket is bound in the even port range it uses.
  if ss -Huan | awk '{ split($4, a, ":"); p = a[length(a)]; if (p >= 3556 && p < 4556) found = 1 } END { exit !found }'; then
    pass "an RTP/UDP socket is bound in 3556..4555"
  else
    fail "no UDP socket bound in 3556..4555 while receiving"
  fi
fi
host_wait main 60 || fail "host exit code $?"
show_log main
expect_line main "^STATE channel=0 state=0$" "the channel reports receiving (state 0)"
expect_line main "^LOG level=3 .*Camera 127\.0\.0\.10 is online \(Rec\)" "online message"
expect_line main "^LIVE channel=0 stream=0 frames=[1-9][0-9]* .*size=640x480 fourcc=(H264|I264) class=4 bad=0" \
  "frames of 640x480, size class 4, without faults"
expect_line main "^STOP channel=0 stream=all ms=[0-9]+ result=true" "StopChannel"
reject_line main "ERROR" "no host errors"
check_capture main "$cap" h264 640 480
value=$(camsim_get "/camera/$cam/value" "command=0x0608&num=1")
[ "$value" = 7 ] && pass "resolution code 7 (640x480) written with 0x0608" || fail "0x0608 holds '$value', expected 7"
finish
