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
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build/win}
out=$build/bench-live-streams
seconds=${SECONDS_MEASURE:-15}
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(1 8 16 24 32 40 48 56 64)
control=127.0.0.1:18190
mkdir -p "$out"

if [ ! -f "$build/lumivar_host.exe" ] || [ ! -f "$build/LumivarIPCapture.dll" ]; then
  [ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
  cmake --build "$build" --target lumivar_host -j 2 || { echo "build failed"; exit 1; }
fi

clip=$out/clip_1080p25_4M.mp4
if [ ! -s "$clip" ]; then
  echo "== encoding the clip once: 60 s of 1920x1080 at 25 fps, 4 Mbit/s CBR, constrained baseline"
  gst-launch-1.0 -q -e videotestsrc num-buffers=1500 pattern=smpte horizontal-speed=4 \
    ! video/x-raw,width=1920,height=1080,framerate=25/1 \
    ! x264enc bitrate=4000 vbv-buf-capacity=1000 key-int-max=25 speed-preset=superfast tune=zerolatency \
      option-string="nal-hrd=cbr:force-cfr=1" \
    ! video/x-h264,profile=constrained-baseline ! h264parse ! mp4mux ! filesink location="$clip.tmp" \
    && mv "$clip.tmp" "$clip" || { echo "cannot encode the clip"; exit 1; }
fi
sed "s|@CLIP@|$clip|" "$root/bench/live_streams_cameras.json" >"$out/cameras.json"

/usr/bin/python3 "$root/tools/camsim/camsim.py" --control "$control" --config "$out/cameras.json" \
  --cache-dir "$out/camsim-cache" >"$out/camsim.log" 2>&1 </dev/null &
camsim_pid=$!
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  kill -TERM "$camsim_pid" 2>/dev/null
  wait "$camsim_pid" 2>/dev/null
}
trap cleanup EXIT
for _ in $(seq 1 300); do curl -s -m 1 "http://$control/health" >/dev/null && break; sleep 0.1; done
curl -s -m 2 "http://$control/health" >/dev/null || { cat "$out/camsim.log"; echo "camera simulator did not start"; exit 1; }
[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1 </dev/null
wineserver -p >/dev/null 2>&1 </dev/null
wine cmd /c exit >/dev/null 2>&1 </dev/null

echo "== $(nproc) cores; ${seconds} s window per count; streams of 1920x1080 at 25 fps, 4 Mbit/s"
printf "%8s %10s %10s %10s %8s %12s %10s %14s\n" streams expected min max short kbit/stream cpu_% cpu_%/stream
best=0
per_stream_1=""
for n in "${counts[@]}"; do
  log=$out/multi_$n.log
  (cd "$build" && wine ./lumivar_host.exe -a 127.0.0.200 -P 80 -m Camsim -c 1 -v 3 -p 1=1 -p 2=7.80 \
    -p 3=00-1b-2c-03-04-05 -p 4=0 -p 5=1 -p 6=25 \
    multi --drivers "$n" --cameras 127.0.0.200,127.0.0.201,127.0.0.202,127.0.0.203 --size 1920x1080 --fps 25 \
    --quality 60 --seconds "$seconds" --warmup 60 </dev/null 2>&1) | tr -d '\r' >"$log"
  result=$(grep '^MULTI result' "$log" | tail -1)
  if [ -z "$result" ]; then
    echo "$n streams: no result (see $log)"
    break
  fi
  get() { sed -n "s/.* $1=\([^ ]*\).*/\1/p" <<<"$result"; }
  printf "%8s %10s %10s %10s %8s %12s %10s %14s\n" "$n" "$(get expected_per_stream)" "$(get min)" "$(get max)" \
    "$(get short_streams)" "$(get kbps_per_stream)" "$(get cpu_percent)" "$(get cpu_percent_per_stream)"
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
