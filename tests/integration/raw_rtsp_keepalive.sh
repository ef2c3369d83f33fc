#!/usr/bin/env bash
# RTP over UDP from a camera that refuses keep-alives inside its session (it enforces a 4 s
# session time-out, so the driver sends one every ~2 s). A camera that refuses OPTIONS but takes
# GET_PARAMETER is kept alive with GET_PARAMETER; a camera that refuses both keeps its session
# while the media arrive. Either way the run is one session on one connection, without gaps.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.90
seconds=12
raw_json() { camsim_get "/camera/$cam/raw_rtsp" >"$IT_DIR/$1.json"; }
count() { /usr/bin/python3 -c "import json; c=json.load(open('$IT_DIR/$1.json'))['counts']; print($2)"; }

# name | faults | the method that must keep the session
cases=(
  "options_refused|session_timeout=4&refuse_options=405|GET_PARAMETER"
  "both_refused|session_timeout=4&refuse_options=403&refuse_get_parameter=501|"
)
for row in "${cases[@]}"; do
  IFS='|' read -r name faults keeper <<<"$row"
  camsim_reset $cam
  rtsp_fault $cam set "$faults" >/dev/null
  # shellcheck disable=SC2046
  host_run "$name" 90 $(host_device $cam) live --format h264 --size 320x240 --seconds $seconds --first-frame-wait 30 \
    -o "$IT_DIR/$name.h264" || fail "$name: host exit code $?"
  expect_line "$name" "^LIVE channel=0 stream=0 frames=[1-9][0-9]+ .*size=320x240 .*bad=0" "$name: frames arrive"
  check_capture "$name" "$IT_DIR/$name.h264" h264 320 240
  frames=$(field "$name" "^LIVE channel=0 stream=0 " frames)
  [ "${frames:-0}" -ge $(((seconds - 4) * 25)) ] && pass "$name: $frames frames in $seconds s: no gap" ||
    fail "$name: only ${frames:-0} frames in $seconds s at 25 fps"
  raw_json "$name"
  echo "$name: camera counts: $(count "$name" "{k: v for k, v in c.items() if k != 'rejections'}")"
  plays=$(count "$name" "c['plays']")
  [ "$plays" -eq 1 ] && pass "$name: one session for the whole run" || fail "$name: $plays sessions (PLAYs)"
  [ "$(count "$name" "c['sessions_expired']")" -eq 0 ] && pass "$name: the session never timed out" ||
    fail "$name: the camera ended the session"
  refusals=$(count "$name" "sum(c['refusals'].values())")
  [ "$refusals" -ge 1 ] && pass "$name: $refusals keep-alives refused" || fail "$name: no keep-alive was refused"
  if [ -n "$keeper" ]; then
    kept=$(count "$name" "c['methods'].get('$keeper', 0) - sum(v for k, v in c['refusals'].items() if k.startswith('$keeper '))")
    [ "$kept" -ge $((seconds / 2 - 2)) ] && pass "$name: $kept keep-alives by $keeper answered" ||
      fail "$name: only $kept keep-alives by $keeper answered"
    reject_line "$name" "refuses the keep-alives" "$name: no refusal logged while a keep-alive works"
  else
    expect_line "$name" "^LOG level=3 .*Device $cam:80 refuses the keep-alives OPTIONS \(403\) and GET_PARAMETER \(501\)" \
      "$name: the refusal of both is logged"
    n=$(host_log "$name" | grep -c "refuses the keep-alives")
    [ "$n" -eq 1 ] && pass "$name: logged once" || fail "$name: logged $n times"
  fi
done
camsim_reset $cam
finish
