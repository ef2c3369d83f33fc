#!/usr/bin/env bash
# The host-safety matrix: every subsystem of the driver against every hostile condition a
# recorder meets (a camera that is silent from the start, one that vanishes mid-session, a host
# callback that blocks for 3 s, a stop called from inside the host's own callback). Each case is
# one run of the host's safety mode against a camera of its subsystem's own; subsystems run side
# by side, a subsystem's conditions one after another. A case fails when its stop outlasts its
# bound (plus a margin for a loaded machine), when a host callback starts after the stop
# returned, when the host hangs or crashes, or when threads, handles or frames outlive the
# driver. The table lists the real figures.
#   SAFETY_JOBS      subsystems at once (default 6)
#   SAFETY_ONLY      regular expression on "subsystem-condition": run only those cases
#   SAFETY_RESULTS   file the result lines are appended to (the bench collects them)
source "$(dirname "$0")/lib.sh" "$@"
# shellcheck disable=SC2034  # the camera CTest locks for this script; the matrix uses 160-170
cam=127.0.0.160
jobs=${SAFETY_JOBS:-6}
only=${SAFETY_ONLY:-.}
# A stop fails past its bound plus 2 s plus a tenth of the bound: the slack of a loaded 2-core
# machine under Wine. The table shows the real figure, and whether it met the aim of 1 s.
margin() { echo $((2000 + $1 / 10)); }
aim_ms=1000
handle_slack=16 # handles Wine itself keeps after a first use (sockets, WinHTTP, COM)
close_bound_ms=12000
block_ms=3000
results=${SAFETY_RESULTS:-$IT_DIR/results.txt}
: >"$IT_DIR/results.txt"

# subsystem camera bound_ms: the bound a stop of that subsystem is held to.
#   video channels, audio input and the query: twice the 10 s device time-out;
#   audio output: 5000 ms; motion: the device time-out plus 1000 ms; digital I/O and the
#   driver's Close: 12 s. PTZ has no stop of its own for the host: its case measures the halt and
#   the driver's Close, so it is held to the Close bound (the PTZ thread's own 5000 ms wait is
#   inside it, and the PTZ tests hold it to that).
subsystems=(
  "edge 127.0.0.168 20000"
  "close 127.0.0.170 12000"
  "live 127.0.0.160 20000"
  "mjpeg 127.0.0.161 20000"
  "mpeg4 127.0.0.162 20000"
  "audio-in 127.0.0.163 20000"
  "audio-out 127.0.0.164 5000"
  "motion 127.0.0.165 11000"
  "io 127.0.0.166 12000"
  "ptz 127.0.0.167 12000"
  "query 127.0.0.169 20000"
)
conditions=(silent vanish block inside)

all_cams=()
for s in "${subsystems[@]}"; do all_cams+=("$(cut -d' ' -f2 <<<"$s")"); done
release_cameras() {
  local c
  for c in "${all_cams[@]}"; do
    camsim_silent "$c" 0
    camsim_post "/camera/$c/clear_faults" >/dev/null
  done
  rtsp_fault 127.0.0.168 link_up >/dev/null
}
trap 'release_cameras; it_cleanup' EXIT

device_args() {  # SUBSYSTEM CAMERA: the host's device options, one word an element, in $dev
  dev=(-a "$2" -P 80 -u service -w camsim -m Camsim -c 1 -v 3 -p "1=1" -p "2=7.80" -p "3=00-1b-2c-03-04-05" -p "6=30")
  case $1 in
    mjpeg) dev+=(-p "4=0" -p "5=0") ;; # group 0: Motion JPEG is polled as snapshots over HTTP
    ptz) dev+=(-p "4=1" -p "5=1") ;;
    audio-in) dev+=(-p "4=0" -p "5=1" -p "101=Count=1; IsStereo=0") ;;
    audio-out) dev+=(-p "4=0" -p "5=1" -p "102=Count=1;IsStereo=0") ;;
    close) dev+=(-p "4=1" -p "5=1" -p "101=Count=1; IsStereo=0" -p "102=Count=1;IsStereo=0") ;;
    *) dev+=(-p "4=0" -p "5=1") ;;
  esac
}

