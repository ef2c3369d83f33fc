#!/usr/bin/env bash
# Motion through the video-capture object: a recording stream started with the host's motion
# switch delivers a pair of motion frames on the first answer and one per change; a camera that
# stops answering the motion poll brings motion-data-stopped, and its return a fresh pair.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.53
camsim_reset $cam
trap 'camsim_reset $cam; it_cleanup' EXIT
camsim_post "/camera/$cam/set" "motion=1&value=1" >/dev/null
# shellcheck disable=SC2046
host_start main $(host_device $cam) motion --format h264 --size 640x480 --seconds 90
wait_line main "^START channel=0 motion=1 result=true$" 30 >/dev/null || fail "StartChannel failed"
first=$(wait_line main "^MOTION channel=0 state=0 " 15) && pass "the pair starts with the opposite state" ||
  fail "no first motion frame"
wait_line main "^MOTION channel=0 state=1 " 5 "$first" >/dev/null && pass "then the camera's state" ||
  fail "no second frame of the pair"
sleep 3
n=$(host_log main | grep -c "^MOTION ")
[ "$n" -eq 2 ] && pass "an unchanged state gives no frames" || fail "$n motion frames while unchanged"

mark=$(line_count main)
camsim_post "/camera/$cam/set" "motion=1&value=0" >/dev/null
wait_line main "^MOTION channel=0 state=0 " 5 "$mark" >/dev/null && pass "a frame on the change" ||
  fail "no frame for the change"

mark=$(line_count main)
camsim_post "/camera/$cam/fault" "kind=binary&bytes=64&count=0&match=0x0807" >/dev/null
# Motion time-out: the device's second time-out, 10 s after open.
wait_line main "^MOTION_STOPPED channel=0 reason=0 count=1$" 25 "$mark" >/dev/null &&
  pass "motion data stopped after the time-out" || fail "no motion-data-stopped"
camsim_post "/camera/$cam/clear_faults" >/dev/null
mark=$(line_count main)
again=$(wait_line main "^MOTION channel=0 state=1 " 10 "$mark") && pass "recovery gives a fresh pair" ||
  fail "no motion frames after recovery"
host_cmd main quit
host_wait main 40 || fail "host exit code $?"
show_log main
expect_line main "^MOTION_SUMMARY channel=0 motion_frames=5 video_frames=[1-9][0-9]* bad=0 stopped=1$" \
  "five motion frames beside the video, none bad, one stop"
finish
