#!/usr/bin/env bash
# Endurance of starting and stopping a live stream: the test host's "cycles" mode starts stream 0
# of a 1080p25 camera, waits for its first frame, stops it, CYCLES times, and reads the process's
# threads, handles and private bytes every 25 cycles (after 3 warm-up cycles). Printed: first,
# last and largest of each, and the host's own verdict (threads and handles back to the baseline,
# private bytes not growing from the middle to the end).
#   bench/run_cycles_soak.sh [CYCLES]     default 1000 (CI runs a short version: integration_cycles)
#   TRANSPORT  tcp (default: RTP interleaved in the RTSP connection, about 1 s a cycle) or udp
#              (each start also waits 1.5 s for a quiet port pair)
#   BUILD_DIR  the Windows build (default build/win)
# Uses the capacity benchmark's simulated cameras (127.0.0.200, control port 18190); run it in a
# network namespace of its own when others use the loopback addresses:
#   ip netns exec NAME bench/run_cycles_soak.sh 1000
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build/win}
out=$build/bench-cycles-soak
cycles=${1:-1000}
transport=${TRANSPORT:-tcp}
mkdir -p "$out"
# shellcheck source=bench/live_bench_lib.sh
source "$root/bench/live_bench_lib.sh"

bench_build_host
bench_clip
hostdir=$out/host
bench_host_dir "$hostdir" "$transport"
: >"$out/camsim.log"
bench_start_camsim "$clip"
trap 'stop_host_sampler; bench_stop_camsim' EXIT
bench_wine

log=$out/cycles_${transport}_$cycles.log
echo "== $cycles start/stop cycles of a 1080p25 stream over $transport; load $(cut -d' ' -f1-3 /proc/loadavg)"
start=$(date +%s)
start_host_sampler "$hostdir" "$out/host_samples.txt"
(cd "$hostdir" && wine ./lumivar_host.exe -a 127.0.0.200 -P 80 -m Camsim -c 1 -v 2 -p 1=1 -p 2=7.80 \
  -p 3=00-1b-2c-03-04-05 -p 4=0 -p 5=1 -p 6=25 cycles --format h264 --size 1920x1080 --fps 25 \
  --cycles "$cycles" --cycle-wait 5000 </dev/null 2>&1) | tr -d '\r' >"$log"
stop_host_sampler
echo "   took $(($(date +%s) - start)) s; log: $log"
# "CYCLES baseline|progress|middle|end done=N handles=H threads=T private_kb=P"
awk '/^CYCLES (baseline|progress|middle|end) / {
  for (i = 3; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
  n++
  for (k in v) if (k != "done") {
    if (n == 1) first[k] = v[k]
    last[k] = v[k]
    if (!(k in max) || v[k] + 0 > max[k] + 0) max[k] = v[k]
  }
}
END {
  if (!n) { print "   no figures (see the log)"; exit }
  printf "   %-11s %10s %10s %10s   (%d samples, every 25 cycles)\n", "", "first", "last", "max", n
  split("threads handles private_kb", keys, " ")
  for (j = 1; j <= 3; j++) printf "   %-11s %10s %10s %10s\n", keys[j], first[keys[j]], last[keys[j]], max[keys[j]]
}' "$log"
summarise_host_samples "$out/host_samples.txt"
grep -E '^CYCLES (result|OK|FAILED)' "$log" | sed 's/^/   /'
grep -q '^CYCLES OK' "$log"
