# Shared by the integration tests: each test script sources this file with the test host and
# the driver library as its first two arguments. It gives the test a directory of its own with
# copies of both (the host directory is where the driver looks for "LumivarIPCapture.xml", and
# tests run in parallel), runs the host in the background, waits for its printed lines with
# bounds, talks to the camera simulator's control interface and checks captures with ffprobe.
#   source lib.sh HOST.EXE DRIVER.DLL
# shellcheck shell=bash
set -uo pipefail

IT_SOURCE_DIR=${LUMIVAR_SOURCE_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
IT_HOST_EXE=$1
IT_DLL=$2
shift 2
IT_NAME=$(basename "$0" .sh)
IT_DIR=${IT_DIR:-${LUMIVAR_BINARY_DIR:-/tmp}/integration/$IT_NAME}
IT_CONTROL=${CAMSIM_CONTROL:-127.0.0.1:18080}
IT_FAILED=0
IT_PIDS=()
IT_WRAP=()  # a command the host runs under, e.g. (ip netns exec NAME)

rm -rf "$IT_DIR"
mkdir -p "$IT_DIR"
cp "$IT_HOST_EXE" "$IT_DLL" "$IT_DIR/" || { echo "cannot copy the host and the driver to $IT_DIR"; exit 1; }

fail() {
  echo "CHECK FAILED: $*"
  IT_FAILED=1
}
pass() { echo "CHECK ok: $*"; }

# Ends every host this test started that is still running: asks it to quit through its command
# file first, so it closes the driver, and only then kills it by its own process id.
it_cleanup() {
  local pid log
  for log in "$IT_DIR"/*.cmd; do [ -f "$log" ] && echo quit >>"$log"; done
  for pid in "${IT_PIDS[@]}"; do
    for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null
  done
  return 0
}
trap it_cleanup EXIT

# The configuration file the driver reads from the host directory; its text comes on stdin.
write_config() { cat >"$IT_DIR/LumivarIPCapture.xml"; }
# The configuration that asks for RTP in the RTSP connection (interleaved) on every channel.
write_interleaved_config() {
  printf '%s\n' '<?xml version="1.0"?>' '<Configuration>' '  <Default>' \
    '    <VideoChannel><RTPMode>RTPoverRTSP</RTPMode></VideoChannel>' '  </Default>' '</Configuration>' | write_config
}

# host_start NAME ARGS...: runs the host in the background; output in $IT_DIR/NAME.log, commands
# appended to $IT_DIR/NAME.cmd reach it (see lumivar_host --commands).
host_start() {
  local name=$1
  shift
  : >"$IT_DIR/$name.cmd"
  (cd "$IT_DIR" && exec "${IT_WRAP[@]}" "$IT_SOURCE_DIR/scripts/wine-run.sh" "$IT_DIR/lumivar_host.exe" "$@" \
    --commands "$IT_DIR/$name.cmd") >"$IT_DIR/$name.raw" 2>&1 </dev/null &
  IT_PIDS+=("$!")
  eval "IT_PID_$name=$!"
}

# The host's output so far, without Windows line ends.
host_log() { tr -d '\r' <"$IT_DIR/$1.raw"; }

host_cmd() { echo "$2" >>"$IT_DIR/$1.cmd"; }

# wait_line NAME REGEX SECONDS [AFTER]: waits until a line matches (optionally only among lines
# after the AFTER-th), fails after SECONDS. Prints the line number of the match.
wait_line() {
  local name=$1 re=$2 seconds=$3 after=${4:-0} deadline n pid done=""
  eval "pid=\${IT_PID_$name:-}"
  deadline=$(($(date +%s%N) / 1000000 + seconds * 1000))
  while :; do
    n=$(host_log "$name" | awk -v after="$after" -v re="$re" 'NR > after && $0 ~ re { print NR; exit }')
    if [ -n "$n" ]; then
      echo "$n"
      return 0
    fi
    [ "$(($(date +%s%N) / 1000000))" -ge "$deadline" ] && return 1
    # A host that has ended prints nothing more; one last look, then give up.
    if [ -n "$pid" ] && ! kill -0 "$pid" 2>/dev/null; then
      [ -n "$done" ] && return 1
      done=1
    fi
    sleep 0.2
  done
}

line_count() { host_log "$1" | wc -l; }

# host_wait NAME SECONDS: waits for the host to end; its exit code, or 124 after SECONDS.
host_wait() {
  local name=$1 seconds=$2 pid
  eval "pid=\$IT_PID_$name"
  for _ in $(seq 1 $((seconds * 10))); do
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid"
      return $?
    fi
    sleep 0.1
  done
  return 124
}

# host_run NAME SECONDS ARGS...: runs the host to its end and prints its output.
host_run() {
  local name=$1 seconds=$2 code
  shift 2
  host_start "$name" "$@"
  host_wait "$name" "$seconds"
  code=$?
  host_log "$name" | sed "s/^/[$name] /"
  [ "$code" -eq 124 ] && fail "$name: the host did not end within $seconds s"
  return "$code"
}

show_log() { host_log "$1" | sed "s/^/[$1] /"; }

# kv LINE KEY: the value of KEY=... in LINE.
kv() { tr ' ' '\n' <<<"$1" | sed -n "s/^$2=//p" | head -1; }

# grep reads the whole log (no -q): an early exit would kill the writer with SIGPIPE, which
# pipefail turns into a failed match on a log that does hold the line.
expect_line() {  # NAME REGEX DESCRIPTION
  if host_log "$1" | grep -E -- "$2" >/dev/null; then pass "$3"; else fail "$3 (no line matching: $2)"; fi
}
reject_line() {  # NAME REGEX DESCRIPTION
  if host_log "$1" | grep -E -- "$2" >/dev/null; then fail "$3 (line matching: $2)"; else pass "$3"; fi
}

# expect_tone CAPTURE DESCRIPTION: the capture decodes to the cameras' 1 kHz tone, clean enough
# (share of the dominant frequency above 0.8) that a wrong sample law, lost units or a wrong
# rate fail it.
expect_tone() {
  local hz share seconds
  read -r _ hz share seconds <<<"$(python3 "$IT_SOURCE_DIR/tests/integration/audio_tone.py" "$1")"
  echo "tone: $hz Hz, share $share, $seconds s"
  if [ "${hz:-0}" -ge 990 ] && [ "${hz:-0}" -le 1010 ] && awk -v s="$share" 'BEGIN { exit !(s > 0.8) }'; then
    pass "$2"
  else
    fail "dominant frequency $hz Hz (share $share), expected a clean 1000 Hz"
  fi
}

# field NAME LINE_REGEX KEY: the value of KEY=... on the first line matching LINE_REGEX.
field() {
  host_log "$1" | grep -E -- "$2" | head -1 | tr ' ' '\n' | sed -n "s/^$3=//p" | head -1
}

# ---- camera simulator ----

camsim_post() {  # PATH [QUERY]
  curl -s -m 15 -X POST "http://$IT_CONTROL$1${2:+?$2}"
}
camsim_get() { curl -s -m 15 "http://$IT_CONTROL$1${2:+?$2}"; }
camsim_reset() { camsim_post "/camera/$1/reset" >/dev/null; }
rtsp_fault() { camsim_post "/camera/$1/rtsp_fault" "name=$2${3:+&$3}"; }
# camsim_silent ADDRESS 1|0: the camera accepts connections and answers nothing, on every side,
# and its open connections carry nothing more (1); it answers again (0).
camsim_silent() { camsim_post "/camera/$1/silent" "on=$2" >/dev/null; }
# A value of the camera's JSON state: camsim_state ADDRESS PYTHON_EXPRESSION (on `s`).
camsim_state() {
  camsim_get "/camera/$1/state" | /usr/bin/python3 -c "import json,sys; s=json.load(sys.stdin); print($2)"
}

# ---- captures ----

# probe FILE FORMAT (h264|mjpeg|m4v): "codec width height decoded_frames decode_errors"
probe() {
  local file=$1 format=$2 info errors
  info=$(ffprobe -v error -f "$format" -count_frames -select_streams v:0 \
    -show_entries stream=codec_name,width,height,nb_read_frames -of csv=p=0 "$file" </dev/null 2>/dev/null | head -1)
  errors=$(ffmpeg -v error -f "$format" -i "$file" -f null - </dev/null 2>&1 | wc -l)
  echo "${info//,/ } $errors"
}

# check_capture NAME FILE FORMAT WIDTH HEIGHT: the capture decodes with the size the host saw,
# and nearly every delivered frame decodes (a stream joined between key frames may cost the
# frames before the first one).
check_capture() {
  local name=$1 file=$2 format=$3 width=$4 height=$5 codec w h decoded errors delivered
  if [ ! -s "$file" ]; then
    fail "$name: capture $file is empty"
    return
  fi
  read -r codec w h decoded errors <<<"$(probe "$file" "$format")"
  delivered=$(field "$name" "^LIVE .*file=$file\$" frames)
  echo "capture $file: codec=$codec ${w}x$h decoded=$decoded errors=$errors delivered=$delivered"
  local want
  case $format in mjpeg) want=mjpeg ;; m4v) want=mpeg4 ;; *) want=h264 ;; esac
  [ "$codec" = "$want" ] || fail "$name: $file decodes as '$codec', expected $want"
  [ "$w" = "$width" ] && [ "$h" = "$height" ] || fail "$name: $file is ${w}x$h, expected ${width}x$height"
  if [ -n "$delivered" ] && [ "${decoded:-0}" -gt 0 ] && [ $((decoded + 30)) -ge "$delivered" ]; then
    pass "$name: $file: $decoded of $delivered frames decode as ${w}x$h $codec"
  else
    fail "$name: $file: ${decoded:-0} of ${delivered:-?} delivered frames decode"
  fi
}

finish() {
  if [ "$IT_FAILED" -eq 0 ]; then echo "RESULT: $IT_NAME passed"; else echo "RESULT: $IT_NAME FAILED"; fi
  exit "$IT_FAILED"
}

# The host's standard device options for a simulated camera: host_device ADDRESS [USER PASSWORD].
host_device() {
  echo "-a $1 -P 80 -u ${2:-service} -w ${3:-camsim} -m Camsim -c 1 -v 3 -p 1=1 -p 2=7.80 -p 3=00-1b-2c-03-04-05 -p 4=0 -p 5=1 -p 6=30"
}

# A network namespace of the test's own whose loopback carries the multicast routes, with a camera
# simulator and a Wine server of its own, so that no multicast leaves the machine:
#   private_namespace CAMERA   (sets ns, control, prefix, in_ns, IT_WRAP; cleans up on exit)
# Wine creates sockets in its server process, so the host needs a Wine server inside the
# namespace, and that needs a prefix of its own.
private_namespace() {
  local cam=$1
  ns=lumivar-ns-$$
  control=127.0.0.1:18080
  prefix=$IT_DIR/wineprefix
  trap private_namespace_cleanup EXIT
  ip netns add "$ns" || { echo "cannot make a network namespace (root needed)"; exit 1; }
  ip netns exec "$ns" ip link set lo up multicast on
  ip netns exec "$ns" ip route add 224.0.0.0/4 dev lo
  # Not through in_ns: a backgrounded function runs in a subshell, and $! would not be the simulator.
  ip netns exec "$ns" /usr/bin/python3 "$IT_SOURCE_DIR/tools/camsim/camsim.py" --control "$control" --only "$cam" \
    --cache-dir "$IT_DIR/camsim-cache" >"$IT_DIR/camsim.log" 2>&1 </dev/null &
  camsim_pid=$!
  for _ in $(seq 1 300); do in_ns curl -s -m 5 "http://$control/health" >/dev/null 2>&1 && break; sleep 0.1; done
  in_ns curl -s -m 5 "http://$control/health" >/dev/null || { cat "$IT_DIR/camsim.log"; fail "camera simulator did not start"; finish; }
  # A prefix of its own, made inside the namespace: a copy of the build's prefix may hold a
  # registry the build's long-lived wineserver has not written to disk yet (no MSXML entries then).
  bash "$IT_SOURCE_DIR/scripts/wine-prefix.sh" "$prefix" ip netns exec "$ns" || fail "cannot make a Wine prefix"
  IT_WRAP=(ip netns exec "$ns" env WINEPREFIX="$prefix")
}
in_ns() { ip netns exec "$ns" "$@"; }
private_namespace_cleanup() {
  it_cleanup
  ip netns exec "$ns" env WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 </dev/null
  [ -n "${camsim_pid:-}" ] && kill -TERM "$camsim_pid" 2>/dev/null
  for _ in $(seq 1 50); do kill -0 "${camsim_pid:-0}" 2>/dev/null || break; sleep 0.1; done
  [ -n "${camsim_pid:-}" ] && kill -KILL "$camsim_pid" 2>/dev/null
  ip netns del "$ns" 2>/dev/null
  return 0
}
