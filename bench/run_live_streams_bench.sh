#!/usr/bin/env bash
# How many 1080p25 H.264 streams at 4 Mbit/s one host process carries through
# LumivarIPCapture.dll under Wine without losing frames, and the CPU each costs.
#
# The camera simulator's encoders would cost more CPU than the driver, so the clip is encoded
# once (cached) and four simulated cameras (127.0.0.200-203, a simulator of our own on control
# port 18190) play it to every session; each camera's media is shared by its sessions. The host's
# "multi" mode opens one driver per stream, counts each stream's frames over a window against
# 25 per second and reads its own CPU time (GetProcessTimes).
#   bench/run_live_streams_bench.sh [COUNTS...]   default: 1 8 16 24 32 40 48 56 64
#   BUILD_DIR  the Windows build (default build/win; built when missing)
#   SECONDS_MEASURE  measurement window per count (default 15)
#   TRANSPORT  udp (default) or interleaved (RTP in the RTSP connection, configuration RTPMode)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build/win}
out=$build/bench-live-streams
seconds=${SECONDS_MEASURE:-15}
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(1 8 16 24 32 40 48 56 64)
mkdir -p "$out"
# shellcheck source=bench/live_bench_lib.sh
source "$root/bench/live_bench_lib.sh"

bench_build_host
bench_clip
# The host runs from a directory of its own: the driver reads its configuration file there.
hostdir=$out/host
transport=${TRANSPORT:-udp}
bench_host_dir "$hostdir" "$transport"
: >"$out/camsim.log"
bench_start_camsim "$clip"
trap bench_stop_camsim EXIT
bench_wine

# UDP datagrams the kernel dropped for full receive buffers (whole machine), and the simulator's
# CPU time in clock ticks: they tell loss in the network path and a simulator at its limit from
# loss in the driver.
udp_drops() { awk '/^Udp:/ { if (!h) { for (i = 2; i <= NF; i++) c[$i] = i; h = 1 } else print $c["RcvbufErrors"] }' /proc/net/snmp; }
sim_ticks() { awk '{ print $14 + $15 }' "/proc/$camsim_pid/stat" 2>/dev/null || echo 0; }
# Wine does socket work in its server process; its CPU time (every Wine server on the machine,
# the others idle) shows when the server, not the driver, is the limit.
wineserver_ticks() {
  local t=0 p
  for p in $(pgrep -x wineserver64) $(pgrep -x wineserver); do
    t=$((t + $(awk '{ print $14 + $15 }' "/proc/$p/stat" 2>/dev/null || echo 0)))
  done
  echo "$t"
}
percent() {  # TICKS NANOSECONDS
  awk -v t="$1" -v hz="$hz" -v ns="$2" 'BEGIN { printf "%.1f", (ns > 0 ? 100 * t / hz / (ns / 1e9) : 0) }'
}
hz=$(getconf CLK_TCK)

echo "== $(nproc) cores; ${seconds} s window per count; streams of 1920x1080 at 25 fps, 4 Mbit/s over $transport"
printf "%8s %9s %6s %6s %6s %12s %8s %13s %10s %9s %10s\n" streams expected min max short kbit/stream cpu_% cpu_%/stream \
  udp_drops sim_cpu_% wineserver%
best=0
per_stream_1=""
for n in "${counts[@]}"; do
  log=$out/multi_$n.log
  drops0=$(udp_drops) sim0=$(sim_ticks) ws0=$(wineserver_ticks) t0=$(date +%s%N)
  (cd "$hostdir" && wine ./lumivar_host.exe -a 127.0.0.200 -P 80 -m Camsim -c 1 -v 3 -p 1=1 -p 2=7.80 \
    -p 3=00-1b-2c-03-04-05 -p 4=0 -p 5=1 -p 6=25 \
    multi --drivers "$n" --cameras 127.0.0.200,127.0.0.201,127.0.0.202,127.0.0.203 --size 1920x1080 --fps 25 \
    --quality 60 --seconds "$seconds" --warmup 60 </dev/null 2>&1) | tr -d '\r' >"$log"
  drops=$(($(udp_drops) - drops0))
  elapsed=$(($(date +%s%N) - t0))
  sim_cpu=$(percent "$(($(sim_ticks) - sim0))" "$elapsed")
  ws_cpu=$(percent "$(($(wineserver_ticks) - ws0))" "$elapsed")
  result=$(grep '^MULTI result' "$log" | tail -1)
  if [ -z "$result" ]; then
    echo "$n streams: no result (see $log)"
    break
  fi
  get() { sed -n "s/.* $1=\([^ ]*\).*/\1/p" <<<"$result"; }
  printf "%8s %9s %6s %6s %6s %12s %8s %13s %10s %9s %10s\n" "$n" "$(get expected_per_stream)" "$(get min)" "$(get max)" \
    "$(get short_streams)" "$(get kbps_per_stream)" "$(get cpu_percent)" "$(get cpu_percent_per_stream)" "$drops" "$sim_cpu" \
    "$ws_cpu"
  [ "$n" = 1 ] && per_stream_1=$(get cpu_percent_per_stream)
  if [ "$(get short_streams)" = 0 ] && [ "$(get bad)" = 0 ] && grep -q "^MULTI receiving=$n/$n" "$log"; then
    best=$n
  else
    echo "   $n streams lose frames or do not all start (log: $log)"
    break
  fi
done
echo "LIVE_STREAMS_CPU_PERCENT_PER_STREAM_SINGLE ${per_stream_1:-n/a}  (one stream, % of one core)"
echo "LIVE_STREAMS_MAX_WITHOUT_LOSS $best  (largest count tried that lost no frame; target >= 32)"
