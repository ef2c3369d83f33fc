#!/usr/bin/env bash
# Host safety of the alarm I/O and motion objects, as an integrator's host sees it: a host
# callback that blocks for 3 s is waited out by the stop and none starts after it returned; a
# StopIO made from inside the host's own I/O callback returns at once (false) and ends delivery.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.53
camsim_reset $cam
trap 'camsim_reset $cam; it_cleanup' EXIT
camsim_post "/camera/$cam/set" "input=2&value=1" >/dev/null
camsim_post "/camera/$cam/set" "motion=1&value=1" >/dev/null

# shellcheck disable=SC2046
host_start block $(host_device $cam) io --seconds 60 --block-callback 3000
wait_line block "^INPUT input=0 " 20 >/dev/null || fail "no input reported"
host_cmd block quit
host_wait block 40 || fail "host exit code $?"
show_log block
stop_ms=$(field block "^IO_STOP " ms)
# One callback in flight (3 s) plus the stop's own bound.
[ -n "$stop_ms" ] && [ "$stop_ms" -lt 13000 ] && pass "StopIO with a blocking callback took $stop_ms ms" ||
  fail "StopIO took ${stop_ms:-?} ms"
expect_line block "^IO_LATE late=0$" "no I/O callback after StopIO returned"

# shellcheck disable=SC2046
host_start inside $(host_device $cam) io --seconds 60 --stop-in-callback
wait_line inside "^IO_STOP_IN_CALLBACK " 20 >/dev/null || fail "the callback did not stop"
sleep 3
host_cmd inside quit
host_wait inside 40 || true
show_log inside
expect_line inside "^IO_STOP_IN_CALLBACK result=false ms=" "StopIO from inside the callback returns false"
inside_ms=$(field inside "^IO_STOP_IN_CALLBACK " ms)
[ -n "$inside_ms" ] && [ "$inside_ms" -lt 2000 ] && pass "and at once ($inside_ms ms)" || fail "it took ${inside_ms:-?} ms"
n=$(host_log inside | grep -c "^INPUT ")
[ "$n" -eq 1 ] && pass "no input reported after the stop from inside" || fail "$n inputs reported"
expect_line inside "^IO_LATE late=0$" "no I/O callback after the stop"
expect_line inside "^IO_STOP result=" "the host's own StopIO afterwards returns"

# shellcheck disable=SC2046
host_start motion $(host_device $cam) motion --format h264 --size 640x480 --seconds 60 --block-callback 3000
wait_line motion "^MOTION channel=0 state=0 " 30 >/dev/null || fail "no motion frame"
host_cmd motion quit
host_wait motion 60 || fail "host exit code $?"
show_log motion
stop_ms=$(field motion "^STOP channel=0 " ms)
[ -n "$stop_ms" ] && [ "$stop_ms" -lt 15000 ] && pass "StopChannel with a blocking motion callback took $stop_ms ms" ||
  fail "StopChannel took ${stop_ms:-?} ms"
expect_line motion "^MOTION_LATE channel=0 late=0$" "no motion frame after StopChannel returned"
finish
