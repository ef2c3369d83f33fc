#!/usr/bin/env bash
# Three streams of three sizes at once: recording and remote stream of input 1 and the
# recording stream of input 2. Each RTSP request must select the encoder that was configured
# for that stream, so each capture decodes at its own size.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.93
cap="$IT_DIR/capture.h264"
camsim_reset $cam
host_run main 90 -a $cam -P 80 -u service -w camsim -m "Camsim Dual Line" -c 2 -v 3 \
  -p 1=1 -p 2=7.80 -p 3=00-1b-2c-03-04-05 -p 4=0 -p 5=1 -p 6=30 \
  live --format h264 --seconds 5 -o "$cap" \
  --stream 0:0@640x480 --stream 0:2@320x240 --stream 1:0@352x288 || fail "host exit code $?"
reject_line main "ERROR" "no host errors"
check_capture main "$IT_DIR/capture-c0s0.h264" h264 640 480
check_capture main "$IT_DIR/capture-c0s2.h264" h264 320 240
check_capture main "$IT_DIR/capture-c1s0.h264" h264 352 288
finish
