#!/usr/bin/env bash
# The main job: the integrator's path with one simulated camera that has audio. Installs what is
# missing, builds the Windows configuration (build/win), starts the camera simulator, then
# through LumivarIPCapture.dll under Wine, as a recorder adds a camera:
#   1. asks the camera what it can do (the capability query) and prints the report
#      (out/query.txt);
#   2. opens the driver with the reported entries 1-10 and 101/102 as its parameters;
#   3. receives the advertised live H.264 stream and the camera's audio for ten seconds
#      (out/capture.h264, out/audio.wav), with a frame of the video decoded by ffmpeg in
#      out/thumbnail.png.
# The last lines sum up each stream: frames delivered, frames ffprobe decodes, size, kbit/s.
#   JOBS          parallel build jobs (default: number of cores)
#   SECONDS_LIVE  how long to receive (default 10)
#   BUILD_DIR     the Windows build tree (default build/win); LUMIVAR_WINEPREFIX its Wine prefix
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/install-deps.sh || { echo "run.sh: FAILED (dependencies)"; exit 1; }

jobs=${JOBS:-$(nproc)}
seconds=${SECONDS_LIVE:-10}
build=${BUILD_DIR:-build/win}
echo "== build: windows (MinGW-w64)"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DLUMIVAR_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null || { echo "run.sh: FAILED (configure)"; exit 1; }
fi
cmake --build "$build" -j "$jobs" --target LumivarIPCapture lumivar_host || { echo "run.sh: FAILED (build)"; exit 1; }

echo "== camera simulator"
tools/camsim/camsimctl.sh start "$(cd "$build" && pwd)/camsim" || { echo "run.sh: FAILED (camera simulator)"; exit 1; }
cleanup() {
  wineserver -k >/dev/null 2>&1 </dev/null || true
  tools/camsim/camsimctl.sh stop "$(cd "$build" && pwd)/camsim" >/dev/null 2>&1 || true
}
trap cleanup EXIT

# The same prefix and start-up as the test run, so that no Wine process holds our output pipe.
export WINEPREFIX="${LUMIVAR_WINEPREFIX:-$(cd "$build" && pwd)/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
bash scripts/wine-prefix.sh "$WINEPREFIX" || { echo "run.sh: FAILED (wine prefix)"; exit 1; }

mkdir -p out
rm -f out/capture.h264 out/audio.wav out/thumbnail.png out/query.txt
cam=127.0.0.75 # "Camsim Fixed Audio 720": H.264, audio in and out (tools/camsim/README.md)
host() { (cd "$build" && wine ./lumivar_host.exe "$@" </dev/null 2>&1) | tr -d '\r'; }

echo "== 1. capability query: camera $cam"
host -u service -w camsim query "$cam" | tee out/query.txt
grep -q '^query: completed$' out/query.txt || { echo "run.sh: FAILED (capability query)"; exit 1; }
entry() { sed -n "s/^$1 \[[^]]*\] = //p" out/query.txt | head -1; }
model=$(sed -n 's/^device model = //p' out/query.txt | head -1)

echo "== 2. open parameters, as a recorder stores them from the report"
params=()
for n in 1 2 3 4 5 6 7 8 9 10 101 102; do
  value=$(entry $n)
  [ -n "$value" ] || continue
  params+=(-p "$n=$value")
  echo "  parameter $n = $value"
done
# The advertised live stream: its first codec at its first size, at the default frame rate.
codec=$(entry 120 | cut -d, -f1)
size=$(entry 121 | cut -d, -f1 | cut -d: -f1)
rate=$(entry 122 | sed -n 's/.*default=\([0-9]*\).*/\1/p')
[ "$codec" = h264 ] && [ -n "$size" ] || { echo "run.sh: FAILED (no live H.264 advertised: '$codec' '$size')"; exit 1; }
device=(-a "$cam" -P 80 -u service -w camsim -m "$model" -c 1 -v 3 -i 1,1 "${params[@]}")

echo "== 3. live H.264 $size (stream 1, frame-rate code ${rate:-33}) and audio in for ${seconds} s"
host "${device[@]}" live --format h264 --stream "0:1@$size" --frame-code "${rate:-33}" --seconds "$seconds" \
  -o "$root/out/capture.h264" >out/live.log &
live_pid=$!
host "${device[@]}" --seconds "$seconds" -o "$root/out/audio.wav" audio-in >out/audio.log &
audio_pid=$!
wait $live_pid
live_code=$?
wait $audio_pid
audio_code=$?
grep -E '^(STATE|STATS|LIVE|LOG level=[12] )' out/live.log | sed 's/^/[video] /'
grep -E '^(AUDIO (open|status|second|result)|LOG level=[12] )' out/audio.log | sed 's/^/[audio] /'

thumbnail() {  # frame number: writes out/thumbnail.png from that decoded frame
  ffmpeg -v error -y -f h264 -i out/capture.h264 -vf "select=eq(n\\,$1)" -vsync 0 -frames:v 1 -update 1 \
    out/thumbnail.png </dev/null >/dev/null 2>&1 && [ -s out/thumbnail.png ]
}
code=0
live=$(grep '^LIVE ' out/live.log | head -1)
frames=$(sed -n 's/.* frames=\([0-9]*\).*/\1/p' <<<"$live")
bytes=$(sed -n 's/.* bytes=\([0-9]*\).*/\1/p' <<<"$live")
decoded=0 vsize=?
if [ -s out/capture.h264 ] && { thumbnail 25 || thumbnail 0; }; then
  IFS=, read -r _ w h decoded < <(ffprobe -v error -f h264 -count_frames -select_streams v:0 \
    -show_entries stream=codec_name,width,height,nb_read_frames -of csv=p=0 out/capture.h264 </dev/null 2>/dev/null)
  vsize="${w}x$h"
fi
[ "$live_code" -eq 0 ] && [ "${decoded:-0}" -gt 0 ] && [ "$vsize" = "$size" ] || code=1
result=$(grep '^AUDIO result ' out/audio.log | head -1)
afr=$(sed -n 's/.* frames=\([0-9]*\).*/\1/p' <<<"$result")
abytes=$(sed -n 's/.* bytes=\([0-9]*\).*/\1/p' <<<"$result")
ainfo=$(ffprobe -v error -count_packets -show_entries stream=codec_name,sample_rate,nb_read_packets -of csv=p=0 \
  out/audio.wav </dev/null 2>/dev/null | head -1)
IFS=, read -r acodec arate apackets <<<"$ainfo"
[ "$audio_code" -eq 0 ] && [ "${afr:-0}" -gt 0 ] && [ -n "$acodec" ] || code=1
echo "video: ${frames:-0} frames delivered, ${decoded:-0} decoded by ffprobe (h264 $vsize), ~$((${bytes:-0} * 8 / 1000 / seconds)) kbit/s -> out/capture.h264, out/thumbnail.png"
echo "audio: ${afr:-0} frames delivered, ${apackets:-0} packets decoded by ffprobe (${acodec:-nothing} ${arate:-?} Hz), ~$((${abytes:-0} * 8 / 1000 / seconds)) kbit/s -> out/audio.wav"
if [ "$code" -eq 0 ]; then
  echo "run.sh: OK - capability report out/query.txt, video and audio decoded"
else
  echo "run.sh: FAILED - video exit $live_code, audio exit $audio_code (out/live.log, out/audio.log)"
fi
exit "$code"
