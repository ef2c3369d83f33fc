#!/usr/bin/env bash
# One interleaved session against the simulator's raw RTSP camera while it misbehaves in every
# way a session can: an enforced 4 s session time-out (media flowing on the connection does not
# keep the session), responses with bare LF line ends, each response preceded by a late repeat
# of the one before, requests of its own (OPTIONS, SET_PARAMETER, ANNOUNCE), media on channels
# other than those asked for and frames of channels nobody set up. The session must last the
# whole run on one connection, with keep-alives and receiver reports counted by the camera.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.91
seconds=16
write_interleaved_config
camsim_reset $cam
rtsp_fault $cam set "session_timeout=4&bare_lf=1&late_responses=1&server_requests=OPTIONS,SET_PARAMETER,ANNOUNCE&channel=6&other_channels=1" >/dev/null
# shellcheck disable=SC2046
host_run main 120 $(host_device $cam) live --format h264 --size 320x240 --seconds $seconds --first-frame-wait 30 \
  -o "$IT_DIR/capture.h264" ||
  fail "host exit code $?"
expect_line main "^LIVE channel=0 stream=0 frames=[1-9][0-9]+ .*size=320x240 .*bad=0" "frames arrive"
reject_line main "ERROR" "no host errors"
check_capture main "$IT_DIR/capture.h264" h264 320 240
read -r _ _ _ _ errors <<<"$(probe "$IT_DIR/capture.h264" h264)"
[ "${errors:-1}" -eq 0 ] && pass "no frame of another channel got into the capture" || fail "$errors decode errors"
frames=$(field main "^LIVE channel=0 stream=0 " frames)
[ "${frames:-0}" -ge $(((seconds - 4) * 25)) ] && pass "$frames frames in $seconds s: no gap" ||
  fail "only ${frames:-0} frames in $seconds s at 25 fps"
camsim_get "/camera/$cam/raw_rtsp" >"$IT_DIR/raw_rtsp.json"
count() { /usr/bin/python3 -c "import json,sys; c=json.load(open('$IT_DIR/raw_rtsp.json'))['counts']; print($1)"; }
echo "camera counts: $(count "{k: v for k, v in c.items() if k != 'rejections'}")"
[ "$(count "c['connections']")" -eq 1 ] && pass "one connection for the whole run" ||
  fail "$(count "c['connections']") connections"
[ "$(count "c['sessions_expired']")" -eq 0 ] && pass "the session never timed out" || fail "the camera ended the session"
ka=$(count "c['keep_alives']")
# A keep-alive at the start of play and then at least every half time-out (2 s).
[ "$ka" -ge $((seconds / 2 - 2)) ] && pass "$ka keep-alives within the time-out" || fail "only $ka keep-alives in $seconds s"
rr=$(count "c['rtcp_rr']")
[ "$rr" -ge 3 ] && pass "$rr receiver reports on the RTCP channel" || fail "only $rr receiver reports"
for answer in "OPTIONS 200" "SET_PARAMETER 501" "ANNOUNCE 501"; do
  n=$(count "c['server_request_answers'].get('$answer', 0)")
  [ "$n" -ge 1 ] && pass "the camera's requests answered: $answer ($n)" || fail "no answer '$answer' to the camera's request"
done
camsim_reset $cam
finish
