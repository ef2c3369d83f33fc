#!/usr/bin/env bash
# H.264 interleaved in the RTSP connection (configuration RTPMode "RTPoverRTSP") from a camera
# that takes only Digest authentication.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.11
cap="$IT_DIR/capture.h264"
write_interleaved_config
# shellcheck disable=SC2046
host_run main 60 $(host_device $cam) live --format h264 --size 640x480 --seconds 5 -o "$cap" ||
  fail "host exit code $?"
expect_line main "^STATE channel=0 state=0$" "the channel reports receiving (state 0)"
expect_line main "^LIVE channel=0 stream=0 frames=[1-9][0-9]* .*size=640x480 fourcc=(H264|I264) class=4 bad=0" \
  "frames of 640x480 over the RTSP connection"
reject_line main "ERROR" "no host errors"
check_capture main "$cap" h264 640 480
# The camera's HTTP side saw Digest answers only (a Basic attempt is refused there).
auths=$(camsim_get "/camera/$cam/requests" | /usr/bin/python3 -c \
  'import json,sys; print(" ".join(sorted({r.get("auth") or "none" for r in json.load(sys.stdin) if r.get("status") == 200})))')
[[ "$auths" == *digest* ]] && pass "RCP+ requests answered with Digest ($auths)" || fail "RCP+ auth kinds: '$auths'"
finish
