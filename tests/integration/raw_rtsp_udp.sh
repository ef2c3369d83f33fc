#!/usr/bin/env bash
# RTP over UDP from the simulator's raw RTSP camera: datagrams that leave in swapped pairs and
# some twice, mixed with datagrams from another address to the same port, still make whole
# frames; the foreign sender is named once in the log. A camera that sends from another address
# and names it in the Transport "source=" parameter is received.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.92
other=127.0.0.93
raw_count() {
  camsim_get "/camera/$cam/raw_rtsp" | /usr/bin/python3 -c "import json,sys; print(json.load(sys.stdin)['counts'].get('$1', 0))"
}

camsim_reset $cam
rtsp_fault $cam set "reorder=1&duplicate=1&foreign=1" >/dev/null
# shellcheck disable=SC2046
host_run mixed 60 $(host_device $cam) live --format h264 --size 320x240 --seconds 6 -o "$IT_DIR/mixed.h264" ||
  fail "mixed: host exit code $?"
expect_line mixed "^LIVE channel=0 stream=0 frames=[1-9][0-9]+ .*size=320x240 .*bad=0" "reordered and duplicated: frames arrive"
reject_line mixed "ERROR" "mixed: no host errors"
check_capture mixed "$IT_DIR/mixed.h264" h264 320 240
read -r _ _ _ _ errors <<<"$(probe "$IT_DIR/mixed.h264" h264)"
[ "${errors:-1}" -eq 0 ] && pass "the capture decodes without an error" || fail "$errors decode errors"
echo "foreign datagrams sent: $(raw_count foreign_packets), receiver reports: $(raw_count rtcp_rr)"
expect_line mixed "^LOG level=[12] .*RTP data from $other dropped for device $cam:80: the camera's address is $cam" \
  "the foreign sender is named with both addresses"
n=$(host_log mixed | grep -c "RTP data from")
[ "$n" -eq 1 ] && pass "the foreign sender is logged once" || fail "the foreign sender is logged $n times"
[ "$(raw_count rtcp_rr)" -ge 1 ] && pass "receiver reports reach the camera's RTCP port" || fail "no receiver report"

camsim_reset $cam
rtsp_fault $cam set "sender=$other&name_source=1" >/dev/null
# shellcheck disable=SC2046
host_run source 60 $(host_device $cam) live --format h264 --size 320x240 --seconds 4 -o "$IT_DIR/source.h264" ||
  fail "source: host exit code $?"
expect_line source "^LIVE channel=0 stream=0 frames=[1-9][0-9]+ .*size=320x240 .*bad=0" \
  "media from the sender the SETUP reply names arrive"
reject_line source "RTP data from" "the named sender is not taken for a foreign one"
camsim_reset $cam
finish
