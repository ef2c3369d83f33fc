#!/usr/bin/env bash
# Motion JPEG over RTSP: JPEG frames of the requested size that ffmpeg decodes.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.12
cap="$IT_DIR/capture.mjpeg"
# shellcheck disable=SC2046
host_run main 60 $(host_device $cam) live --format mjpeg --size 640x480 --fps 10 --quality 60 --seconds 5 -o "$cap" ||
  fail "host exit code $?"
expect_line main "^STATE channel=0 state=0$" "the channel reports receiving (state 0)"
expect_line main "^LIVE channel=0 stream=0 frames=[1-9][0-9]* .*size=640x480 fourcc=JPEG class=4 bad=0" \
  "JPEG frames of 640x480"
reject_line main "ERROR" "no host errors"
check_capture main "$cap" mjpeg 640 480
setup=$(camsim_get "/camera/$cam/value" "command=0x0AD5&num=1")
[ -n "$setup" ] && pass "Motion JPEG set-up written with 0x0AD5 ($setup)" || fail "no 0x0AD5 write"
finish
