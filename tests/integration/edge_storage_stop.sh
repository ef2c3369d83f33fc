#!/usr/bin/env bash
# The host stops the channel while a gap is being replayed: StopChannel returns within its
# bound, the work item is parked for the channel's return (logged) and finishes, no replayed
# frame reaches the host after the stop, and Close still ends promptly.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.82
bound_ms=21000  # the channel's stop bound: 2 x 10000 ms plus scheduling slack under Wine
trap 'rtsp_fault $cam link_up >/dev/null; it_cleanup' EXIT
camsim_reset $cam
# The camera replays at real speed (its configuration), so the stop surely meets the replay.
# shellcheck disable=SC2046
host_start main $(host_device $cam) live --format h264 --size 320x240 --seconds 150 --edge-storage
wait_line main "^STATE channel=0 state=0$" 30 >/dev/null || fail "no first frame"
sleep 2
echo "fault: $(rtsp_fault $cam link_down seconds=16)"
down=$(line_count main)
back=$(wait_line main "^STATE channel=0 state=0$" 60 "$((down + 1))") || fail "no reconnection"
wait_line main "^REPLAYED channel=0 " 40 "${back:-0}" >/dev/null && pass "replay under way" || fail "no replayed frame"
host_cmd main "stop 0"
stopped=$(wait_line main "^STOP channel=0 stream=all " 30 "${back:-0}") || fail "no STOP line"
ms=$(field main "^STOP channel=0 stream=all" ms)
[ -n "$ms" ] && [ "$ms" -le "$bound_ms" ] && pass "StopChannel returned after $ms ms during a replay" ||
  fail "StopChannel took ${ms:-forever} ms (bound $bound_ms)"
wait_line main "^LOG level=3 vantrel::CBaseEdgeStorageHandler::ProcessEdgeStorageTaskItem: Unable to process interval \(start: .*, end .*\), device 127\.0\.0\.82:80 \(channel 0\) - channel was stopped\. Task will be processed later$" 15 "${back:-0}" >/dev/null &&
  pass "the item was parked for the channel's return" || fail "the item was not parked"
wait_line main "^LOG level=3 vantrel::CBaseEdgeStorageHandler: Work Item .* - Processing finished\.$" 15 "${back:-0}" >/dev/null &&
  pass "the work item finished" || fail "the work item did not finish"
sleep 2
late=$(host_log main | awk -v after="${stopped:-0}" 'NR > after && /^REPLAYED /' | wc -l)
[ "$late" -eq 0 ] && pass "no replayed frame after the stop" || fail "$late replayed frames after the stop"
host_cmd main quit
host_wait main 30 || fail "host exit code $? (Close after a replay)"
show_log main | grep -v -E '^\[main\] (LIVE_FRAME|REPLAYED|STATS) '
finish
