#!/usr/bin/env bash
# Edge storage end to end: live H.264 with edge storage on; the camera's link drops for
# EDGE_GAP seconds (20 by default) while it goes on recording. After the reconnection the driver
# replays the gap from the camera's storage: the replayed frames decode, lie strictly inside the
# gap, repeat no live frame and start with a key frame; the work item's start and finish lines
# are logged.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.80
gap=${EDGE_GAP:-14}
cap="$IT_DIR/live.h264"
replay="$IT_DIR/replay.h264"
trap 'rtsp_fault $cam link_up >/dev/null; it_cleanup' EXIT
camsim_reset $cam
# shellcheck disable=SC2046
host_start main $(host_device $cam) live --format h264 --size 320x240 --seconds 150 -o "$cap" \
  --edge-storage --replay-file "$replay"
wait_line main "^EDGE_STORAGE set=true state=1$" 30 >/dev/null && pass "EdgeStorageState switched on" ||
  fail "EdgeStorageState not switched on"
wait_line main "^STATE channel=0 state=0$" 30 >/dev/null || fail "no first frame"
sleep 3
echo "fault: $(rtsp_fault $cam link_down "seconds=$gap")"
down=$(line_count main)
wait_line main "^STATE channel=0 state=2$" 30 "$down" >/dev/null || fail "the outage was not noticed"
back=$(wait_line main "^STATE channel=0 state=0$" $((gap + 40)) "$down") || fail "no reconnection"
item='vantrel::CBaseEdgeStorageHandler: Work Item \(address="127\.0\.0\.80:80" channel="0" begin_time="[0-9/]+ [0-9:.]+" end_time="[0-9/]+ [0-9:.]+"\) - Processing'
wait_line main "^LOG level=3 $item started\.$" 40 "$down" >/dev/null && pass "work item start line" ||
  fail "no work item start line"
wait_line main "^LOG level=3 $item finished\.$" 90 "$down" >/dev/null && pass "work item finish line" ||
  fail "no work item finish line"
sleep 2
host_cmd main quit
host_wait main 60 || fail "host exit code $?"
show_log main | grep -v -E '^\[main\] (LIVE_FRAME|REPLAYED|STATS) '
# The start and the finish line name the same interval.
started=$(host_log main | sed -n -E "s/^LOG level=3 ($item) started\.$/\1/p" | head -1)
finished=$(host_log main | sed -n -E "s/^LOG level=3 ($item) finished\.$/\1/p" | head -1)
[ -n "$started" ] && [ "$started" = "$finished" ] && pass "start and finish lines name the same interval" ||
  fail "start and finish lines differ: '$started' / '$finished'"
/usr/bin/python3 "$(dirname "$0")/edge_check.py" "$IT_DIR/main.raw" $((gap / 2)) || IT_FAILED=1
replayed=$(field main "^REPLAY frames=" frames)
read -r codec w h decoded errors <<<"$(probe "$replay" h264)"
echo "replay $replay: codec=$codec ${w}x$h decoded=$decoded errors=$errors replayed=$replayed"
[ "$codec" = h264 ] && [ "${decoded:-0}" = "$replayed" ] && [ "$errors" = 0 ] &&
  pass "every replayed frame decodes ($decoded)" || fail "replayed frames do not all decode"
reject_line main "processing ERROR" "no replay error"
check_capture main "$cap" h264 320 240
finish
