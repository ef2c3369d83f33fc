#!/usr/bin/env bash
# The driver's live receive path side by side with native receivers, in one run on the same
# simulated cameras: for each transport and stream count, the test host's "multi" mode (one
# driver per stream, under Wine), then GStreamer (one process, a rtspsrc ! rtph264depay !
# fakesink branch per stream), then FFmpeg (one "-c copy -f null" process per stream). Each
# receives 1080p25 H.264 at 4 Mbit/s from four cameras (127.0.0.200-203, control port 18190,
# the clip of run_live_streams_bench.sh) and is measured over the same window length.
#   bench/run_live_peers_bench.sh [COUNTS...]     default: 1 16 32 64
#   TRANSPORTS  default "udp tcp" (tcp = RTP interleaved in the RTSP connection)
#   PEERS       default "gst ffmpeg" (empty: the driver alone)
#   SECONDS_MEASURE  window per measurement (default 15); BUILD_DIR as for the other benchmarks
#   CAMERAS     simulated cameras from 127.0.0.200 (default 4); CAMSIM_PER_CAMERA=1 runs each in a
#               simulator process of its own (control ports 18190...), needed for 64 interleaved
#               sessions: one process serving them all stalls every session once its sends queue
#   BIN_DIR     where lumivar_host.exe and LumivarIPCapture.dll come from (default BUILD_DIR), to
#               measure another build of the driver with this build's Wine prefix
# Run it inside a network namespace of its own when others use the loopback addresses:
#   ip netns exec NAME bench/run_live_peers_bench.sh
# Figures are CPU % of one core per stream: the driver's host process (GetProcessTimes), the same
# plus this Wine prefix's server over the window (Wine does socket and wait calls there; on
# Windows that work is the kernel's and is counted in the process), and the peers' processes.
# Frames are summed over all streams against streams x 25 x window (FFmpeg's: its output time x
# 25, see run_ffmpeg). Latency is the driver's
# frame hand-over: from reading the datagram (UDP) or the socket data (TCP) that completes a
# frame to the host's frame callback. Per receiver it also prints the kernel's receive-buffer
# drops, Linux system calls per datagram (perf's syscall tracepoint; the driver's host process and
# its Wine server apart), and memory per stream; for the driver also its own Winsock calls per
# datagram (LumivarDebugUdpCalls). A window of a minute or more adds the driver's memory per
# stream after each minute: a footprint that grows with time shows there. The clip is 60 s long
# and the camera ends its session at the clip's end, so a long window also holds a reconnection of
# every stream each minute or so.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build/win}
bin=${BIN_DIR:-$build}
out=$build/bench-live-peers
seconds=${SECONDS_MEASURE:-15}
warmup=60
transports=${TRANSPORTS:-udp tcp}
peers=${PEERS-gst ffmpeg}
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(1 16 32 64)
url_of() { echo "rtsp://${cameras[$(($1 % ${#cameras[@]}))]}/?h26x=4&line=1"; }
mkdir -p "$out"
hz=$(getconf CLK_TCK)
# shellcheck source=bench/live_bench_lib.sh
source "$root/bench/live_bench_lib.sh"
bench_cameras "${CAMERAS:-4}"

bench_build_host
# A copy taken now: a rebuild while the benchmark runs must not change the rows that follow.
mkdir -p "$out/bin"
cp "$bin/lumivar_host.exe" "$bin/LumivarIPCapture.dll" "$out/bin/"
bench_clip

