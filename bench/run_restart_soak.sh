#!/usr/bin/env bash
# Long-run endurance: STREAMS 1080p25 4 Mbit/s streams in one host process (the "multi" mode)
# for DURATION seconds while the simulated cameras restart their RTSP servers every
# RESTART_EVERY seconds (listener and clients dropped, listening again a second later). Frames
# may be lost only around the restarts; threads, handles and private bytes must stay flat.
# Prints the frames lost in each restart's neighbourhood and elsewhere, and first/last/max of
# the process figures (read once a minute by the host).
#   bench/run_restart_soak.sh                 one hour, 16 streams, a restart every 10 minutes
#   DURATION=180 RESTART_EVERY=60 bench/run_restart_soak.sh     the short check
#   STREAMS (16), TRANSPORT udp (default) or tcp, BUILD_DIR (build/win)
#   MARGIN  seconds after a restart in which losses count as the restart's (default 30)
# Uses the capacity benchmark's cameras (127.0.0.200-203, control port 18190); run it in a
# network namespace of its own when others use the loopback addresses:
#   ip netns exec NAME bench/run_restart_soak.sh
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build/win}
out=$build/bench-restart-soak
duration=${DURATION:-3600}
every=${RESTART_EVERY:-600}
streams=${STREAMS:-16}
margin=${MARGIN:-30}
transport=${TRANSPORT:-udp}
cameras=(127.0.0.200 127.0.0.201 127.0.0.202 127.0.0.203)
mkdir -p "$out"
# shellcheck source=bench/live_bench_lib.sh
source "$root/bench/live_bench_lib.sh"

bench_build_host
bench_clip
# The simulator plays its clip once (60 s) and ends the stream; a restart starts it again. The
# soak's clip is that one repeated (copied, not encoded again) to outlast a restart interval.
loops=$(((every + 120 + 59) / 60))
long_clip=$out/clip_1080p25_4M_x$loops.mp4
if [ ! -s "$long_clip" ]; then
  ffmpeg -nostdin -loglevel error -stream_loop $((loops - 1)) -i "$clip" -c copy "$long_clip.tmp.mp4" &&
    mv "$long_clip.tmp.mp4" "$long_clip" || { echo "cannot make the ${loops}-minute clip"; exit 1; }
fi
hostdir=$out/host
bench_host_dir "$hostdir" "$transport"
: >"$out/camsim.log"
bench_start_camsim "$long_clip"
restarter_pid=
cleanup() {
  [ -n "$restarter_pid" ] && kill -TERM "$restarter_pid" 2>/dev/null
  stop_host_sampler
  bench_stop_camsim
}
trap cleanup EXIT
bench_wine

log=$out/soak.log
restarts=$out/restarts.log
: >"$restarts"
echo "== $streams streams over $transport for $duration s, cameras restarting every $every s; load $(cut -d' ' -f1-3 /proc/loadavg)"
# The restarts are timed from the host's first counted second ("MULTI t=1"); each is recorded
# with the host's second it happened in (the last "MULTI t=" line then).
: >"$log"
(
  while ! grep -q '^MULTI t=1 ' "$log" 2>/dev/null; do sleep 0.2; done
  t=0
  while :; do
    sleep "$every"
    t=$((t + every))
    [ "$t" -ge "$duration" ] && break
    sed -n 's/^MULTI t=\([0-9]*\) .*/\1/p' "$log" | tail -1 >>"$restarts"
    for c in "${cameras[@]}"; do
      curl -s -m 10 -X POST "http://$control/camera/$c/rtsp_fault?name=restart&delay=1" >/dev/null &
    done
    wait
  done
) &
restarter_pid=$!
start_host_sampler "$hostdir" "$out/host_samples.txt"
(cd "$hostdir" && wine ./lumivar_host.exe -a 127.0.0.200 -P 80 -m Camsim -c 1 -v 2 -p 1=1 -p 2=7.80 \
  -p 3=00-1b-2c-03-04-05 -p 4=0 -p 5=1 -p 6=25 \
  multi --drivers "$streams" --cameras "$(IFS=,; echo "${cameras[*]}")" --size 1920x1080 --fps 25 \
  --quality 60 --seconds "$duration" --warmup 60 </dev/null 2>&1) | stdbuf -oL tr -d '\r' >"$log"
kill -TERM "$restarter_pid" 2>/dev/null
restarter_pid=
stop_host_sampler

# Frames per second from the running totals, against streams x 25; a second short by more than
# one frame per stream (timing of the one-second sampling) counts as a loss.
awk -v streams="$streams" -v margin="$margin" -v restarts="$restarts" '
BEGIN { while ((getline r < restarts) > 0) { rs[++nr] = r } }
/^MULTI t=/ {
  split($2, a, "="); t = a[2] + 0; split($3, b, "="); total = b[2] + 0
  got = total - prev; prev = total
  short = streams * 25 - got
  if (short <= streams) next
  near = 0
  for (i = 1; i <= nr; i++) if (t >= rs[i] && t <= rs[i] + margin) near = i
  if (near) { lostNear[near] += short } else { lostElsewhere += short; badSeconds = badSeconds " " t }
}
/^MULTI process / {
  for (i = 3; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
  n++
  for (k in v) if (k != "t") {
    if (n == 1) first[k] = v[k]
    last[k] = v[k]
    if (!(k in max) || v[k] + 0 > max[k] + 0) max[k] = v[k]
  }
}
END {
  for (i = 1; i <= nr; i++) printf "   restart at t=%ss: %d frames short within %d s after it\n", rs[i], lostNear[i], margin
  printf "   frames short away from the restarts: %d%s\n", lostElsewhere, badSeconds ? " (seconds:" badSeconds ")" : ""
  if (n) {
    printf "   %-11s %10s %10s %10s   (%d samples, one a minute)\n", "", "first", "last", "max", n
    split("threads handles private_kb", keys, " ")
    for (j = 1; j <= 3; j++) printf "   %-11s %10s %10s %10s\n", keys[j], first[keys[j]], last[keys[j]], max[keys[j]]
  } else {
    print "   no process figures (the run was shorter than a minute?)"
  }
  exit lostElsewhere > 0
}' "$log"
verdict=$?
summarise_host_samples "$out/host_samples.txt"
grep '^MULTI result' "$log" | sed 's/^/   /'
echo "   log: $log"
exit $verdict
