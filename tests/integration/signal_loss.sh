#!/usr/bin/env bash
# The camera stops sending while the session stays up: the channel goes to state 2, the host
# hears OnSignalLost once with the driver's signal-loss message, and when the camera sends
# again the channel comes back online by itself.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.19
cap="$IT_DIR/capture.h264"
trap 'rtsp_fault $cam resume_sending >/dev/null; it_cleanup' EXIT
# shellcheck disable=SC2046
host_start main $(host_device $cam) live --format h264 --size 640x480 --seconds 90 -o "$cap"
wait_line main "^STATE channel=0 state=0$" 30 >/dev/null || fail "no first frame"
echo "fault: $(rtsp_fault $cam stop_sending)"
silent=$(line_count main)
# Half the signal time-out (10 s after open) without frames gives state 2; the whole of it the
# host's OnSignalLost.
wait_line main "^STATE channel=0 state=2$" 20 "$silent" >/dev/null && pass "state 2 after the camera fell silent" ||
  fail "no state 2 after the camera fell silent"
lost=$(wait_line main "^SIGNAL_LOST channel=0 stream=0 count=1$" 30 "$silent") && pass "OnSignalLost" ||
  fail "no OnSignalLost"
# The host hears of the loss first; the driver's message follows.
wait_line main "^LOG level=1 .*Signal was lost for camera 127\.0\.0\.19 \(Rec\)" 5 "$silent" >/dev/null &&
  pass "the signal-loss message" || fail "no signal-loss message"
echo "fault: $(rtsp_fault $cam resume_sending)"
back=$(line_count main)
wait_line main "^STATE channel=0 state=0$" 40 "$back" >/dev/null && pass "receiving again after the camera resumed" ||
  fail "no recovery after the camera resumed"
wait_line main "^LOG level=3 .*Camera 127\.0\.0\.19 is online \(Rec\)" 10 "$back" >/dev/null &&
  pass "online message after recovery" || fail "no online message after recovery"
# Frames flow again: a once-a-second line with frames after the recovery.
wait_line main "^STATS .* frames=[1-9][0-9]+ " 15 "$back" >/dev/null && pass "a whole second of frames after recovery" ||
  fail "no frames after recovery"
host_cmd main quit
host_wait main 60 || fail "host exit code $?"
show_log main
expect_line main "^LIVE channel=0 stream=0 .*bad=0 signal_lost=1 " "exactly one OnSignalLost, no bad frames"
check_capture main "$cap" h264 640 480
finish
