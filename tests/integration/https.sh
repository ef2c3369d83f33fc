#!/usr/bin/env bash
# Cameras set to HTTPS: every side that travels over the camera's HTTP port works over TLS on
# 443 (WinHTTP's secure transport, certificate errors ignored as for cameras' self-signed
# certificates): the capability query, live H.264 (set-up over RCP+ on HTTPS, media over RTSP),
# Motion JPEG snapshots, alarm I/O and PTZ. 127.0.0.94 has no plain HTTP at all; 127.0.0.95 has
# both. The credentials never appear in the host's output.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.94
both=127.0.0.95
camsim_reset $cam
camsim_reset $both
no_credentials() {  # NAME
  if host_log "$1" | grep -E ':camsim|camsim@' >/dev/null; then fail "$1: the password appears in the output"; else
    pass "$1: no credentials in the output"; fi
}
dev() {  # ADDRESS: the device as the recorder adds it, port 443
  echo "-a $1 -P 443 -u service -w camsim -m Camsim -c 1 -v 3 -p 1=1 -p 2=7.80 -p 3=0075F000094 -p 4=1 -p 5=3 -p 6=30"
}

for c in only:$cam both:$both; do
  name=query_${c%%:*} c=${c#*:}
  host_run "$name" 60 -P 443 -u service -w camsim query $c || fail "query $c: host exit code $?"
  expect_line "$name" '^query: completed$' "$c: the capability query completes over HTTPS"
  expect_line "$name" '^120 \[Live Stream: Supported Codecs\] = h264$' "$c: the report names the live codec"
  no_credentials "$name"
done
requests=$(camsim_get "/camera/$cam/requests.txt" | wc -l)
[ "$requests" -gt 5 ] && pass "the HTTPS-only camera answered $requests requests over TLS" ||
  fail "the HTTPS-only camera saw $requests requests"

cap="$IT_DIR/capture.h264"
# shellcheck disable=SC2046
host_run h264 60 $(dev $cam) live --format h264 --size 640x480 --fps 10 --seconds 4 -o "$cap" ||
  fail "h264: host exit code $?"
check_capture h264 "$cap" h264 640 480
[ -n "$(camsim_get "/camera/$cam/value" "command=0x0AD2&num=1")" ] && pass "H.264 set up over RCP+ on HTTPS" ||
  fail "no H.264 set-up reached the camera"
no_credentials h264

snap="$IT_DIR/capture.mjpeg"
# shellcheck disable=SC2046
host_run snapshots 60 $(dev $cam | sed 's/-p 5=3/-p 5=0/') live --format mjpeg --size 352x288 --fps 5 \
  --seconds 4 -o "$snap" || fail "snapshots: host exit code $?"
check_capture snapshots "$snap" mjpeg 352 288
no_credentials snapshots

camsim_post "/camera/$cam/set" "input=2&value=1" >/dev/null
# shellcheck disable=SC2046
host_start io $(dev $cam) io --seconds 30
wait_line io "^IO inputs=2 outputs=1$" 20 >/dev/null && pass "I/O counts over HTTPS" || fail "no I/O counts line"
wait_line io "^INPUT input=1 state=2 " 15 >/dev/null && pass "input 2 reported active over HTTPS" ||
  fail "input 2 not reported"
host_cmd io "set 0 2"
for _ in $(seq 1 50); do
  [ "$(camsim_state $cam 's["outputs"]["1"]' 2>/dev/null)" = 1 ] && break
  sleep 0.2
done
[ "$(camsim_state $cam 's["outputs"]["1"]' 2>/dev/null)" = 1 ] && pass "relay switched over HTTPS" ||
  fail "the relay was not switched ($(camsim_state $cam 's.get("outputs")' 2>/dev/null))"
host_cmd io quit
host_wait io 30 || fail "io: host exit code $?"
no_credentials io

# shellcheck disable=SC2046
host_start ptz $(dev $cam) ptz --seconds 30
for c in "configured = 1" "move left 16 = 1" "wait 500" "stop = 1" "wait 500" "quit"; do host_cmd ptz "$c"; done
host_wait ptz 60 || fail "ptz: host exit code $?"
frames=$(camsim_get "/camera/$cam/ptz.txt")
grep -q "^pelco-d move pan=left" <<<"$frames" && pass "PTZ move reached the head over HTTPS" ||
  fail "no PTZ move at the head ($frames)"
no_credentials ptz
finish
