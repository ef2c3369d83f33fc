#!/usr/bin/env bash
# 200 open/close cycles of an audio output channel, each running and sending once, leave no
# threads, handles or private bytes behind.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.32
cycles=${CYCLES:-200}
# shellcheck disable=SC2046
host_run main 800 $(host_device $cam) -p "102=Count=1;IsStereo=0" cycles --audio-out --cycles "$cycles" \
  --cycle-wait 5000 || fail "host exit code $?"
expect_line main "^AUDIO_CYCLES OK" "no threads, handles or private bytes left behind"
expect_line main "^SUMMARY: OK" "every frame released"
finish
