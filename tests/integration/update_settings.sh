#!/usr/bin/env bash
# UpdateChannelSettings on a running recording stream: the new size and frame rate are written
# to the camera over RCP+, and the stream the host receives changes to the new picture size and
# about the new rate.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.16
cap="$IT_DIR/capture.h264"
camsim_reset $cam
# shellcheck disable=SC2046
host_start main $(host_device $cam) live --format h264 --size 640x480 --fps 25 --seconds 90 -o "$cap"
wait_line main "^STATS .* size=640x480 " 30 >/dev/null || fail "no 640x480 frames at first"
before=$(line_count main)
host_cmd main "update 0 1280 720 12"
wait_line main "^CMD update channel=0 size=1280x720 fps=12 result=true$" 10 "$before" >/dev/null &&
  pass "UpdateChannelSettings accepted" || fail "UpdateChannelSettings refused"
changed=$(wait_line main "^STATS .* size=1280x720 " 45 "$before") && pass "the host receives 1280x720 now" ||
  fail "the picture size did not change"
# Camera "Max Frame Rate" 30 (parameter 6) over 12 frames per second: skip ratio 2.
for expect in "0x0608 12" "0x0606 2" "0x0604 12"; do
  set -- $expect
  v=$(camsim_get "/camera/$cam/value" "command=$1&num=1")
  [ "$v" = "$2" ] && pass "$1 = $2 written" || fail "$1 holds '$v', expected $2"
done
if [ -n "${changed:-}" ]; then
  # Two whole seconds at the new rate: 30 / 2 = 15 frames per second.
  wait_line main "^STATS .*" 5 $((changed + 2)) >/dev/null
  rate=$(host_log main | awk -v from=$((changed + 2)) 'NR > from && /^STATS / { for (i = 1; i <= NF; i++) if ($i ~ /^frames=/) { split($i, a, "="); print a[2]; exit } }')
  [ -n "$rate" ] && [ "$rate" -ge 10 ] && [ "$rate" -le 20 ] && pass "about 15 frames per second after the change ($rate)" ||
    fail "frame rate after the change: '${rate:-none}' per second, expected about 15"
fi
host_cmd main quit
host_wait main 60 || fail "host exit code $?"
show_log main
# Both sizes are in the capture and decode.
sizes=$(ffprobe -v error -f h264 -show_entries frame=width,height -of csv=p=0 "$cap" </dev/null 2>/dev/null | sort | uniq -c)
echo "decoded frame sizes: $(echo $sizes)"
grep -q "640,480" <<<"$sizes" && grep -q "1280,720" <<<"$sizes" && pass "the capture decodes at both sizes" ||
  fail "the capture does not decode at 640x480 and 1280x720"
expect_line main "^LIVE channel=0 stream=0 .*bad=0" "no bad frames"
finish
