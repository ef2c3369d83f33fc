#!/usr/bin/env bash
# The host restarts a channel while its gap is being replayed: at once (StopChannel followed by
# StartChannel) after the first outage, and after a few seconds after the second. Each time the
# replay goes on with the channel: both gaps are filled, the work items finish without giving
# up, and the camera sees a handful of RTSP connections, not a storm of replay sessions.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.86
gap=${EDGE_GAP:-12}
trap 'rtsp_fault $cam link_up >/dev/null; it_cleanup' EXIT
camsim_reset $cam
rtsp_fault $cam stats_reset >/dev/null
# The camera replays at twice real time, so the restarts surely meet the replay.
# shellcheck disable=SC2046
host_start main $(host_device $cam) live --format h264 --size 320x240 --seconds 200 --edge-storage
wait_line main "^STATE channel=0 state=0$" 30 >/dev/null || fail "no first frame"
item='vantrel::CBaseEdgeStorageHandler: Work Item \(address="127\.0\.0\.86:80" channel="0" .*\) - Processing'
for pause in 0 3; do
  sleep 2
  rtsp_fault $cam link_down "seconds=$gap" >/dev/null
  down=$(line_count main)
  wait_line main "^STATE channel=0 state=0$" $((gap + 40)) "$((down + 1))" >/dev/null || fail "no reconnection"
  first=$(wait_line main "^LOG level=3 $item started\.$" 40 "$down") || fail "no work item"
  wait_line main "^REPLAYED channel=0 " 40 "${first:-0}" >/dev/null || fail "no replayed frame"
  sleep 1
  host_cmd main "stop 0"
  [ "$pause" -gt 0 ] && sleep "$pause"
  host_cmd main "start 0"
  started=$(wait_line main "^START channel=0 stream=0 " 30 "${first:-0}") || fail "no START line"
  wait_line main "^STATE channel=0 state=0$" 30 "${started:-0}" >/dev/null || fail "no frame after the restart"
  finished=$(host_log main | awk -v a="${first:-0}" 'NR > a' | grep -c -E "^LOG level=3 $item finished\.$")
  for _ in $(seq 1 60); do
    last=$(host_log main | grep -n -E "^LOG level=3 $item (started|finished)\.$" | tail -1)
    [[ "$last" == *finished.* ]] && break
    sleep 1
  done
  [[ "$last" == *finished.* ]] && pass "restart after ${pause}s: the work finished" ||
    fail "restart after ${pause}s: the work did not finish"
  echo "restart after ${pause}s: $finished finish lines while the channel restarted"
done
sleep 2
stats=$(rtsp_fault $cam stats)
host_cmd main quit
host_wait main 60 || fail "host exit code $?"
show_log main | grep -v -E '^\[main\] (LIVE_FRAME|REPLAYED|STATS) '
echo "camera connections: $stats"
read -r live replay <<<"$(echo "$stats" | /usr/bin/python3 -c 'import json,sys; r=json.load(sys.stdin)["result"]; print(r["live"], r["replay"])')"
echo "FIGURES live_sessions=$live replay_sessions=$replay"
[ "${replay:-999}" -le 8 ] && pass "$replay replay connections for two gaps and two restarts" ||
  fail "${replay:-?} replay connections: a connection storm"
reject_line main "was given up" "no gap given up"
# Both outages' gaps (the restarts' own short pauses are no outages) are filled.
/usr/bin/python3 "$(dirname "$0")/edge_check.py" "$IT_DIR/main.raw" filled 10 1.5 || IT_FAILED=1
finish