# What makes a subsystem call its host at all: input and motion changes, and for edge storage a
# link outage whose gap is then replayed.
stimulate() {  # NAME SUBSYSTEM CAMERA
  local name=$1 sub=$2 c=$3 v=1
  case $sub in
    io | motion | close)
      while :; do
        camsim_post "/camera/$c/set" "input=1&value=$v" >/dev/null
        camsim_post "/camera/$c/set" "motion=1&value=$v" >/dev/null
        v=$((1 - v))
        sleep 0.7
      done
      ;;
    edge)
      # The outage must follow received video, or there is no gap to replay.
      wait_line "$name" "^SAFETY_START " 120 >/dev/null || return
      wait_line "$name" "Camera $c is online" 60 >/dev/null
      sleep 2
      rtsp_fault "$c" link_down seconds=8 >/dev/null
      ;;
  esac
}

run_case() {  # SUBSYSTEM CAMERA BOUND CONDITION
  local sub=$1 c=$2 bound=$3 cond=$4 name extra=() stim line code
  name="${sub//-/_}_$cond"
  device_args "$sub" "$c"
  [ "$sub" = edge ] && extra+=(--wait-ms 60000)
  camsim_reset "$c"
  # A query is over in moments: slowed down, its requests are still running when the camera
  # vanishes.
  [ "$sub" = query ] && [ "$cond" = vanish ] && camsim_post "/camera/$c/fault" "kind=delay&ms=1500&count=0" >/dev/null
  local attempt
  for attempt in 1 2; do
    host_start "$name" "${dev[@]}" safety --subsystem "$sub" --condition "$cond" --block-ms $block_ms "${extra[@]}"
    # A Wine process has been seen to hang at its start, before the case began, when many start
    # at once; that is the platform, not the case: it is killed and started once more.
    wait_line "$name" "^SAFETY_(READY|START)" 60 >/dev/null && break
    echo "NOTE: $name: the host did not begin the case within 60 s (attempt $attempt); killed"
    eval "kill -KILL \$IT_PID_$name" 2>/dev/null
    host_wait "$name" 5 >/dev/null
  done
  if [ "$sub" = edge ] && [ "$cond" = silent ]; then
    # Silent when the replay is being set up: after the link came back.
    wait_line "$name" "^SAFETY_READY" 90 >/dev/null && host_cmd "$name" go
    stimulate "$name" "$sub" "$c"
    wait_line "$name" "Processing started" 90 >/dev/null || echo "[$name] no replay began"
    camsim_silent "$c" 1
    host_cmd "$name" go
  else
    stimulate "$name" "$sub" "$c" &
    stim=$!
    case $cond in
      silent)
        wait_line "$name" "^SAFETY_READY" 90 >/dev/null && camsim_silent "$c" 1
        host_cmd "$name" go
        ;;
      vanish)
        wait_line "$name" "^SAFETY_RUNNING" 120 >/dev/null && camsim_silent "$c" 1
        host_cmd "$name" go
        ;;
    esac
  fi
  # The result line comes before the host ends; a host whose process does not end after it
  # (a thread of the driver stuck in the system) is noted and killed, not waited for.
  if wait_line "$name" "^SAFETY subsystem=" 130 >/dev/null; then
    host_wait "$name" 15
    code=$?
    if [ "$code" = 124 ]; then
      echo "NOTE: $name: the host process did not end after its result; killed"
      eval "kill -KILL \$IT_PID_$name" 2>/dev/null
      code=0
    fi
  else
    host_wait "$name" 5
    code=$?
    [ "$code" = 124 ] && eval "kill -KILL \$IT_PID_$name" 2>/dev/null
  fi
  [ -n "${stim:-}" ] && kill "$stim" 2>/dev/null && wait "$stim" 2>/dev/null
  camsim_silent "$c" 0
  camsim_post "/camera/$c/clear_faults" >/dev/null
  [ "$sub" = edge ] && rtsp_fault "$c" link_up >/dev/null
  line=$(host_log "$name" | grep -E "^SAFETY subsystem=" | tail -1)
  judge "$sub" "$cond" "$bound" "$code" "$line" "$name" >>"$IT_DIR/results.txt"
  host_log "$name" | grep -E "^(SAFETY|host: ERROR)" | sed "s/^/[$name] /" >"$IT_DIR/$name.summary"
}

