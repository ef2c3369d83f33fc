#!/usr/bin/env bash
# A replay that cannot finish. First the camera's replay connections close right after PLAY
# without data, then its replay session id reads 0: the work item is retried a bounded number of
# times, after growing pauses (never at the rate of the live frames), and then given up with a
# warning that names its interval. (A camera that ends its recordings early: edge_storage_rounds.)
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.87
gap=${EDGE_GAP:-12}
trap 'rtsp_fault $cam link_up >/dev/null; rtsp_fault $cam replay_normal >/dev/null; it_cleanup' EXIT
camsim_reset $cam
rtsp_fault $cam replay_normal >/dev/null
# shellcheck disable=SC2046
host_start main $(host_device $cam) live --format h264 --size 320x240 --seconds 150 --edge-storage
wait_line main "^STATE channel=0 state=0$" 30 >/dev/null || fail "no first frame"
item='vantrel::CBaseEdgeStorageHandler: Work Item \(address="127\.0\.0\.87:80" channel="0" begin_time="([0-9/]+ [0-9:.]+)" end_time="([0-9/]+ [0-9:.]+)"\) - Processing'
sleep 2
rtsp_fault $cam replay_close "count=2" >/dev/null
rtsp_fault $cam session_zero "on=1" >/dev/null
rtsp_fault $cam stats_reset >/dev/null
rtsp_fault $cam link_down "seconds=$gap" >/dev/null
down=$(line_count main)
wait_line main "^STATE channel=0 state=0$" $((gap + 40)) "$((down + 1))" >/dev/null || fail "no reconnection"
first=$(wait_line main "^LOG level=3 $item started\.$" 40 "$down") || fail "no work item"
given=$(wait_line main "^LOG level=2 vantrel::CBaseEdgeStorageHandler::ProcessEdgeStorageTaskItem: Recorded interval \(start: .*, end: .*\), device 127\.0\.0\.87:80 \(channel 0\) was given up after [0-9]+ failed replays$" 120 "${first:-0}") &&
  pass "the replay that cannot finish was given up with a warning" || fail "no 'given up' warning"
wait_line main "^LOG level=3 $item finished\.$" 10 "${first:-0}" >/dev/null && pass "the given-up item finished" ||
  fail "the given-up item did not finish"
stats=$(rtsp_fault $cam stats)
echo "camera connections while failing: $stats"
replays=$(echo "$stats" | /usr/bin/python3 -c 'import json,sys; print(json.load(sys.stdin)["result"]["replay"])')
# Both kinds of failure were met on the way.
wait_line main "^LOG level=1 vantrel::CEdgeStorageTask::GetStorageIntervals: Session id for play interval .* is 0, device 127\.0\.0\.87:80$" 1 "${first:-0}" >/dev/null &&
  pass "session id 0 was met" || fail "no 'session id is 0' line"

sleep 2
host_cmd main quit
host_wait main 60 || fail "host exit code $?"
show_log main | grep -v -E '^\[main\] (LIVE_FRAME|REPLAYED|STATS) '
runs=$(host_log main | sed -n -E 's/.* was given up after ([0-9]+) failed replays$/\1/p' | head -1)
echo "FIGURES failed_runs=${runs:-?} replay_connections=$replays"
[ -n "$runs" ] && [ "$replays" -le "$runs" ] && pass "$replays replay connections for $runs failed runs" ||
  fail "$replays replay connections for ${runs:-?} failed runs"
# The warning names the item's interval.
read -r b e <<<"$(host_log main | sed -n -E "s/^LOG level=3 $item started\.$/\1|\2/p" | head -1 | tr ' ' '_' | tr '|' ' ')"
named=$(host_log main | grep -c -F "Recorded interval (start: ${b//_/ }, end: ${e//_/ }), device 127.0.0.87:80 (channel 0) was given up")
[ "$named" -eq 1 ] && pass "the warning names the item's begin and end" || fail "the warning does not name $b .. $e"
finish
