#!/usr/bin/env bash
# The main job: installs what is missing, builds the Windows configuration (build/win), starts
# the camera simulator and lets the test host receive live H.264 from a simulated camera through
# LumivarIPCapture.dll under Wine for about ten seconds. The host prints state changes, every
# message the driver logs ("LOG level=N text") and once a second frames, kbit/s and picture size.
# The capture lands in out/capture.h264 and a frame of it, decoded by ffmpeg, in
# out/thumbnail.png; the last line sums up.
#   scripts/run.sh [extra lumivar_host options...]   e.g. --format mjpeg -o out/capture.mjpeg
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
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1 </dev/null
fi
wineserver -p >/dev/null 2>&1 </dev/null
wine cmd /c exit >/dev/null 2>&1 </dev/null

mkdir -p out
rm -f out/capture.h264 out/thumbnail.png
capture="$root/out/capture.h264"
echo "== live: camera 127.0.0.10 (H.264, 640x480, 25 fps) for ${seconds} s"
# The simulated single-line HD camera with Basic authentication (tools/camsim/README.md).
args=(-a 127.0.0.10 -P 80 -u service -w camsim -m "Camsim HD 1080" -c 1 -v 3 -i 1,1
  -p 1=1 -p 2=7.80.0128 -p 3=00-1b-2c-03-04-05 -p 4=0 -p 5=1 -p 6=30
  live --format h264 --size 640x480 --fps 25 --quality 50 --seconds "$seconds" -o "$capture")
log=$(mktemp)
(cd "$build" && wine ./lumivar_host.exe "${args[@]}" "$@" </dev/null 2>&1) | tr -d '\r' | tee "$log"
code=${PIPESTATUS[0]}

lines=$(grep -c '^LOG level=' "$log")
live=$(grep '^LIVE ' "$log" | head -1)
rm -f "$log"
frames=$(sed -n 's/.* frames=\([0-9]*\).*/\1/p' <<<"$live")
bytes=$(sed -n 's/.* bytes=\([0-9]*\).*/\1/p' <<<"$live")
size=$(sed -n 's/.* size=\([0-9x]*\).*/\1/p' <<<"$live")
probe="not decodable"
thumbnail() {  # frame number: writes out/thumbnail.png from that decoded frame
  ffmpeg -v error -y -f h264 -i out/capture.h264 -vf "select=eq(n\\,$1)" -vsync 0 -frames:v 1 -update 1 \
    out/thumbnail.png </dev/null >/dev/null 2>&1 && [ -s out/thumbnail.png ]
}
# The capture is whatever the host was given; ffmpeg decoding it is the proof it is video. A
# frame a second in shows the stream settled; a short capture falls back to its first frame.
if [ -s out/capture.h264 ] && { thumbnail 25 || thumbnail 0; }; then
  probe=$(ffprobe -v error -f h264 -count_frames -select_streams v:0 \
    -show_entries stream=codec_name,width,height,nb_read_frames -of csv=p=0 out/capture.h264 </dev/null 2>/dev/null |
    head -1 | awk -F, '{printf "%s %sx%s, %s frames decoded", $1, $2, $3, $4}')
elif [ "$code" -eq 0 ]; then
  code=1
fi
kbps=0
[ -n "$bytes" ] && [ "$seconds" -gt 0 ] && kbps=$((bytes * 8 / 1000 / seconds))
if [ "$code" -eq 0 ]; then
  echo "run.sh: OK - ${frames:-0} frames (${size:-?}) in ${seconds} s, ~${kbps} kbit/s, $lines log lines;" \
    "out/capture.h264: $probe; thumbnail out/thumbnail.png"
else
  echo "run.sh: FAILED - host exit $code, ${frames:-0} frames, $lines log lines; out/capture.h264: $probe"
fi
exit "$code"
