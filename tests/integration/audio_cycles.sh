#!/usr/bin/env bash
# 200 open/close cycles of an audio input channel leave no threads, handles or memory behind;
# each cycle waits for a frame, so each one really streamed before it was closed.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.40
cycles=${CYCLES:-200}
camsim_reset $cam
# shellcheck disable=SC2046
host_run main 900 $(host_device $cam) -p "101=Count=1; IsStereo=0" cycles --audio --cycles "$cycles" \
  --cycle-wait 5000 || fail "host exit code $?"
expect_line main "^CYCLES OK" "no threads, handles or private bytes left behind"
expect_line main "^SUMMARY: OK" "every frame released"
reject_line main "level=1 " "no errors logged"
finish
