#!/usr/bin/env bash
# A camera without storage: after an outage the work item ends at once as "not available or
# empty" (logged between its start and finish lines) and nothing is replayed.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.81
trap 'rtsp_fault $cam link_up >/dev/null; it_cleanup' EXIT
camsim_reset $cam
# shellcheck disable=SC2046
host_start main $(host_device $cam) live --format h264 --size 320x240 --seconds 120 --edge-storage
wait_line main "^STATE channel=0 state=0$" 30 >/dev/null || fail "no first frame"
sleep 2
echo "fault: $(rtsp_fault $cam link_down seconds=14)"
down=$(line_count main)
back=$(wait_line main "^STATE channel=0 state=0$" 60 "$((down + 1))") || fail "no reconnection"
item='vantrel::CBaseEdgeStorageHandler: Work Item \(address="127\.0\.0\.81:80" channel="0" .*\) - Processing'
start=$(wait_line main "^LOG level=3 $item started\.$" 40 "$down") && pass "work item started" ||
  fail "no work item"
empty=$(wait_line main "^LOG level=1 vantrel::CEdgeStorageTask::ProcessTaskItem: Recorded interval \(start: .*, end: .*\) processing ERROR, storage on device 127\.0\.0\.81:80 is not available or empty$" 20 "${start:-0}") &&
  pass "not available or empty" || fail "no 'not available or empty' line"
done_line=$(wait_line main "^LOG level=3 $item finished\.$" 20 "${start:-0}") && pass "work item finished" ||
  fail "the work item did not finish"
[ -n "$empty" ] && [ -n "$done_line" ] && [ "$empty" -lt "$done_line" ] && pass "the reason comes before the finish line" ||
  fail "reason and finish line out of order"
host_cmd main quit
host_wait main 60 || fail "host exit code $?"
show_log main | grep -v -E '^\[main\] (LIVE_FRAME|STATS) '
expect_line main "^REPLAY frames=0 " "nothing replayed"
reject_line main "0x0AE8|ProcessFiles" "no replay session was asked for"
finish
