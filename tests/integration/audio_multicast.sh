#!/usr/bin/env bash
# Camera audio over multicast: the session asks for the multicast stream, the channel joins the
# camera's group and stays running; other receivers coming and going (RTCP BYE on the group)
# must not make it reconnect. Runs in a network namespace of its own with a simulator of its own
# (as the video multicast test), so no multicast leaves the machine.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.40
ns=lumivar-amcast-$$
control=127.0.0.1:18080
prefix=$IT_DIR/wineprefix
cleanup_ns() {
  it_cleanup
  ip netns exec "$ns" env WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 </dev/null
  [ -n "${camsim_pid:-}" ] && kill -TERM "$camsim_pid" 2>/dev/null
  for _ in $(seq 1 50); do kill -0 "${camsim_pid:-0}" 2>/dev/null || break; sleep 0.1; done
  [ -n "${camsim_pid:-}" ] && kill -KILL "$camsim_pid" 2>/dev/null
  ip netns del "$ns" 2>/dev/null
  return 0
}
trap cleanup_ns EXIT
ip netns add "$ns" || { echo "cannot make a network namespace (root needed)"; exit 1; }
ip netns exec "$ns" ip link set lo up multicast on
ip netns exec "$ns" ip route add 224.0.0.0/4 dev lo
in_ns() { ip netns exec "$ns" "$@"; }
ip netns exec "$ns" /usr/bin/python3 "$IT_SOURCE_DIR/tools/camsim/camsim.py" --control "$control" --only "$cam" \
  --cache-dir "$IT_DIR/camsim-cache" >"$IT_DIR/camsim.log" 2>&1 </dev/null &
camsim_pid=$!
for _ in $(seq 1 300); do in_ns curl -s -m 5 "http://$control/health" >/dev/null 2>&1 && break; sleep 0.1; done
in_ns curl -s -m 5 "http://$control/health" >/dev/null || { cat "$IT_DIR/camsim.log"; fail "simulator did not start"; finish; }
in_ns env WINEPREFIX="$prefix" WINEDEBUG=-all wineboot -i >/dev/null 2>&1 </dev/null || fail "cannot make a Wine prefix"
in_ns env WINEPREFIX="$prefix" WINEDEBUG=-all sh -c 'wineserver -p; wine cmd /c exit' >/dev/null 2>&1 </dev/null
IT_WRAP=(ip netns exec "$ns" env WINEPREFIX="$prefix")
write_config <<XML
<?xml version="1.0"?>
<Configuration>
  <StreamingMode>Multicast Primary</StreamingMode>
  <Default><NetworkInterface>127.0.0.1</NetworkInterface></Default>
</Configuration>
XML
cap="$IT_DIR/capture.wav"
# shellcheck disable=SC2046
host_start main $(host_device $cam) -p "101=Count=1; IsStereo=0" --seconds 15 -o "$cap" audio-in
if wait_line main "^AUDIO frame=1 " 40 >/dev/null; then
  groups=$(in_ns ip maddr show dev lo | grep -o "239\.255\.[0-9.]*" | sort -u | tr '\n' ' ')
  [ -n "$groups" ] && pass "the host joined $groups" || fail "no multicast group joined on lo"
  # Another receiver of the same group comes and goes while the channel runs.
  in_ns timeout 8 ffmpeg -v error -rtsp_transport udp_multicast -i "rtsp://service:camsim@$cam:554/?enableaudio=1&multicast=1" \
    -t 2 -f null - </dev/null >/dev/null 2>&1 && pass "a second receiver played the group" ||
    fail "a second receiver could not play the group"
fi
host_wait main 60 || fail "host exit code $?"
show_log main
expect_line main "^AUDIO result frames=(2[4-9]|3[0-9]) .* min=4000 max=4000 .* bad=0 status=0 changes=4 close=true" \
  "15 s of half-second frames without a reconnect (statuses 1 2 3 0)"
reject_line main "Audio signal was lost|level=1 " "no signal loss, no errors"
read -r _ hz share _ <<<"$(python3 "$IT_SOURCE_DIR/tests/integration/audio_tone.py" "$cap")"
[ "$hz" -ge 990 ] && [ "$hz" -le 1010 ] && pass "multicast audio decodes to the 1 kHz tone" ||
  fail "dominant frequency $hz Hz (share $share)"
finish
