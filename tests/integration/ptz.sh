#!/usr/bin/env bash
# PTZ through the host's own vtables: the driver's PTZ driver hands out a control, moves and
# presets reach the camera's head as Pelco-D frames that the simulator decodes, and the preset
# file written in the host directory brings the presets back after a driver restart.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.60
camsim_reset $cam
device="-a $cam -P 80 -u service -w camsim -m Camsim -c 1 -v 3 -p 1=1 -p 2=7.80 -p 3=00-1b-2c-00-00-60 -p 4=1"
rm -f "$IT_DIR"/Bosch_*.preset
# shellcheck disable=SC2086
host_start first $device ptz --seconds 60
for c in "configured = 1" "info = 1" "move up-left 16 = 1" "move down 8 = 1" "zoomin 16 = 1" "wait 500" \
  "stop = 1" "focusfar 16 = 1" "irisclose 16 = 1" "wait 500" "add Door = 1" "add <bad> = -3" "move right 16 = 1" \
  "wait 300" "add Yard = 1" "goto Door = 1" "goto Nowhere = -23" "count = 2" "wait 500" "quit"; do
  host_cmd first "$c"
done
host_wait first 60 || fail "first host exit code $?"
show_log first
frames=$(camsim_get "/camera/$cam/ptz.txt")
echo "$frames" | sed 's/^/[head] /'
for want in "pelco-d move pan=left pan_speed=63 tilt=up tilt_speed=63" "pelco-d move tilt=down tilt_speed=31" \
  "pelco-d move zoom=tele" "pelco-d stop" "pelco-d focus_mode mode=manual" "pelco-d move focus=far" \
  "pelco-d move iris=close" "pelco-d store_preset preset=1" "pelco-d store_preset preset=2" \
  "pelco-d goto_preset preset=1"; do
  grep -qxF "$want" <<<"$frames" && pass "head: $want" || fail "head never got: $want"
done
[ "$(grep -cxF 'pelco-d stop' <<<"$frames")" -eq 4 ] && pass "stop repeated four times" || fail "stop count"
[ -s "$IT_DIR/Bosch_001b2c000060.preset" ] && pass "preset file in the host directory" || fail "no preset file"

# shellcheck disable=SC2086
host_start second $device ptz --seconds 60
for c in "count = 2" "name 0 = 1" "name 1 = 1" "remove Door = 1" "count = 1" "quit"; do host_cmd second "$c"; done
host_wait second 60 || fail "second host exit code $?"
show_log second
expect_line second 'ptz: name 1 = 1 -> 1 "Yard"' "presets back after the restart"
grep -qxF "pelco-d clear_preset preset=1" <<<"$(camsim_get "/camera/$cam/ptz.txt")" && pass "cleared on the head" ||
  fail "clear never reached the head"
finish
