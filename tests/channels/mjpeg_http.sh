#!/usr/bin/env bash
# Motion JPEG of a camera of group 0 (host parameter 5 "0") is polled as snapshots: each size
# class gives pictures ffmpeg decodes at the class's size, at the requested pace; a camera that
# stops answering is declared lost after the frame-rate code's time, asked again only every 5 s,
# and found back; privacy zones are brought in line at the start of every polling pass.
source "$(dirname "$0")/../integration/lib.sh" "$@"
cam=127.0.0.74
dev="-a $cam -P 80 -u service -w camsim -m Camsim -c 1 -v 1 -p 1=0 -p 2=4.10 -p 3=00-04-63-00-10-20 -p 4=0 -p 5=0"
now() { date +%s.%N; }
# snaps [FROM]: "time status target" of the camera's snapshot requests, from a time on.
snaps() {
  camsim_get "/camera/$cam/requests" | /usr/bin/python3 -c '
import json, sys
since = float(sys.argv[1])
for r in json.load(sys.stdin):
    if r["target"].startswith("/snap.jpg") and r["time"] >= since:
        print("%.3f %s %s" % (r["time"], r["status"], r["target"]))' "${1:-0}"
}

# ---- size classes, quality and pace ----
for c in "S 176x144 176 144" "M 352x288 352 288" "L 640x240 704 288" "XL 704x576 704 576"; do
  read -r cls size w h <<<"$c"
  camsim_reset $cam
  cap="$IT_DIR/snap_$cls.mjpeg"
  # shellcheck disable=SC2086
  host_run "size_$cls" 40 $dev live --format mjpeg --size "$size" --frame-code 200 --quality 30 --seconds 4 \
    -o "$cap" || fail "size $cls: host exit code $?"
  check_capture "size_$cls" "$cap" mjpeg "$w" "$h"
  others=$(snaps | awk '{print $3}' | grep -cv "^/snap.jpg?JpegSize=$cls&JpegCam=1&JpegQuality=70$")
  [ "$others" -eq 0 ] && pass "size $cls: every request asks for class $cls, camera 1, quality 70" ||
    fail "size $cls: $others requests of another form: $(snaps | head -3)"
  gap=$(snaps | awk 'NR > 1 { print ($1 - prev) * 1000 } { prev = $1 }' | sort -n | awk '{ a[NR] = $1 } END { print int(a[int((NR + 1) / 2)]) }')
  [ "${gap:-0}" -ge 170 ] && [ "${gap:-0}" -le 280 ] && pass "size $cls: a picture every $gap ms (code 200)" ||
    fail "size $cls: median gap ${gap:-?} ms between pictures, expected about 200"
done

# ---- loss after the frame-rate code's time, the wait after it, and recovery ----
camsim_reset $cam
# shellcheck disable=SC2086
host_start loss $dev live --format mjpeg --size 352x288 --frame-code 2000 --seconds 60 -o "$IT_DIR/loss.mjpeg"
wait_line loss "^FIRST_FRAME" 20 >/dev/null || fail "no first picture"
sleep 1
camsim_get "/camera/$cam/fault" "kind=status&status=500&match=snap.jpg&count=0" >/dev/null
from=$(line_count loss)
if wait_line loss "^SIGNAL_LOST channel=0 stream=0 count=1$" 15 "$from" >/dev/null; then
  lost=$(now)
  good=$(snaps | awk '$2 == 200 { t = $1 } END { print t }')
  delay=$(awk -v a="$lost" -v b="$good" 'BEGIN { printf "%d", (a - b) * 1000 }')
  [ "$delay" -ge 1900 ] && [ "$delay" -le 3600 ] && pass "loss declared $delay ms after the last picture (code 2000)" ||
    fail "loss declared $delay ms after the last picture, expected 2000 to about 3000"
else
  fail "no signal loss after the camera stopped answering"
fi
sleep 11
gaps=$(snaps "$lost" | awk 'NR > 1 { printf "%d ", ($1 - prev) * 1000 } { prev = $1 }')
echo "requests after the loss, ms apart: $gaps"
short=$(for g in $gaps; do [ "$g" -lt 4800 ] && echo "$g"; done | wc -l)
[ -n "$gaps" ] && [ "$short" -eq 0 ] && pass "a lost camera is asked only every 5 s" ||
  fail "a lost camera was asked again sooner than 5 s ($gaps)"
camsim_get "/camera/$cam/clear_faults" >/dev/null
cleared=$(now)
back=$(line_count loss)
if wait_line loss "^STATE channel=0 state=0$" 10 "$back" >/dev/null; then
  took=$(awk -v a="$(now)" -v b="$cleared" 'BEGIN { printf "%d", (a - b) * 1000 }')
  [ "$took" -le 7500 ] && pass "pictures again $took ms after the camera answered again" ||
    fail "recovery took $took ms, more than the 5 s wait"
else
  fail "no recovery after the camera answered again"
fi
wait_line loss "^LOG level=3 .*Camera 127\.0\.0\.74 is online" 10 "$back" >/dev/null && pass "online message after recovery" ||
  fail "no online message after recovery"
host_cmd loss quit
host_wait loss 30 || fail "loss: host exit code $?"
check_capture loss "$IT_DIR/loss.mjpeg" mjpeg 352 288

# ---- privacy zones, applied at the start of each pass ----
camsim_reset $cam
zone0() { camsim_state $cam 'json.dumps(s["zones"].get("2", [{}])[0], sort_keys=True)'; }
exchanges() { camsim_state $cam 'len(s["exchanges"])'; }
# shellcheck disable=SC2086
host_start zones $dev live --format mjpeg --size 352x288 --frame-code 200 --seconds 60 --zone 0,0,100,100 \
  -o "$IT_DIR/zones.mjpeg"
wait_line zones "^FIRST_FRAME" 20 >/dev/null || fail "zones: no first picture"
want='{"bottom": 58, "enabled": 1, "left": 1, "right": 84, "top": 1}'
[ "$(zone0)" = "$want" ] && pass "the zone is on the camera before the first picture" || fail "zone 0 is $(zone0)"
n1=$(exchanges)
sleep 1.5
[ "$(exchanges)" -eq "$n1" ] && pass "no zone traffic while a pass goes on" || fail "zone traffic inside a pass"
# The camera loses the zone; a refused picture ends the pass and the next one restores it.
curl -s -m 5 -u service:camsim "http://$cam/rcp.xml?command=0x09A5&type=P_OCTET&direction=WRITE&num=2&payload=0x8100040300030000" >/dev/null
[ "$(zone0 | grep -c '"enabled": 0')" -eq 1 ] || fail "could not clear the camera's zone"
camsim_get "/camera/$cam/fault" "kind=status&status=503&match=snap.jpg&count=1" >/dev/null
for _ in $(seq 1 30); do [ "$(zone0)" = "$want" ] && break; sleep 0.2; done
[ "$(zone0)" = "$want" ] && pass "the next pass wrote the zone again" || fail "zone 0 after the next pass: $(zone0)"
host_cmd zones quit
host_wait zones 30 || fail "zones: host exit code $?"
finish
