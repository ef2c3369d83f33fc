#!/usr/bin/env bash
# Privacy zones given by the host as the stream option of the recording stream are converted to
# the camera's grid and written with 0x09A5 messages (zone register writes), read back first.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.17
cap="$IT_DIR/capture.h264"
camsim_reset $cam
# Parameter 1 (video standard) "1": a grid of 83 x 54. Zone 0: x 0 w 100 -> left 1, right 84;
# y 0 h 100 -> top 1, bottom 54. Zone 1: 25,50,10,20 -> left t(20.75+.5)+1 = 22,
# top t(26.5+.5)+1 = 28, right t(29.05+.5)+1 = 30, bottom t(37.1+.5)+1 = 38.
# shellcheck disable=SC2046
host_run main 60 $(host_device $cam) live --format h264 --size 640x480 --seconds 4 -o "$cap" \
  --zone 0,0,100,100 --zone 25,50,10,20 || fail "host exit code $?"
check_capture main "$cap" h264 640 480
zones=$(camsim_state $cam 'json.dumps(s["zones"])')
writes=$(camsim_state $cam '"\n".join(e if isinstance(e, str) else json.dumps(e) for e in s["exchanges"])')
echo "camera zones: $zones"
echo "0x09A5 messages: $(wc -l <<<"$writes")"
expected=$(/usr/bin/python3 - "$zones" <<'PY'
import json, sys
zones = json.loads(sys.argv[1])
# The zone messages carry the RCP+ number camera line + 1.
line = zones.get("2") or []
def z(i):
    return line[i] if i < len(line) else {}
want = [{"enabled": 1, "left": 1, "top": 1, "right": 84, "bottom": 54},
        {"enabled": 1, "left": 22, "top": 28, "right": 30, "bottom": 38}]
bad = []
for i, w in enumerate(want):
    got = z(i)
    for k, v in w.items():
        if int(got.get(k, -1)) != v:
            bad.append("zone %d %s=%s (want %d)" % (i, k, got.get(k), v))
for i in (2, 3):
    if int(z(i).get("enabled", 0)):
        bad.append("zone %d enabled" % i)
print("; ".join(bad) or "ok")
PY
)
[ "$expected" = ok ] && pass "zones 1 and 2 written in grid units, zones 3 and 4 untouched" || fail "camera zones: $expected"
finish
