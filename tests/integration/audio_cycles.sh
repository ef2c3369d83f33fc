#!/usr/bin/env bash
# Open/close cycles of an audio input channel leave no threads, handles or memory behind: 60
# cycles that each wait for a frame (so each one really streamed before it was closed), then 140
# that close at once (the close racing the session's set-up). A streaming cycle costs about a
# second (the first half-second frame), so only the shorter part streams; each part compares its
# own figures at its start, middle and end.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.40
streaming=${CYCLES:-60}
immediate=${IMMEDIATE_CYCLES:-140}
camsim_reset $cam
# shellcheck disable=SC2046
host_run streaming 600 $(host_device $cam) -p "101=Count=1; IsStereo=0" cycles --audio --cycles "$streaming" \
  --cycle-wait 5000 || fail "streaming: host exit code $?"
expect_line streaming "^CYCLES OK" "streaming: no threads, handles or private bytes left behind"
expect_line streaming "^SUMMARY: OK" "streaming: every frame released"
reject_line streaming "level=1 " "streaming: no errors logged"
# shellcheck disable=SC2046
host_run immediate 600 $(host_device $cam) -p "101=Count=1; IsStereo=0" cycles --audio --cycles "$immediate" \
  --cycle-wait 0 || fail "immediate: host exit code $?"
expect_line immediate "^CYCLES OK" "immediate: no threads, handles or private bytes left behind"
expect_line immediate "^SUMMARY: OK" "immediate: every frame released"
# A channel closed before its first frame is logged as a lost signal (level 1) today; that line
# is left to the audio channel's own tests, every other error still fails here.
n=$(host_log immediate | grep "level=1 " | grep -vc "Audio signal was lost")
[ "$n" -eq 0 ] && pass "immediate: no other errors logged" || fail "immediate: $n other error lines"
finish
