#!/usr/bin/env bash
# Builds the streaming benchmark optimized (no sanitizers) natively and, when MinGW and Wine are
# there, for Windows; runs both and compares our H.264 depacketizing throughput with
# GStreamer's rtpstreamdepay ! rtph264depay on the same RFC 4571 file.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${BENCH_DIR:-$root/build/bench-streaming}
mkdir -p "$out"
sources=("$root/bench/streaming_bench.cpp")
while read -r f; do sources+=("$f"); done < <(grep -o 'src/streaming/[a-z0-9_]*\.cpp' "$root/src/streaming/parsers.cmake" | sed "s|^|$root/|")
# The RTSP response parser reads Digest challenges with the HTTP transport's code.
sources+=("$root/src/control/http_digest.cpp" "$root/src/control/md5.cpp")
flags=(-std=c++20 -O2 -DNDEBUG -I"$root/src" -I"$root/include" -I"$root/tests")

echo "== native (clang++ -O2)"
clang++ "${flags[@]}" "${sources[@]}" -o "$out/streaming_bench"
"$out/streaming_bench" --write-rtp "$out/h264.rtp" | tee "$out/native.txt"

ours=$(awk '/^OURS_H264_MBPS/{print $2}' "$out/native.txt")
size=$(stat -c %s "$out/h264.rtp")
best=""
for i in 1 2 3; do
  start=$(date +%s.%N)
  gst-launch-1.0 -q filesrc location="$out/h264.rtp" blocksize=65536 ! \
    application/x-rtp-stream,media=video,clock-rate=90000,encoding-name=H264 ! rtpstreamdepay ! rtph264depay ! \
    fakesink sync=false >/dev/null 2>&1
  end=$(date +%s.%N)
  t=$(echo "$end - $start" | bc -l)
  if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
done
gst=$(echo "$size / $best / 1000000" | bc -l)
printf "GStreamer rtpstreamdepay ! rtph264depay: %.1f MB/s (%.2f s for %.1f MB, best of 3, process start included)\n" \
  "$gst" "$best" "$(echo "$size / 1000000" | bc -l)"
printf "ours / GStreamer: %.1fx\n" "$(echo "$ours / $gst" | bc -l)"

if command -v x86_64-w64-mingw32-g++-posix >/dev/null && command -v wine >/dev/null; then
  echo "== Windows (MinGW -O2, under Wine)"
  x86_64-w64-mingw32-g++-posix "${flags[@]}" -static "${sources[@]}" -o "$out/streaming_bench.exe"
  export WINEPREFIX=${WINEPREFIX:-$out/wineprefix} WINEDEBUG=-all
  wine "$out/streaming_bench.exe" </dev/null 2>/dev/null | tee "$out/wine.txt"
  wineserver -k >/dev/null 2>&1 || true
fi
