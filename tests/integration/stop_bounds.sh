#!/usr/bin/env bash
# StopChannel returns within its bound (twice the request time-out, 10 s after open) both while
# the channel is still connecting to a camera that does not answer and while a connected
# camera hangs.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.18
bound_ms=21000  # 2 x 10000 ms plus scheduling slack under Wine
trap 'camsim_post /camera/$cam/clear_faults >/dev/null; rtsp_fault $cam accept >/dev/null; it_cleanup' EXIT

check_stop() {  # NAME WHAT
  local ms
  ms=$(field "$1" "^STOP channel=0 stream=all" ms)
  if [ -n "$ms" ] && [ "$ms" -le "$bound_ms" ]; then
    pass "$2: StopChannel returned after $ms ms"
  else
    fail "$2: StopChannel took ${ms:-forever} ms (bound $bound_ms)"
  fi
  # Within the bound is not enough: a thread that had to be terminated may have held a lock.
  reject_line "$1" "will be terminated" "$2: no thread had to be terminated"
}

# 1. Every HTTP request of the camera hangs: the channel is stuck in its RCP+ set-up.
camsim_post "/camera/$cam/fault" "kind=delay&ms=60000&count=0" >/dev/null
# shellcheck disable=SC2046
host_run connecting 90 $(host_device $cam) live --format h264 --size 640x480 --seconds 2 --allow-no-frames ||
  fail "host exit code $?"
check_stop connecting "while connecting"
camsim_post "/camera/$cam/clear_faults" >/dev/null

# 2. Receiving, then the camera hangs: RTSP answers nothing, HTTP hangs, media stop.
# shellcheck disable=SC2046
host_start hanging $(host_device $cam) live --format h264 --size 640x480 --seconds 90 --allow-no-frames
if wait_line hanging "^STATE channel=0 state=0$" 30 >/dev/null; then
  camsim_post "/camera/$cam/fault" "kind=delay&ms=60000&count=0" >/dev/null
  rtsp_fault $cam stop_sending >/dev/null
  rtsp_fault $cam freeze seconds=25 >/dev/null
  host_cmd hanging "mark camera hangs"
  host_cmd hanging quit
  host_wait hanging 60 || fail "host exit code $?"
  show_log hanging
  check_stop hanging "while the camera hangs"
else
  show_log hanging
  fail "no first frame before the hang"
fi
rtsp_fault $cam resume_sending >/dev/null
finish
