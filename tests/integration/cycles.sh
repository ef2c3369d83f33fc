#!/usr/bin/env bash
# 200 start/stop cycles of a channel leave no threads, handles or memory behind: the host
# compares its own thread count, handle count and private bytes before, halfway and after.
# Interleaved transport keeps each cycle short (no quiet-port wait).
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.20
cycles=${CYCLES:-200}
write_interleaved_config
# Every other cycle would do as well; waiting for a frame each time proves each cycle really
# streamed before it was stopped.
# shellcheck disable=SC2046
host_run main 600 $(host_device $cam) cycles --format h264 --size 320x240 --cycles "$cycles" --cycle-wait 5000 ||
  fail "host exit code $?"
expect_line main "^CYCLES OK" "no threads, handles or private bytes left behind"
expect_line main "^SUMMARY: OK" "every frame released"
# Every stop here is the host's own: the driver may only call it a stop, never a failure.
expect_line main "is offline\. Channel was stopped" "stops are announced as stops"
reject_line main "is offline or failed" "no stop reported as a failure"
finish
