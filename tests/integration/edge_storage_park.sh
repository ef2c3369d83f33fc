#!/usr/bin/env bash
# The host stops a channel while its gap is being replayed and later starts it again: the work
# item is parked when the channel goes and resumes with its return, from the last frame the host
# got to the same end. Across the two runs the replayed frames still fill the gap once: they
# decode, lie strictly inside it, repeat no live or replayed frame, each run starts on a key
# frame and no more than a second of the gap (one key-frame interval) goes missing at the seam.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.84
gap=${EDGE_GAP:-20}
replay="$IT_DIR/replay.h264"
trap 'rtsp_fault $cam link_up >/dev/null; it_cleanup' EXIT
camsim_reset $cam
# The camera replays at twice real time, so the stop surely meets the replay.
# shellcheck disable=SC2046
host_start main $(host_device $cam) live --format h264 --size 320x240 --seconds 200 \
  --edge-storage --replay-file "$replay"
wait_line main "^STATE channel=0 state=0$" 30 >/dev/null || fail "no first frame"
sleep 3
echo "fault: $(rtsp_fault $cam link_down "seconds=$gap")"
down=$(line_count main)
back=$(wait_line main "^STATE channel=0 state=0$" $((gap + 40)) "$((down + 1))") || fail "no reconnection"
item='vantrel::CBaseEdgeStorageHandler: Work Item \(address="127\.0\.0\.84:80" channel="0" begin_time="([0-9/]+ [0-9:.]+)" end_time="([0-9/]+ [0-9:.]+)"\) - Processing'
first=$(wait_line main "^LOG level=3 $item started\.$" 40 "$down") || fail "no work item start line"
wait_line main "^REPLAYED channel=0 " 40 "${first:-0}" >/dev/null || fail "no replayed frame"
sleep 2
host_cmd main "stop 0"
stopped=$(wait_line main "^STOP channel=0 stream=all " 30 "${first:-0}") || fail "no STOP line"
wait_line main "^LOG level=3 vantrel::CBaseEdgeStorageHandler::ProcessEdgeStorageTaskItem: Unable to process interval \(start: .*, end .*\), device 127\.0\.0\.84:80 \(channel 0\) - channel was stopped\. Task will be processed later$" 20 "${first:-0}" >/dev/null &&
  pass "the item was parked when the channel stopped" || fail "the item was not parked"
wait_line main "^LOG level=3 $item finished\.$" 20 "${first:-0}" >/dev/null || fail "the parked run did not finish"
sleep 2
host_cmd main "start 0"
wait_line main "^START channel=0 stream=0 " 30 "${stopped:-0}" >/dev/null || fail "no START line"
# The channel registers inside StartChannel, so the resumed item may start before START is printed.
second=$(wait_line main "^LOG level=3 $item started\.$" 40 "${stopped:-0}") &&
  pass "the parked item resumed with the channel" || fail "the parked item did not resume"
wait_line main "^LOG level=3 $item finished\.$" 90 "${second:-0}" >/dev/null &&
  pass "the resumed item finished" || fail "the resumed item did not finish"
sleep 2
host_cmd main quit
host_wait main 60 || fail "host exit code $?"
show_log main | grep -v -E '^\[main\] (LIVE_FRAME|REPLAYED|STATS) '

# begin and end of the first and the resumed run
read -r b1 e1 b2 e2 <<<"$(host_log main | sed -n -E "s/^LOG level=3 $item started\.$/\1|\2/p" | head -2 |
  tr ' ' '_' | tr '|\n' '  ')"
echo "first run: $b1 .. $e1; resumed run: $b2 .. $e2"
[ -n "${e2:-}" ] && [ "$e1" = "$e2" ] && pass "the resumed run ends where the parked one did" ||
  fail "the resumed run's end differs"
[ -n "${b2:-}" ] && [[ "$b2" > "$b1" ]] && pass "the resumed run begins after what was replayed" ||
  fail "the resumed run does not begin after the first one's begin"
late=$(host_log main | awk -v a="${stopped:-0}" -v b="${second:-0}" 'NR > a && NR < b && /^REPLAYED /' | wc -l)
[ "$late" -eq 0 ] && pass "no replayed frame while the channel was stopped" || fail "$late replayed frames while stopped"
key=$(host_log main | awk -v a="${second:-0}" 'NR > a && /^REPLAYED / { print; exit }' | sed -n -E 's/.* key=([01]).*/\1/p')
[ "$key" = 1 ] && pass "the resumed run starts with a key frame" || fail "the resumed run starts with key=${key:-none}"
/usr/bin/python3 "$(dirname "$0")/edge_check.py" "$IT_DIR/main.raw" $((gap / 2)) 1.5 || IT_FAILED=1
replayed=$(field main "^REPLAY frames=" frames)
read -r codec w h decoded errors <<<"$(probe "$replay" h264)"
echo "replay $replay: codec=$codec ${w}x$h decoded=$decoded errors=$errors replayed=$replayed"
[ "$codec" = h264 ] && [ "${decoded:-0}" = "$replayed" ] && [ "$errors" = 0 ] &&
  pass "every replayed frame decodes ($decoded)" || fail "replayed frames do not all decode"
# The parked run ends with an error line by design (its replay was cut short); the resumed one may not.
errors=$(host_log main | awk -v a="${second:-0}" 'NR > a && /^LOG level=1 .*ERROR/' | wc -l)
[ "$errors" -eq 0 ] && pass "no replay error after the resume" || fail "$errors replay errors after the resume"
finish
