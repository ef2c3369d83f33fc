#!/usr/bin/env bash
# A recorder that starts before its camera: StartIO succeeds at once although the camera answers
# nothing yet, the host hears "I/O failed" while it boots, and once it answers (15 s later) every
# input is reported and the relay switched off, without a restart; the stop stays bounded.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.53
camsim_reset $cam
trap 'camsim_reset $cam; it_cleanup' EXIT
camsim_post "/camera/$cam/set" "input=2&value=1" >/dev/null
camsim_post "/camera/$cam/fault" "kind=asleep&seconds=15" >/dev/null
asleep=$(date +%s%N)
# shellcheck disable=SC2046
host_start main $(host_device $cam) io --seconds 40
wait_line main "^IO_START result=true$" 20 >/dev/null && pass "StartIO succeeds while the camera boots" ||
  fail "StartIO failed against a booting camera"
wait_line main "^IO_FAILED count=1$" 20 >/dev/null && pass "the host hears that I/O does not work yet" ||
  fail "no I/O failure reported while the camera boots"
wait_line main "^INPUT input=1 state=2 " 40 >/dev/null && pass "input 2 reported once the camera answers" ||
  fail "input 2 never reported"
woke=$((($(date +%s%N) - asleep) / 1000000))
[ "$woke" -ge 14000 ] && pass "first input after the camera woke ($woke ms)" || fail "input reported after $woke ms"
expect_line main "^INPUT input=0 state=1 " "input 1 reported inactive"
sleep 2
log=$(camsim_state $cam "[o['value'] for o in s['output_log']]")
[ "$log" = "[0]" ] && pass "the relay is switched off once known" || fail "relay writes $log"
host_cmd main "set 0 2"
wait_line main "^CMD set output=0 state=2 result=true$" 10 >/dev/null && pass "the relay is switchable" ||
  fail "the relay cannot be switched"
sleep 1
log=$(camsim_state $cam "[o['value'] for o in s['output_log']]")
[ "$log" = "[0, 1]" ] && pass "relay on" || fail "relay writes $log"
host_cmd main quit
host_wait main 40 || fail "host exit code $?"
show_log main
stop_ms=$(field main "^IO_STOP " ms)
[ -n "$stop_ms" ] && [ "$stop_ms" -lt 10000 ] && pass "stop took $stop_ms ms" || fail "stop took ${stop_ms:-?} ms"
n=$(host_log main | grep -c "I/O description of device .* could not be read")
[ "$n" -eq 1 ] && pass "the late camera is logged once" || fail "logged $n times"
finish
