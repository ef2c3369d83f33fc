#!/usr/bin/env bash
# A two-input video server: streams 0, 1 and 2 of input 1 and stream 0 of input 2 at once. Each
# arrives decodable, and the second input is set up on its own camera line and coder.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.15
cap="$IT_DIR/capture.h264"
host_run main 90 -a $cam -P 80 -u service -w camsim -m "Camsim Encoder 4" -c 2 -v 3 \
  -p 1=1 -p 2=7.80 -p 3=00-1b-2c-03-04-05 -p 4=0 -p 5=1 -p 6=30 \
  live --format h264 --size 640x480 --seconds 6 -o "$cap" \
  --stream 0:0 --stream 0:1 --stream 0:2 --stream 1:0 || fail "host exit code $?"
for s in c0s0 c0s1 c0s2 c1s0; do
  ch=${s:1:1} idx=${s:3:1}
  expect_line main "^LIVE channel=$ch stream=$idx frames=[1-9][0-9]* .*size=640x480 .*bad=0" \
    "input $ch stream $idx delivers 640x480 frames"
  check_capture main "$IT_DIR/capture-$s.h264" h264 640 480
done
expect_line main "^LOG level=3 .*Video-server 127\.0\.0\.15 \(channel 1\) is online \(Rec\)" \
  "the second input names itself as a video-server channel"
reject_line main "ERROR" "no host errors"
# Coders: input 1 stream 0 is coder 1, its other streams coder 2; input 2 stream 0 is coder 3.
for num in 1 2 3; do
  v=$(camsim_get "/camera/$cam/value" "command=0x0608&num=$num")
  [ "$v" = 7 ] && pass "coder $num set to 640x480" || fail "coder $num: 0x0608 holds '$v'"
done
finish
