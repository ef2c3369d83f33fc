#!/usr/bin/env bash
# Alarm inputs and relays through the host's I/O object: the counts the camera describes, every
# input reported after the start and each change within one poll, relays off at start and
# switched once per change, a refused relay reported to the host, and a bounded stop while the
# camera hangs.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.53
camsim_reset $cam
trap 'camsim_reset $cam; it_cleanup' EXIT
camsim_post "/camera/$cam/set" "input=2&value=1" >/dev/null
# shellcheck disable=SC2046
host_start main $(host_device $cam) io --seconds 60
wait_line main "^IO inputs=2 outputs=1$" 20 >/dev/null && pass "counts from the camera's I/O description" ||
  fail "no I/O counts line"
wait_line main "^IO_START result=true$" 20 >/dev/null || fail "StartIO failed"
wait_line main "^INPUT input=0 state=1 " 10 >/dev/null && pass "input 1 reported inactive" || fail "input 1 not reported"
wait_line main "^INPUT input=1 state=2 " 10 >/dev/null && pass "input 2 reported active" || fail "input 2 not reported"

mark=$(line_count main)
camsim_post "/camera/$cam/set" "input=1&value=1" >/dev/null
sleep 0.1
changed=$(date +%s%N)
wait_line main "^INPUT input=0 state=2 " 5 "$mark" >/dev/null && pass "a change reaches the host" ||
  fail "the change of input 1 was not reported"
waited=$((($(date +%s%N) - changed) / 1000000))
# One poll period plus the requests of the poll itself.
[ "$waited" -le 3500 ] && pass "within one poll ($waited ms)" || fail "the change took $waited ms"

host_cmd main "set 0 2"
host_cmd main "set 0 2"
host_cmd main "set 0 1"
wait_line main "^CMD set output=0 state=1 result=true$" 10 >/dev/null || fail "set commands not run"
sleep 1
log=$(camsim_state $cam "[o['value'] for o in s['output_log']]")
[ "$log" = "[0, 1, 0]" ] && pass "relay off at start, on, off: once per change" || fail "relay writes $log"

camsim_post "/camera/$cam/set" "rcp_error=0x01C1&code=10" >/dev/null
host_cmd main "set 0 2"
host_cmd main "set 0 2"
wait_line main "^IO_FAILED count=2$" 10 >/dev/null && pass "every refused switch is reported" ||
  fail "refused switches not reported twice"
camsim_post "/camera/$cam/clear_faults" >/dev/null

camsim_post "/camera/$cam/fault" "kind=delay&ms=30000&count=0&match=0x01C0" >/dev/null
sleep 3
host_cmd main quit
host_wait main 40 || fail "host exit code $?"
show_log main
stop_ms=$(field main "^IO_STOP " ms)
[ -n "$stop_ms" ] && [ "$stop_ms" -lt 10000 ] && pass "stop during a hanging input read took $stop_ms ms" ||
  fail "stop took ${stop_ms:-?} ms"
expect_line main "^LOG level=2 .*Unable to change output state for device 127\.0\.0\.53:80 \(output index 0\)" \
  "the refused relay is logged"
n=$(host_log main | grep -c "Unable to change output state")
[ "$n" -eq 1 ] && pass "logged once for the run" || fail "logged $n times"
finish
