#!/usr/bin/env bash
# The host restarts a channel while its gap is being replayed.
# First outage: StopChannel at once followed by StartChannel. The replay goes on with the
# channel and the gap is filled.
# Second outage (a later gap): StopChannel, and StartChannel only after the work item was parked
# (logged) and a few seconds passed. The parked item resumes with the channel, from the last
# frame the host got to the same end; no replayed frame reaches the host while the channel is
# stopped, the resumed run starts on a key frame and the gap is filled across the two runs.
# Throughout: no item is given up, every replayed frame decodes, and the camera sees a handful
# of replay connections, not a storm of them.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.86
gap=${EDGE_GAP:-12}
replay="$IT_DIR/replay.h264"
trap 'rtsp_fault $cam link_up >/dev/null; it_cleanup' EXIT
camsim_reset $cam
rtsp_fault $cam stats_reset >/dev/null
# The camera replays at twice real time, so the restarts surely meet the replay.
# shellcheck disable=SC2046
host_start main $(host_device $cam) live --format h264 --size 320x240 --seconds 200 --edge-storage \
  --replay-file "$replay"
wait_line main "^STATE channel=0 state=0$" 30 >/dev/null || fail "no first frame"
item='vantrel::CBaseEdgeStorageHandler: Work Item \(address="127\.0\.0\.86:80" channel="0" begin_time="([0-9/]+ [0-9:.]+)" end_time="([0-9/]+ [0-9:.]+)"\) - Processing'
# Waits until the newest work item line after line $1 is a finish line.
wait_finished() {
  local last=""
  for _ in $(seq 1 90); do
    last=$(host_log main | awk -v a="$1" 'NR > a' | grep -E "^LOG level=3 $item (started|finished)\.$" | tail -1)
    [[ "$last" == *finished.* ]] && return 0
    sleep 1
  done
  return 1
}
outage() {
  sleep 2
  rtsp_fault $cam link_down "seconds=$gap" >/dev/null
  down=$(line_count main)
  wait_line main "^STATE channel=0 state=0$" $((gap + 40)) "$((down + 1))" >/dev/null || fail "no reconnection"
  first=$(wait_line main "^LOG level=3 $item started\.$" 40 "$down") || fail "no work item"
  wait_line main "^REPLAYED channel=0 " 40 "${first:-0}" >/dev/null || fail "no replayed frame"
  sleep 1
}

outage
host_cmd main "stop 0"
host_cmd main "start 0"
started=$(wait_line main "^START channel=0 stream=0 " 30 "${first:-0}") || fail "no START line"
wait_line main "^STATE channel=0 state=0$" 30 "${started:-0}" >/dev/null || fail "no frame after the restart"
wait_finished "${first:-0}" && pass "immediate restart: the work finished" || fail "immediate restart: the work did not finish"

outage
host_cmd main "stop 0"
stopped=$(wait_line main "^STOP channel=0 stream=all " 30 "${first:-0}") || fail "no STOP line"
wait_line main "^LOG level=3 vantrel::CBaseEdgeStorageHandler::ProcessEdgeStorageTaskItem: Unable to process interval \(start: .*, end .*\), device 127\.0\.0\.86:80 \(channel 0\) - channel was stopped\. Task will be processed later$" 20 "${first:-0}" >/dev/null &&
  pass "the item was parked when the channel stopped" || fail "the item was not parked"
wait_line main "^LOG level=3 $item finished\.$" 20 "${first:-0}" >/dev/null || fail "the parked run did not finish"
sleep 3
host_cmd main "start 0"
wait_line main "^START channel=0 stream=0 " 30 "${stopped:-0}" >/dev/null || fail "no START line"
# The channel registers inside StartChannel, so the resumed item may start before START is printed.
second=$(wait_line main "^LOG level=3 $item started\.$" 40 "${stopped:-0}") &&
  pass "the parked item resumed with the channel" || fail "the parked item did not resume"
wait_finished "${second:-0}" && pass "restart after 3 s: the resumed item finished" ||
  fail "restart after 3 s: the resumed item did not finish"
sleep 2
stats=$(rtsp_fault $cam stats)
host_cmd main quit
host_wait main 60 || fail "host exit code $?"
show_log main | grep -v -E '^\[main\] (LIVE_FRAME|REPLAYED|STATS) '

read -r live replays <<<"$(echo "$stats" | /usr/bin/python3 -c 'import json,sys; r=json.load(sys.stdin)["result"]; print(r["live"], r["replay"])')"
echo "FIGURES live_sessions=$live replay_sessions=$replays"
[ "${replays:-999}" -le 8 ] && pass "$replays replay connections for two gaps and two restarts" ||
  fail "${replays:-?} replay connections: a connection storm"
reject_line main "was given up" "no gap given up"
# The parked run and the resumed one: same end, the resumed one begins after the first's begin.
read -r b1 e1 b2 e2 <<<"$(host_log main | awk -v a="${stopped:-0}" 'NR <= a' | sed -n -E "s/^LOG level=3 $item started\.$/\1|\2/p" |
  tail -1 | tr ' ' '_' | tr '|' ' ') $(host_log main | awk -v a="${stopped:-0}" 'NR > a' |
  sed -n -E "s/^LOG level=3 $item started\.$/\1|\2/p" | head -1 | tr ' ' '_' | tr '|' ' ')"
echo "parked run: $b1 .. $e1; resumed run: $b2 .. $e2"
[ -n "${e2:-}" ] && [ "$e1" = "$e2" ] && pass "the resumed run ends where the parked one did" ||
  fail "the resumed run's end differs"
[ -n "${b2:-}" ] && [[ "$b2" > "$b1" ]] && pass "the resumed run begins after what was replayed" ||
  fail "the resumed run does not begin after the parked one's begin"
late=$(host_log main | awk -v a="${stopped:-0}" -v b="${second:-0}" 'NR > a && NR < b && /^REPLAYED /' | wc -l)
[ "$late" -eq 0 ] && pass "no replayed frame while the channel was stopped" || fail "$late replayed frames while stopped"
key=$(host_log main | awk -v a="${second:-0}" 'NR > a && /^REPLAYED / { print; exit }' | sed -n -E 's/.* key=([01]).*/\1/p')
[ "$key" = 1 ] && pass "the resumed run starts with a key frame" || fail "the resumed run starts with key=${key:-none}"
replayed=$(field main "^REPLAY frames=" frames)
read -r codec w h decoded errors <<<"$(probe "$replay" h264)"
echo "replay $replay: codec=$codec ${w}x$h decoded=$decoded errors=$errors replayed=$replayed"
[ "$codec" = h264 ] && [ "${decoded:-0}" = "$replayed" ] && [ "$errors" = 0 ] &&
  pass "every replayed frame decodes ($decoded)" || fail "replayed frames do not all decode"
# Both outages' gaps (the restarts' own short pauses are no outages) are filled.
/usr/bin/python3 "$(dirname "$0")/edge_check.py" "$IT_DIR/main.raw" filled 10 1.5 || IT_FAILED=1
finish