# One result line: case bound measured close late threads handles frames verdict reasons.
judge() {  # SUBSYSTEM CONDITION BOUND EXIT_CODE SAFETY_LINE NAME
  local sub=$1 cond=$2 bound=$3 code=$4 line=$5 name=$6 why=() stop close late tb ta tl hb ha leaked result ex
  [ "$cond" = block ] && bound=$((bound + block_ms))
  # Inside a callback the recorder stops the video channel (the driver's Close follows at once
  # and is held to the Close bound).
  [ "$sub" = close ] && [ "$cond" = inside ] && bound=20000
  if [ -z "$line" ]; then
    if host_log "$name" | grep -E "Unhandled exception|page fault" >/dev/null; then
      echo "$sub-$cond $bound - - - - - - FAIL crash(exception)"
    elif [ "$(line_count "$name")" = 0 ]; then
      echo "$sub-$cond $bound - - - - - - FAIL host-never-started"
    elif [ "$code" = 124 ]; then
      # Not even the host's watchdog thread could report: the whole process is stuck (a thread
      # ended inside a lock of the platform, for one).
      echo "$sub-$cond $bound hang - - - - - FAIL hang(process-frozen)"
    else
      echo "$sub-$cond $bound - - - - - - FAIL crash(exit=$code,no-result-line)"
    fi
    return
  fi
  stop=$(kv "$line" stop_ms) close=$(kv "$line" close_ms) late=$(kv "$line" late)
  tb=$(kv "$line" threads_before) ta=$(kv "$line" threads_after) tl=$(kv "$line" threads_leaked)
  hb=$(kv "$line" handles_before) ha=$(kv "$line" handles_after)
  leaked=$(kv "$line" frames_leaked) result=$(kv "$line" result) ex=$(kv "$line" exercised)
  if [ "$result" = hang ]; then
    echo "$sub-$cond $bound hang - - - - - FAIL hang"
    return
  fi
  if [ "$sub" = ptz ] && [ "$ex" = 0 ]; then
    echo "$sub-$cond $bound $stop $close $late $tb/$ta $hb/$ha $leaked n/a no-host-callbacks"
    return
  fi
  [ "$result" = ok ] || why+=("$result")
  [ "$ex" = 1 ] || why+=(not-exercised)
  [ "$code" = 0 ] || why+=("exit=$code")
  [ "$stop" -ge 0 ] 2>/dev/null && [ "$stop" -le $((bound + $(margin "$bound"))) ] || why+=("stop>${bound}ms")
  [ "$close" -ge 0 ] 2>/dev/null && [ "$close" -le $((close_bound_ms + $(margin $close_bound_ms))) ] ||
    why+=("close>${close_bound_ms}ms")
  [ "$late" = 0 ] || why+=("late=$late")
  # Thread-pool workers of the platform (started in ntdll) linger by design: not a leak.
  [ "$tl" = 0 ] || why+=("threads+$tl")
  [ "$ha" -le $((hb + handle_slack)) ] 2>/dev/null || why+=("handles+$((ha - hb))")
  [ "$leaked" = 0 ] || why+=("frames=$leaked")
  if [ ${#why[@]} -eq 0 ]; then
    echo "$sub-$cond $bound $stop $close $late $tb/$ta $hb/$ha $leaked ok"
  else
    local IFS=,
    echo "$sub-$cond $bound $stop $close $late $tb/$ta $hb/$ha $leaked FAIL ${why[*]}"
  fi
}

run_chain() {  # "SUBSYSTEM CAMERA BOUND"
  local sub c bound cond
  read -r sub c bound <<<"$1"
  for cond in "${conditions[@]}"; do
    [[ "$sub-$cond" =~ $only ]] || continue
    run_case "$sub" "$c" "$bound" "$cond"
  done
}

begin=$(date +%s)
for s in "${subsystems[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
  run_chain "$s" &
done
wait
elapsed=$(($(date +%s) - begin))

cat "$IT_DIR"/*.summary 2>/dev/null
echo
printf '%-20s %8s %9s %4s %9s %5s %11s %11s %7s %s\n' case bound_ms stop_ms aim close_ms late threads handles \
  frames verdict
while read -r c bound stop close late threads handles frames verdict reasons; do
  aim=no
  [ "$stop" -ge 0 ] 2>/dev/null && [ "$stop" -lt $aim_ms ] && aim=yes
  printf '%-20s %8s %9s %4s %9s %5s %11s %11s %7s %s %s\n' "$c" "$bound" "$stop" "$aim" "$close" "$late" "$threads" \
    "$handles" "$frames" "$verdict" "${reasons:-}"
  case $verdict in
    ok) pass "$c" ;;
    n/a) echo "CHECK n/a: $c (${reasons:-})" ;;
    *) fail "$c: ${reasons:-}" ;;
  esac
done < <(sort "$IT_DIR/results.txt")
[ "$results" != "$IT_DIR/results.txt" ] && cat "$IT_DIR/results.txt" >>"$results"
echo "matrix: $(wc -l <"$IT_DIR/results.txt") cases in ${elapsed}s"
finish
