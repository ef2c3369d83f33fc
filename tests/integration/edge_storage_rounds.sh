#!/usr/bin/env bash
# Outage and replay rounds: each round drops the camera's link long enough for the driver to
# see a gap, waits for the reconnection and for the work item to finish, then samples the host
# process (threads, open file descriptors - Wine's handles to sockets and files - and anonymous
# memory, from the Linux process that runs it). After the first round (warm-up) the figures must
# stay flat. ROUNDS (default 2) rounds; bench/run_edge_storage_soak.sh runs 100. The camera ends
# the replay of each recording half a second before the end its list gives, as real ones do: such
# a recording counts as played, with no error and no hole in the replay.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.83
rounds=${ROUNDS:-2}
down_s=${EDGE_GAP:-12}
trap 'rtsp_fault $cam link_up >/dev/null; rtsp_fault $cam replay_normal >/dev/null; it_cleanup' EXIT
camsim_reset $cam
rtsp_fault $cam end_short "seconds=${EDGE_END_SHORT:-0.5}" >/dev/null
# shellcheck disable=SC2046
host_start main $(host_device $cam) live --format h264 --size 320x240 --seconds $((rounds * 90 + 60)) --edge-storage
wait_line main "^STATE channel=0 state=0$" 30 >/dev/null || fail "no first frame"

# The Linux process of the Windows host: of the processes naming this test's copy of the host
# (the launching shell among them), the one with the most threads.
host_linux_pid() {
  local p best="" most=0 n
  for p in $(pgrep -f "$IT_DIR/lumivar_host.exe"); do
    n=$(awk '/^Threads:/ {print $2}' /proc/"$p"/status 2>/dev/null)
    [ -n "$n" ] && [ "$n" -gt "$most" ] && { most=$n; best=$p; }
  done
  echo "$best"
}
sample() {
  local pid=$1
  printf "threads=%s fds=%s anon_kb=%s" "$(awk '/^Threads:/ {print $2}' /proc/"$pid"/status)" \
    "$(ls /proc/"$pid"/fd 2>/dev/null | wc -l)" "$(awk '/^RssAnon:/ {print $2}' /proc/"$pid"/status)"
}
first=""
last=""
max_t=0 max_f=0 max_a=0
replayed_before=0
completed=0
for round in $(seq 1 "$rounds"); do
  sleep 2
  rtsp_fault $cam link_down "seconds=$down_s" >/dev/null
  down=$(line_count main)
  wait_line main "^STATE channel=0 state=0$" $((down_s + 60)) "$((down + 1))" >/dev/null || { fail "round $round: no reconnection"; break; }
  wait_line main "^LOG level=3 vantrel::CBaseEdgeStorageHandler: Work Item .* - Processing finished\.$" 120 "$down" >/dev/null ||
    { fail "round $round: the work item did not finish"; break; }
  sleep 1
  pid=$(host_linux_pid)
  figures=$(sample "$pid")
  replayed=$(host_log main | grep -c '^REPLAYED ')
  echo "ROUND $round $figures replayed=$((replayed - replayed_before))"
  [ "$replayed" -gt "$replayed_before" ] || fail "round $round replayed nothing"
  replayed_before=$replayed
  [ "$round" -eq 1 ] && first=$figures
  last=$figures
  read -r t f a <<<"$(echo "$figures" | sed -E 's/threads=([0-9]+) fds=([0-9]+) anon_kb=([0-9]+)/\1 \2 \3/')"
  [ "${t:-0}" -gt "$max_t" ] && max_t=$t
  [ "${f:-0}" -gt "$max_f" ] && max_f=$f
  [ "${a:-0}" -gt "$max_a" ] && max_a=$a
  completed=$round
done
[ "$completed" -eq "$rounds" ] || fail "only $completed of $rounds rounds completed"
host_cmd main quit
host_wait main 60 || fail "host exit code $?"
host_log main | grep -E '^(LOG level=1|REPLAY |LIVE )' | sed 's/^/[main] /'
value() { echo "$1" | tr ' ' '\n' | sed -n "s/^$2=//p"; }
if [ -n "$first" ] && [ "$completed" -gt 1 ]; then
  t1=$(value "$first" threads) t2=$(value "$last" threads)
  f1=$(value "$first" fds) f2=$(value "$last" fds)
  a1=$(value "$first" anon_kb) a2=$(value "$last" anon_kb)
  echo "FIGURES rounds=$completed threads=$t1->$t2 (max $max_t) fds=$f1->$f2 (max $max_f)" \
    "anon_kb=$a1->$a2 (max $max_a)"
  [ $((t2 - t1)) -le 1 ] && pass "threads flat ($t1 -> $t2)" || fail "threads grew ($t1 -> $t2)"
  [ $((f2 - f1)) -le 2 ] && pass "descriptors flat ($f1 -> $f2)" || fail "descriptors grew ($f1 -> $f2)"
  [ $((a2 - a1)) -le 4096 ] && pass "memory flat ($a1 -> $a2 kB)" || fail "memory grew ($a1 -> $a2 kB)"
fi
# Every round's replay lies inside its gap, repeats nothing and starts on a key frame.
# No hole longer than 2 s: the recording still being written when the list is read ends at its
# last whole second (up to 1 s before the gap's end), and the camera ends each one 0.5 s early.
/usr/bin/python3 "$(dirname "$0")/edge_check.py" "$IT_DIR/main.raw" filled 10 2.0 || IT_FAILED=1
reject_line main "processing ERROR" "no replay error"
reject_line main "Play interval ERROR" "no recording that the camera ended early counts as failed"
ended=$(host_log main | grep -c "Play interval ended by the camera at")
[ "$ended" -ge 1 ] && pass "$ended recordings the camera ended early counted as played" ||
  fail "no recording ended by the camera"
finish