# A fresh simulator for every row: sessions a loaded row left behind (the server keeps a session
# until its time-out) made the next row's cameras stall, which no receiver could then tell apart.
: >"$out/camsim.log"
bench_start_camsim "$clip"
peer_pids=()
cleanup() {
  [ ${#peer_pids[@]} -gt 0 ] && kill -TERM "${peer_pids[@]}" 2>/dev/null
  bench_stop_camsim
}
trap cleanup EXIT
bench_wine

# This prefix's Wine server: it runs in a directory named after the prefix's device and inode.
printf -v server_dir "server-%x-%x" "$(stat -c %d "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")"
wineserver_pid=
for p in $(pgrep -x wineserver64) $(pgrep -x wineserver); do
  [[ $(readlink "/proc/$p/cwd") == */$server_dir ]] && wineserver_pid=$p
done
[ -n "$wineserver_pid" ] || { echo "cannot find this prefix's Wine server ($server_dir)"; exit 1; }
ticks_of() {  # PID...: user + system clock ticks, summed
  local t=0 p v
  for p in "$@"; do
    v=$(awk '{ print $14 + $15 }' "/proc/$p/stat" 2>/dev/null) && t=$((t + v))
  done
  echo "$t"
}
udp_drops() { awk '/^Udp:/ { if (!h) { for (i = 2; i <= NF; i++) c[$i] = i; h = 1 } else print $c["RcvbufErrors"] }' /proc/net/snmp; }
# Drops the kernel counted on the sockets still open whose local port is in [FROM, TO) (the
# driver's RTP/RTCP range), from /proc/net/udp's last column, summed.
socket_drops() {  # FROM TO
  awk -v from="$1" -v to="$2" 'function hex(s,  i, n) {
      for (i = 1; i <= length(s); i++) n = n * 16 + index("0123456789ABCDEF", substr(s, i, 1)) - 1
      return n
    }
    NR > 1 { split($2, a, ":"); p = hex(a[2]); if (p >= from && p < to) d += $NF }
    END { print d + 0 }' /proc/net/udp
}
# CPU time the hypervisor gave to others (steal), in clock ticks summed over the cores: on a
# shared virtual machine it takes cores from the receivers unseen by the load average.
steal_ticks() { awk '$1 == "cpu" { print $9 }' /proc/stat; }
in_datagrams() { awk '/^Udp:/ { if (!h) { for (i = 2; i <= NF; i++) c[$i] = i; h = 1 } else print $c["InDatagrams"] }' /proc/net/snmp; }
# "CALLS DATAGRAMS": the Linux system calls PIDS made over SECONDS, counted in the kernel by perf's
# syscall tracepoint (no slowdown of the process, unlike strace), and the UDP datagrams this
# namespace received meanwhile; "- 0" where perf cannot count.
syscall_sample() {  # SECONDS PID...
  local secs=$1 a b calls
  shift
  a=$(in_datagrams)
  calls=$(perf stat -x, -e raw_syscalls:sys_enter -p "$(IFS=,; echo "$*")" -- sleep "$secs" 2>&1 >/dev/null |
    awk -F, '/raw_syscalls:sys_enter/ { print ($1 ~ /^[0-9]+$/ ? $1 : "-") }')
  b=$(in_datagrams)
  echo "${calls:--} $((b - a))"
}
per_datagram() {  # "CALLS DATAGRAMS" -> calls per datagram
  awk -v c="${1% *}" -v d="${1#* }" 'BEGIN { if (c ~ /^[0-9]+$/ && d > 0) printf "%.2f", c / d; else printf "-" }'
}
anon_of() { awk '/^RssAnon:/ { print $2 }' "/proc/$1/status" 2>/dev/null || echo 0; }
field() { sed -n "s/.* $1=\([^ ]*\).*/\1/p" <<<"$2" | head -1; }
fmt() { awk -v v="$1" 'BEGIN { printf "%.2f", v }'; }

# The host, from a directory of its own per transport: the driver reads its configuration there.
prepare_host() {  # TRANSPORT -> host directory
  bench_host_dir "$out/host-$1" "$1" "$out/bin"
  echo "$out/host-$1"
}

# The Linux process running the host in DIR.
host_pid() {
  local p
  for p in $(pgrep -f 'lumivar_host\.exe'); do
    [ "$(readlink "/proc/$p/cwd" 2>/dev/null)" = "$1" ] && echo "$p" && return
  done
}
# RssAnon (KiB) of the Linux process running the host in DIR. Read here, not by the host: under
# Wine a file the program opens is opened by the Wine server, so the host's /proc/self is the
# server's.
host_anon_kb() {
  local p
  p=$(host_pid "$1")
  if [ -n "$p" ]; then anon_of "$p"; else echo 0; fi
}

# Sets D_CPU D_WS D_GOT D_EXP D_LAT D_HIST D_OK for N streams over TRANSPORT, D_DROPS (kernel
# receive-buffer drops in this namespace: start-up until all receive / warm-up / window / stop
# and close), D_SOCK (drops on the driver's own sockets, 3556-4555, until the window ended),
# D_CALLS (Winsock calls per datagram, datagrams per wake) and D_MEM (KiB per stream, private /
# Linux anonymous, at the window's end against before the first driver).
run_driver() {
  local n=$1 transport=$2 dir log ws0=0 ws1=0 line
  local k0 k1="" k2="" k3="" k4 sock=- anon0="" anon1="" series=() hp="" samplers=() st0=0 t0=0
  rm -f "$out/sys_host" "$out/sys_server"
  D_STEAL=-
  dir=$(prepare_host "$transport")
  log=$out/driver_${transport}_$n.log
  : >"$log"
  k0=$(udp_drops)
  while IFS= read -r line; do
    line=${line%$'\r'}
    case $line in
      "MULTI memory when=before"*) anon0=$(host_anon_kb "$dir") ;;
      "MULTI memory when=window_end"*) anon1=$(host_anon_kb "$dir") ;;
      # Long windows: once a minute, so a footprint that grows with time shows as a series.
      "MULTI memory when=running"*) series+=("$(field private_kb "$line")/$(host_anon_kb "$dir")") ;;
      "MULTI receiving="*) k1=$(udp_drops) ;;
      "MULTI window begins")
        ws0=$(ticks_of "$wineserver_pid") k2=$(udp_drops) st0=$(steal_ticks) t0=$(date +%s%N)
        # Both sides of each Winsock call: the host process and the Wine server, sampled apart.
        hp=$(host_pid "$dir")
        if [ -n "$hp" ]; then
          syscall_sample $((seconds - 1)) "$hp" >"$out/sys_host" &
          samplers+=($!)
          syscall_sample $((seconds - 1)) "$wineserver_pid" >"$out/sys_server" &
          samplers+=($!)
        fi
        ;;
      "MULTI window ends")
        ws1=$(ticks_of "$wineserver_pid") k3=$(udp_drops) sock=$(socket_drops 3556 4556)
        D_STEAL=$(awk -v s=$(($(steal_ticks) - st0)) -v ns=$(($(date +%s%N) - t0)) -v hz="$hz" -v c="$(nproc)" \
          'BEGIN { printf "%.1f", (ns > 0 ? 100 * s / hz / (ns / 1e9) / c : 0) }')
        ;;
    esac
    echo "$line" >>"$log"
  done < <(cd "$dir" && wine ./lumivar_host.exe -a 127.0.0.200 -P 80 -m Camsim -c 1 -v 3 -p 1=1 -p 2=7.80 \
    -p 3=00-1b-2c-03-04-05 -p 4=0 -p 5=1 -p 6=25 \
    multi --drivers "$n" --cameras "$(IFS=,; echo "${cameras[*]}")" --size 1920x1080 --fps 25 \
    --quality 60 --seconds "$seconds" --warmup "$warmup" </dev/null 2>&1)
  k4=$(udp_drops)
  [ ${#samplers[@]} -gt 0 ] && wait "${samplers[@]}"
  D_SYS="-"
  if [ -s "$out/sys_host" ] && [ -s "$out/sys_server" ]; then
    D_SYS="$(per_datagram "$(cat "$out/sys_host")")+$(per_datagram "$(cat "$out/sys_server")")"
  fi
  : "${k1:=$k4}" "${k2:=$k4}" "${k3:=$k4}"
  D_DROPS="$((k1 - k0))/$((k2 - k1))/$((k3 - k2))/$((k4 - k3))"
  D_SOCK=$sock
  local calls mem0 mem1
  calls=$(grep '^UDP_CALLS ' "$log" | tail -1)
  D_CALLS="-"
  # Interleaved media comes in the RTSP connection's reads: no datagrams to count.
  [ "$transport" = tcp ] && calls=""
  [ -n "$calls" ] && D_CALLS="$(field calls_per_datagram "$calls")/$(field datagrams_per_wake "$calls")"
  mem0=$(grep '^MULTI memory when=before' "$log" | tail -1)
  mem1=$(grep '^MULTI memory when=window_end' "$log" | tail -1)
  D_MEM="-"
  [ -n "$mem0" ] && [ -n "$mem1" ] && D_MEM=$(awk -v p0="$(field private_kb "$mem0")" -v p1="$(field private_kb "$mem1")" \
    -v a0="${anon0:-0}" -v a1="${anon1:-0}" -v n="$n" \
    'BEGIN { printf "%.0f/%.0f", (p1 - p0) / n, (a1 - a0) / n }')
  D_SERIES=""
  if [ ${#series[@]} -gt 0 ] && [ -n "$mem0" ]; then
    D_SERIES=$(printf "%s\n" "${series[@]}" | awk -F/ -v p0="$(field private_kb "$mem0")" -v a0="${anon0:-0}" \
      -v n="$n" '{ printf "%s%dmin %.0f/%.0f", (NR > 1 ? ", " : ""), NR, ($1 - p0) / n, ($2 - a0) / n }')
  fi
  local result
  result=$(grep '^MULTI result' "$log" | tail -1)
  if [ -z "$result" ]; then
    D_CPU=- D_WS=- D_GOT=0 D_EXP=0 D_LAT="-" D_HIST="" D_OK=0
    return
  fi
  local secs
  secs=$(field seconds "$result")
  D_CPU=$(field cpu_percent_per_stream "$result")
  D_WS=$(awk -v d="$D_CPU" -v t=$((ws1 - ws0)) -v hz="$hz" -v s="$secs" -v n="$n" \
    'BEGIN { printf "%.2f", d + (s > 0 ? 100 * t / hz / s / n : 0) }')
  D_GOT=$(field frames_total "$result")
  D_EXP=$(awk -v e="$(field expected_per_stream "$result")" -v n="$n" 'BEGIN { printf "%d", e * n }')
  local lat
  lat=$(grep '^LATENCY ' "$log" | tail -1)
  D_LAT="$(field p50_ms "$lat")/$(field p99_ms "$lat")/$(field max_ms "$lat")"
  D_HIST=$(grep '^LATENCY_HISTOGRAM' "$log" | tail -1 | sed 's/^LATENCY_HISTOGRAM cumulative//')
  D_OK=$([ "$(field short_streams "$result")" = 0 ] && [ "$(field bad "$result")" = 0 ] && echo 1 || echo 0)
}

# Sets G_CPU G_GOT G_EXP, G_SYS (Linux system calls per datagram over the window) and G_MEM (KiB of
# anonymous memory per stream, window end against the process before any stream).
run_gst() {
  local n=$1 transport=$2 log urls=() i
  log=$out/gst_${transport}_$n.log
  for ((i = 0; i < n; i++)); do urls+=("$(url_of "$i")"); done
  /usr/bin/python3 "$root/bench/peer_gst_receiver.py" --transport "$transport" --seconds "$seconds" \
    --warmup "$warmup" "${urls[@]}" >"$log" 2>&1 </dev/null &
  local pid=$! sample="" deadline=$(($(date +%s) + warmup + 30))
  while kill -0 "$pid" 2>/dev/null && [ "$(date +%s)" -lt "$deadline" ]; do
    grep -q '^PEER window begins' "$log" && { sample=$(syscall_sample $((seconds - 1)) "$pid"); break; }
    sleep 0.2
  done
  wait "$pid"
  G_SYS=$([ -n "$sample" ] && per_datagram "$sample" || echo -)
  local m0 m1
  m0=$(sed -n 's/^PEER memory when=before anon_kb=\([0-9]*\).*/\1/p' "$log" | tail -1)
  m1=$(sed -n 's/^PEER memory when=window_end anon_kb=\([0-9]*\).*/\1/p' "$log" | tail -1)
  G_MEM="-"
  [ -n "$m0" ] && [ -n "$m1" ] && G_MEM=$(awk -v a="$m0" -v b="$m1" -v n="$n" 'BEGIN { printf "%.0f", (b - a) / n }')
  local result
  result=$(grep '^PEER result' "$log" | tail -1)
  if [ -z "$result" ]; then G_CPU=- G_GOT=0 G_EXP=0; return; fi
  G_CPU=$(field cpu_percent_per_stream "$result")
  G_GOT=$(field frames_total "$result")
  G_EXP=$(awk -v e="$(field expected_per_stream "$result")" -v n="$n" 'BEGIN { printf "%d", e * n }')
}

# Sets F_CPU F_GOT F_EXP, F_SYS (Linux system calls per datagram over the window) and F_MEM (KiB of
# anonymous memory per stream: each process is one stream). FFmpeg writes its progress (frame=...)
# once a second.
run_ffmpeg() {
  local n=$1 transport=$2 i dir=$out/ffmpeg_${transport}_$n
  rm -rf "$dir"
  mkdir -p "$dir"
  peer_pids=()
  for ((i = 0; i < n; i++)); do
    ffmpeg -nostdin -hide_banner -loglevel fatal -rtsp_transport "$transport" -i "$(url_of "$i")" \
      -map 0:v -c copy -f null -stats_period 1 -progress "$dir/progress_$i" - >"$dir/log_$i" 2>&1 </dev/null &
    peer_pids+=($!)
  done
  # With -c copy FFmpeg hands on slices, not pictures, so its frame count overstates; its output
  # time at 25 frames a second counts pictures (a lost one does not show there).
  frames_of() {
    awk -F= '$1 == "out_time_us" && $2 ~ /^[0-9]+$/ { t = $2 } END { printf "%d", t * 25 / 1e6 }' \
      "$dir/progress_$1" 2>/dev/null || echo 0
  }
  local deadline=$(($(date +%s) + warmup)) receiving
  while :; do
    receiving=0
    for ((i = 0; i < n; i++)); do [ "$(frames_of "$i")" -gt 0 ] && receiving=$((receiving + 1)); done
    [ "$receiving" -eq "$n" ] || [ "$(date +%s)" -ge "$deadline" ] && break
    sleep 0.5
  done
  sleep 2
  local f0=() f1=() c0=() t0 t1 used=0 got=0 c
  for ((i = 0; i < n; i++)); do f0+=("$(frames_of "$i")") c0+=("$(ticks_of "${peer_pids[i]}")"); done
  t0=$(date +%s%N)
  local sample
  sample=$(syscall_sample "$seconds" "${peer_pids[@]}")
  t1=$(date +%s%N)
  F_SYS=$(per_datagram "$sample")
  local mem=0 p
  for p in "${peer_pids[@]}"; do mem=$((mem + $(anon_of "$p"))); done
  F_MEM=$((mem / n))
  # A process that ended in the window (a failed session) is left out: its ticks are gone.
  for ((i = 0; i < n; i++)); do
    c=$(ticks_of "${peer_pids[i]}")
    [ "$c" -ge "${c0[i]}" ] && used=$((used + c - c0[i]))
  done
  # The progress file lags by up to its one-second period at both ends alike.
  for ((i = 0; i < n; i++)); do f1+=("$(frames_of "$i")"); got=$((got + f1[i] - f0[i])); done
  kill -TERM "${peer_pids[@]}" 2>/dev/null
  # A process still opening its session (a starved camera) does not look at SIGTERM until its
  # read times out.
  local alive p
  for _ in $(seq 1 50); do
    alive=0
    for p in "${peer_pids[@]}"; do kill -0 "$p" 2>/dev/null && alive=1; done
    [ "$alive" = 0 ] && break
    sleep 0.1
  done
  kill -KILL "${peer_pids[@]}" 2>/dev/null
  wait "${peer_pids[@]}" 2>/dev/null
  peer_pids=()
  echo "receiving=$receiving/$n frames_total=$got" >"$dir/result"
  F_CPU=$(awk -v t=$used -v hz="$hz" -v ns=$((t1 - t0)) -v n="$n" \
    'BEGIN { printf "%.2f", (ns > 0 ? 100 * t / hz / (ns / 1e9) / n : 0) }')
  F_GOT=$got
  F_EXP=$(awk -v ns=$((t1 - t0)) -v n="$n" 'BEGIN { printf "%d", 25 * ns / 1e9 * n }')
}

echo "== $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg); ${seconds} s window; 1920x1080 at 25 fps, 4 Mbit/s per stream"
echo "   CPU in % of one core per stream; frames summed over the streams, got/expected"
for transport in $transports; do
  echo
  echo "== transport $transport"
  printf "%5s %9s %10s %9s %9s %15s %15s %15s %9s %9s %20s %6s %6s\n" N driver drv+wine gst ffmpeg \
    driver_frames gst_frames ffmpeg_frames drv+w/gst drv+w/ff "latency_ms_p50/p99/max" load1 steal%
  hist_lines=()
  extra_lines=()
  series_lines=()
  for n in "${counts[@]}"; do
    load=$(cut -d' ' -f1 /proc/loadavg)
    [ -n "$camsim_pid" ] || bench_start_camsim "$clip"
    run_driver "$n" "$transport"
    G_CPU=- G_GOT=0 G_EXP=0 F_CPU=- F_GOT=0 F_EXP=0 G_DROPS=- F_DROPS=- G_SYS=- F_SYS=- G_MEM=- F_MEM=-
    if [[ " $peers " == *" gst "* ]]; then
      k=$(udp_drops)
      run_gst "$n" "$transport"
      G_DROPS=$(($(udp_drops) - k))
    fi
    if [[ " $peers " == *" ffmpeg "* ]]; then
      k=$(udp_drops)
      run_ffmpeg "$n" "$transport"
      F_DROPS=$(($(udp_drops) - k))
    fi
    bench_stop_camsim
    ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a + 0 > 0 && b + 0 > 0) printf "%.2f", a / b; else printf "-" }'; }
    printf "%5s %9s %10s %9s %9s %15s %15s %15s %9s %9s %20s %6s %6s\n" "$n" "$D_CPU" "$D_WS" "$G_CPU" "$F_CPU" \
      "$D_GOT/$D_EXP" "$G_GOT/$G_EXP" "$F_GOT/$F_EXP" "$(ratio "$D_WS" "$G_CPU")" "$(ratio "$D_WS" "$F_CPU")" \
      "$D_LAT" "$load" "$D_STEAL"
    hist_lines+=("$(printf "%5s %s" "$n" "$D_HIST")")
    extra_lines+=("$(printf "%5s %22s %12s %10s %10s %14s %12s %8s %8s %16s %8s %8s" "$n" "$D_DROPS" "$D_SOCK" \
      "$G_DROPS" "$F_DROPS" "$D_CALLS" "$D_SYS" "$G_SYS" "$F_SYS" "$D_MEM" "$G_MEM" "$F_MEM")")
    [ -n "$D_SERIES" ] && series_lines+=("$(printf "%5s %s" "$n" "$D_SERIES")")
  done
  echo "   driver frame hand-over, frames handed over within each limit (cumulative):"
  printf "   %s\n" "${hist_lines[@]}"
  echo "   kernel UDP receive-buffer drops (RcvbufErrors in this namespace) per receiver, the driver's by phase"
  echo "   (start-up until every stream receives / warm-up / window / stop); drv_sockets: on the driver's own"
  echo "   ports until the window ended; the driver's Winsock calls per datagram / datagrams per wake; Linux system"
  echo "   calls per datagram over the window (the driver's: host process + Wine server); memory per stream in KiB"
  echo "   (driver: private committed / Linux anonymous resident, window end against before the first driver;"
  echo "   GStreamer: anonymous resident against the process before any stream; FFmpeg: a process's, one per stream)"
  printf "   %5s %22s %12s %10s %10s %14s %12s %8s %8s %16s %8s %8s\n" N driver_drops drv_sockets gst_drops ff_drops \
    calls/dgram drv_sys/dg gst_sys ff_sys drv_mem_kb gst_mem ff_mem
  printf "   %s\n" "${extra_lines[@]}"
  if [ ${#series_lines[@]} -gt 0 ]; then
    echo "   driver memory per stream in KiB (private / Linux anonymous) after each minute of the window"
    printf "   %s\n" "${series_lines[@]}"
  fi
done
echo
echo "logs: $out"
