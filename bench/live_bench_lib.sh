# Sourced by the live benchmarks and soaks, after they set root, build and out: the test host
# (built when missing), the 1080p25 4 Mbit/s clip (encoded once), a host directory, the camera
# simulator with the capacity benchmark's cameras (127.0.0.200-203, control port 18190), the
# build's Wine prefix, and a sampler of the host process's Linux side.
control=${control:-127.0.0.1:18190}

bench_build_host() {
  [ -f "$build/lumivar_host.exe" ] && [ -f "$build/LumivarIPCapture.dll" ] && return 0
  [ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
  cmake --build "$build" --target lumivar_host -j 2 || { echo "build failed"; exit 1; }
}

# Sets clip. The simulator's encoders would cost more CPU than the driver, so the cameras play
# this file: 60 s of 1920x1080 at 25 fps, 4 Mbit/s CBR, constrained baseline.
bench_clip() {
  clip=$build/bench-live-streams/clip_1080p25_4M.mp4
  [ -s "$clip" ] && return 0
  mkdir -p "$(dirname "$clip")"
  echo "== encoding the clip once: 60 s of 1920x1080 at 25 fps, 4 Mbit/s CBR, constrained baseline"
  gst-launch-1.0 -q -e videotestsrc num-buffers=1500 pattern=smpte horizontal-speed=4 \
    ! video/x-raw,width=1920,height=1080,framerate=25/1 \
    ! x264enc bitrate=4000 vbv-buf-capacity=1000 key-int-max=25 speed-preset=superfast tune=zerolatency \
      option-string="nal-hrd=cbr:force-cfr=1" \
    ! video/x-h264,profile=constrained-baseline ! h264parse ! mp4mux ! filesink location="$clip.tmp" \
    && mv "$clip.tmp" "$clip" || { echo "cannot encode the clip"; exit 1; }
}

# bench_host_dir DIR TRANSPORT [FROM]: the host and the driver copied into DIR (the driver reads
# its configuration file there; a copy also keeps a rebuild during a run out of the figures);
# TRANSPORT tcp or interleaved asks for RTP in the RTSP connection.
bench_host_dir() {
  local dir=$1 transport=$2 from=${3:-$build}
  rm -rf "$dir"
  mkdir -p "$dir"
  cp "$from/lumivar_host.exe" "$from/LumivarIPCapture.dll" "$dir/" || exit 1
  if [ "$transport" = tcp ] || [ "$transport" = interleaved ]; then
    printf '%s\n' '<?xml version="1.0"?>' '<Configuration><Default><VideoChannel>' \
      '<RTPMode>RTPoverRTSP</RTPMode></VideoChannel></Default></Configuration>' >"$dir/LumivarIPCapture.xml"
  fi
}

# bench_cameras N: sets cameras to N simulated cameras from 127.0.0.200 (4 unless asked).
bench_cameras() {
  local i
  cameras=()
  for ((i = 0; i < ${1:-4}; i++)); do cameras+=("127.0.0.$((200 + i))"); done
}

# bench_start_camsim CLIP: the cameras (of `cameras`, else 127.0.0.200-203) playing CLIP; sets
# camsim_pid (the first simulator) and camsim_pids. With CAMSIM_PER_CAMERA=1 every camera runs in
# a simulator process of its own (control ports 18190, 18191, ...): one process serving many
# interleaved sessions stalls them all once its sends queue up. bench_stop_camsim.
camsim_pid=
camsim_pids=()
bench_start_camsim() {
  local list=("${cameras[@]:-127.0.0.200 127.0.0.201 127.0.0.202 127.0.0.203}") i a ctl
  [ ${#list[@]} -eq 1 ] && read -r -a list <<<"${list[0]}"
  {
    echo "["
    for ((i = 0; i < ${#list[@]}; i++)); do
      printf '  {"address": "%s", "auth": "none", "frame_rate_milli": 25000, "rtsp_clip": "%s"}%s\n' \
        "${list[i]}" "$1" "$([ $((i + 1)) -lt ${#list[@]} ] && echo ,)"
    done
    echo "]"
  } >"$out/cameras.json"
  camsim_pids=()
  local controls=()
  if [ "${CAMSIM_PER_CAMERA:-0}" = 1 ]; then
    for ((i = 0; i < ${#list[@]}; i++)); do
      a=${list[i]} ctl=127.0.0.1:$((18190 + i))
      /usr/bin/python3 "$root/tools/camsim/camsim.py" --control "$ctl" --config "$out/cameras.json" --only "$a" \
        --cache-dir "$out/camsim-cache" >>"$out/camsim.log" 2>&1 </dev/null &
      camsim_pids+=($!)
      controls+=("$ctl")
    done
  else
    /usr/bin/python3 "$root/tools/camsim/camsim.py" --control "$control" --config "$out/cameras.json" \
      --cache-dir "$out/camsim-cache" >>"$out/camsim.log" 2>&1 </dev/null &
    camsim_pids+=($!)
    controls+=("$control")
  fi
  camsim_pid=${camsim_pids[0]}
  for ctl in "${controls[@]}"; do
    for _ in $(seq 1 300); do curl -s -m 1 "http://$ctl/health" >/dev/null && break; sleep 0.1; done
    curl -s -m 2 "http://$ctl/health" >/dev/null && continue
    cat "$out/camsim.log"
    echo "camera simulator did not start ($ctl)"
    exit 1
  done
}
bench_stop_camsim() {
  [ ${#camsim_pids[@]} -gt 0 ] || return 0
  kill -TERM "${camsim_pids[@]}" 2>/dev/null
  wait "${camsim_pids[@]}" 2>/dev/null
  camsim_pid=
  camsim_pids=()
}

# The build's Wine prefix with its server kept up, started with its output away from ours.
# Wine makes sockets in its server: a server of this prefix still running in another network
# namespace (a test run's, kept up by "wineserver -p") would put the driver's sockets there, away
# from these cameras, so it is ended first.
bench_wine() {
  export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  local dir p
  printf -v dir "server-%x-%x" "$(stat -c %d "$WINEPREFIX" 2>/dev/null || echo 0)" \
    "$(stat -c %i "$WINEPREFIX" 2>/dev/null || echo 0)"
  for p in $(pgrep -x wineserver64) $(pgrep -x wineserver); do
    [[ $(readlink "/proc/$p/cwd") == */$dir ]] || continue
    [ "$(readlink "/proc/$p/ns/net")" = "$(readlink /proc/self/ns/net)" ] && continue
    echo "== this prefix's Wine server runs in another network namespace: ending it"
    wineserver -k >/dev/null 2>&1 </dev/null
    sleep 1
  done
  [ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1 </dev/null
  wineserver -p >/dev/null 2>&1 </dev/null
  wine cmd /c exit >/dev/null 2>&1 </dev/null
}

# Under Wine the host's own private-bytes figure does not move, so
# the scripts also watch the Linux side of the host process: resident anonymous memory and
# threads, every SAMPLE_SECONDS (default 5), into a file; summarised as first/last/max.
#   start_host_sampler HOSTDIR FILE    (the host is the lumivar_host.exe running in HOSTDIR)
#   stop_host_sampler
#   summarise_host_samples FILE
sampler_pid=
start_host_sampler() {
  local dir=$1 file=$2
  : >"$file"
  (
    pid=
    while :; do
      if [ -z "$pid" ] || [ ! -d "/proc/$pid" ]; then
        pid=
        for p in $(pgrep -f 'lumivar_host\.exe'); do
          [ "$(readlink "/proc/$p/cwd" 2>/dev/null)" = "$dir" ] && pid=$p
        done
      fi
      [ -n "$pid" ] && awk -v t="$(date +%s)" '/^RssAnon:/ { a = $2 } /^Threads:/ { th = $2 }
        END { if (a != "") print t, a, th }' "/proc/$pid/status" 2>/dev/null >>"$file"
      sleep "${SAMPLE_SECONDS:-5}"
    done
  ) &
  sampler_pid=$!
}
stop_host_sampler() {
  [ -n "$sampler_pid" ] && kill -TERM "$sampler_pid" 2>/dev/null
  sampler_pid=
}
summarise_host_samples() {
  # The first sample is the process starting up; the middle one, where one-time growth is over,
  # against the last one shows a leak.
  awk '{ a[++n] = $2; th[n] = $3; if ($2 > ma) ma = $2; if ($3 > mt) mt = $3 }
    END {
      if (!n) { print "   no Linux-side samples of the host"; exit }
      m = int((n + 1) / 2)
      printf "   %-11s %10s %10s %10s %10s   (Linux side of the host, %d samples)\n", "", "first", "middle", "last", "max", n
      printf "   %-11s %10s %10s %10s %10s\n", "rss_anon_kb", a[1], a[m], a[n], ma
      printf "   %-11s %10s %10s %10s %10s\n", "os_threads", th[1], th[m], th[n], mt
    }' "$1"
}
