#!/usr/bin/env bash
# The camera's audio falls silent while the session stays up: after the device time-out the
# channel reports status 5 with the signal-lost message, keeps reconnecting, and when the camera
# sends again it is running with frames and the signal-OK message once more.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.41
camsim_reset $cam
trap 'rtsp_fault $cam resume_sending >/dev/null; it_cleanup' EXIT
# shellcheck disable=SC2046
host_start main $(host_device $cam) -p "101=Count=1; IsStereo=0" --seconds 60 audio-in
wait_line main "^AUDIO frame=1 " 30 >/dev/null || fail "no first frame"
echo "fault: $(rtsp_fault $cam stop_sending)"
silent=$(line_count main)
# The device time-out is 10 s after Open; the worker looks every 2 s.
wait_line main "^AUDIO status index=0 status=5$" 25 "$silent" >/dev/null && pass "status 5 after the camera fell silent" ||
  fail "no status 5 after the camera fell silent"
wait_line main "^LOG level=1 vantrel::CBaseAudioRTSPChannel::SetDeviceState: Audio signal was lost for camera 127\.0\.0\.41$" \
  5 "$silent" >/dev/null && pass "the signal-lost message" || fail "no signal-lost message"
echo "fault: $(rtsp_fault $cam resume_sending)"
back=$(line_count main)
wait_line main "^AUDIO status index=0 status=2$" 40 "$back" >/dev/null && pass "running again after the camera resumed" ||
  fail "not running again after the camera resumed"
wait_line main "^LOG level=3 vantrel::CBaseAudioRTSPChannel::SetDeviceState: Audio signal from camera 127\.0\.0\.41 is OK$" \
  20 "$back" >/dev/null && pass "signal-OK message after recovery" || fail "no signal-OK message after recovery"
resumed=$(wait_line main "^AUDIO second=.* new=[1-9][0-9]* " 20 "$back") && pass "frames flow again" ||
  fail "no frames after recovery"
host_wait main 90 || fail "host exit code $?"
show_log main
lost=$(host_log main | grep -c "Audio signal was lost")
[ "$lost" -eq 1 ] && pass "one signal-lost message for one outage" || fail "$lost signal-lost messages"
expect_line main "^AUDIO result .* bad=0 status=0 " "no bad frames, stopped at the end"
expect_line main "^SUMMARY: OK" "every frame released"
finish
