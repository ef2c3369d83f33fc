#!/usr/bin/env bash
# RTSP Digest variants against the simulator's raw RTSP camera, which checks every answer
# strictly (uri = the request line's, nc growing per nonce, opaque returned, MD5-sess and
# auth-int hashed right): each variant streams without a refused answer and without a second
# connection (a nonce that goes stale or is renewed mid-session is answered on the spot), and a
# wrong password leaves one clear log line.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.90
write_interleaved_config
# raw_count NAME: a counter of the camera's raw RTSP side.
raw_count() {
  camsim_get "/camera/$cam/raw_rtsp" | /usr/bin/python3 -c "import json,sys; print(json.load(sys.stdin)['counts'].get('$1', 0))"
}

# name | faults | counter that must have moved (besides digest_accepted)
cases=(
  "auth_opaque_stale|qop=auth&opaque=1&stale_after=4&session_timeout=6|stale_sent"
  "md5_sess_renewed|qop=auth&algorithm=MD5-sess&renew_after=4&session_timeout=6|renewed_sent"
  "auth_int_only_expiring|qop=auth-int&nonce_seconds=3&session_timeout=6|stale_sent"
  "no_qop|qop=none&opaque=1|"
  "basic_before_digest|basic_too=1|"
)
for row in "${cases[@]}"; do
  IFS='|' read -r name faults moved <<<"$row"
  camsim_reset $cam
  rtsp_fault $cam set "$faults" >/dev/null
  # shellcheck disable=SC2046
  host_run "$name" 60 $(host_device $cam) live --format h264 --size 320x240 --seconds 7 -o "$IT_DIR/$name.h264" ||
    fail "$name: host exit code $?"
  expect_line "$name" "^LIVE channel=0 stream=0 frames=[1-9][0-9]+ .*size=320x240 .*bad=0" "$name: frames arrive"
  reject_line "$name" "ERROR" "$name: no host errors"
  accepted=$(raw_count digest_accepted) rejected=$(raw_count digest_rejected) conns=$(raw_count connections)
  echo "$name: digest accepted=$accepted rejected=$rejected basic=$(raw_count basic_accepted) connections=$conns" \
    "stale=$(raw_count stale_sent) renewed=$(raw_count renewed_sent) keep-alives=$(raw_count keep_alives)"
  [ "$accepted" -ge 4 ] && [ "$rejected" -eq 0 ] && pass "$name: every Digest answer accepted" ||
    fail "$name: Digest answers accepted $accepted, refused $rejected: $(camsim_get "/camera/$cam/raw_rtsp" | tr -d '\n' | sed 's/.*"rejections"//')"
  [ "$(raw_count basic_accepted)" -eq 0 ] && pass "$name: no Basic answer" || fail "$name: Basic was sent"
  [ "$conns" -eq 1 ] && pass "$name: one connection" || fail "$name: $conns connections (the session did not survive)"
  if [ -n "$moved" ]; then
    [ "$(raw_count "$moved")" -ge 1 ] && pass "$name: $moved mid-session answered" || fail "$name: no $moved"
  fi
done
check_capture auth_int_only_expiring "$IT_DIR/auth_int_only_expiring.h264" h264 320 240

# A password the camera does not take: one clear line, and the driver stops asking.
camsim_reset $cam
rtsp_fault $cam set "password=other" >/dev/null
# shellcheck disable=SC2046
host_run refused 60 $(host_device $cam) live --format h264 --size 320x240 --seconds 4 --allow-no-frames ||
  fail "refused: host exit code $?"
expect_line refused "^LOG level=1 .*RTSP login refused by device 127\.0\.0\.90:80 for user \"service\" - no video" \
  "refused login named once for the integrator"
n=$(host_log refused | grep -c "RTSP login refused")
[ "$n" -eq 1 ] && pass "the refusal is logged once" || fail "the refusal is logged $n times"
tries=$(raw_count digest_rejected)
[ "$tries" -le 8 ] && pass "refused answers bounded ($tries in 4 s)" || fail "$tries refused answers in 4 s"
camsim_reset $cam
finish
