#!/usr/bin/env bash
# A PTZ head behind a camera that stops answering: the host's commands keep returning at once,
# the driver's Close sends none of the queued Pelco-D stops to the silent camera, and it is
# bounded: the channel is aborted at once; a request the platform only ends at its time-out
# (WinHTTP under Wine) is waited for by the driver, never cut off under a running thread.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.60
camsim_reset $cam
trap 'camsim_reset $cam; it_cleanup' EXIT
device="-a $cam -P 80 -u service -w camsim -m Camsim -c 1 -v 3 -p 1=1 -p 2=7.80 -p 3=00-1b-2c-00-01-60 -p 4=1"
rm -f "$IT_DIR"/Bosch_001b2c000160.preset
# shellcheck disable=SC2086
host_start main $device ptz --seconds 60
host_cmd main "configured = 1"
wait_line main "^ptz: configured = 1 -> 1" 20 >/dev/null || fail "PTZ not configured"
camsim_post "/camera/$cam/fault" "kind=delay&ms=30000&count=0&match=0xFFDD" >/dev/null
for c in "move left 16 = 1" "wait 300" "stop = 1" "move right 16 = 1" "stop = 1" "quit"; do host_cmd main "$c"; done
host_wait main 60 || fail "host exit code $?"
show_log main
close_ms=$(field main "^close: done" ms)
[ -n "$close_ms" ] && [ "$close_ms" -lt 13000 ] && pass "driver Close with a PTZ request in flight took $close_ms ms" ||
  fail "driver Close took ${close_ms:-?} ms"
camsim_post "/camera/$cam/clear_faults" >/dev/null
sleep 2
frames=$(camsim_get "/camera/$cam/ptz.txt")
n=$(grep -c "stop" <<<"$frames")
[ "$n" -eq 0 ] && pass "no stop frame reached the camera after Close" || fail "$n stop frames after Close"
finish
