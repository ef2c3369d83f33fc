#!/usr/bin/env bash
# Many short outages while the replay is held up: the camera leaves its storage query
# unanswered (past the device time-out), so the first gap's work item stays in
# progress (retried after growing pauses; runs that get no answer are never given up) while each
# further outage queues one more gap. The queue keeps the newest ten (ten per channel, one
# channel here); older gaps are pushed out, each with one warning line. Once the camera answers
# again, the held item and exactly the ten kept ones are replayed, and none of those is older
# than a dropped one. Each outage must outlast the driver's 10 s signal time-out, so this test
# takes a few minutes: twelve outages are the fewest that overfill the queue.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.85
outages=${EDGE_OUTAGES:-12}
down_s=12
limit=10
trap 'rtsp_fault $cam link_up >/dev/null; camsim_post /camera/$cam/clear_faults >/dev/null; it_cleanup' EXIT
camsim_reset $cam
# shellcheck disable=SC2046
host_start main $(host_device $cam) live --format h264 --size 320x240 --seconds 600 --edge-storage
wait_line main "^STATE channel=0 state=0$" 30 >/dev/null || fail "no first frame"
sleep 2
# Answered only after the device time-out (15 s): a closed connection would not do, the driver's
# HTTPS retry of it gets the camera's "400" and so an answer. The storage query is the first
# request of every run, so no run gets as far as its replay connection: an outage that closed
# that connection before its first frame would end the run as a failure the camera answered
# (counted towards giving the gap up), and whether a run is there when the next outage begins
# only depends on how fast a loaded machine gets it there.
echo "fault: $(camsim_post /camera/$cam/fault "kind=delay&match=0x09D4&count=0&ms=15000")"
for i in $(seq 1 "$outages"); do
  rtsp_fault $cam link_down "seconds=$down_s" >/dev/null
  down=$(line_count main)
  wait_line main "^STATE channel=0 state=0$" $((down_s + 60)) "$((down + 1))" >/dev/null ||
    { fail "outage $i: no reconnection"; break; }
  # Live frames again, so the monitor has the reconnection before the next outage.
  sleep 1
  echo "outage $i done"
done
echo "fault cleared: $(camsim_post /camera/$cam/clear_faults)"
cleared=$(line_count main)
item='vantrel::CBaseEdgeStorageHandler: Work Item \(address="127\.0\.0\.85:80" channel="0" begin_time="([0-9/]+ [0-9:.]+)" end_time="([0-9/]+ [0-9:.]+)"\) - '
starts() { host_log main | awk -v a="$1" -v b="$2" -v re="^LOG level=3 $item""Processing started\\.$" 'NR > a && NR <= b && $0 ~ re' | wc -l; }
held=$(starts 0 "$cleared")
dropped=$(host_log main | grep -c -E "^LOG level=2 $item""Dropped, the work queue is full \($limit items\)$")
echo "items started before the camera answered again: $held, dropped: $dropped"
# The kept items: the one in progress finishes, then the ten queued ones run.
for _ in $(seq 1 120); do
  kept=$(starts "$cleared" 999999999)
  finished=$(host_log main | grep -c -E "^LOG level=3 $item""Processing finished\.$")
  [ "$kept" -ge "$limit" ] && [ "$finished" -ge $((held + kept)) ] && break
  sleep 1
done
sleep 3
host_cmd main quit
host_wait main 60 || fail "host exit code $?"
show_log main | grep -v -E '^\[main\] (LIVE_FRAME|REPLAYED|STATS) '
kept=$(starts "$cleared" 999999999)
finished=$(host_log main | grep -c -E "^LOG level=3 $item""Processing finished\.$")
echo "FIGURES outages=$outages held=$held dropped=$dropped kept=$kept finished=$finished"
# Unanswered runs must not end the held item, or an outage would free the queue again and
# nothing would be dropped.
[ "$held" -eq 1 ] && pass "the held item stayed in progress through every outage" ||
  fail "$held items started before the camera answered again (the held one was given up or finished)"
[ "$dropped" -ge 1 ] && pass "$dropped gaps beyond the queue's limit were dropped and logged" ||
  fail "no gap was dropped: the outages did not overfill the queue ($held items started during them)"
[ "$kept" -eq "$limit" ] && pass "exactly the limit of $limit queued items ran after the hold" ||
  fail "$kept queued items ran after the hold (limit $limit)"
[ "$finished" -eq $((held + kept)) ] && pass "every item that ran finished" ||
  fail "$finished of $((held + kept)) items finished"
after=$(host_log main | awk -v a="$cleared" 'NR > a && /^REPLAYED /' | wc -l)
[ "$after" -gt 0 ] && pass "$after frames replayed for the kept gaps" || fail "nothing replayed for the kept gaps"
# Oldest first: every dropped gap began before every kept one.
newest_dropped=$(host_log main | sed -n -E "s/^LOG level=2 $item""Dropped.*/\1/p" | sort | tail -1)
oldest_kept=$(host_log main | awk -v a="$cleared" 'NR > a' | sed -n -E "s/^LOG level=3 $item""Processing started\.$/\1/p" | sort | head -1)
echo "newest dropped gap began $newest_dropped, oldest kept $oldest_kept"
[ -n "$newest_dropped" ] && [[ "$newest_dropped" < "$oldest_kept" ]] && pass "the oldest gaps gave way" ||
  fail "a kept gap is older than a dropped one"
finish
