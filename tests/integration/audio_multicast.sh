#!/usr/bin/env bash
# Camera audio over multicast: the session asks for the multicast stream, the channel joins the
# camera's group and stays running; other receivers coming and going (RTCP BYE on the group)
# must not make it reconnect. Runs in a network namespace of its own with a simulator of its own
# (as the video multicast test), so no multicast leaves the machine.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.40
private_namespace "$cam"
write_config <<XML
<?xml version="1.0"?>
<Configuration>
  <StreamingMode>Multicast Primary</StreamingMode>
  <Default><NetworkInterface>127.0.0.1</NetworkInterface></Default>
</Configuration>
XML
cap="$IT_DIR/capture.wav"
# shellcheck disable=SC2046
# The 15 s count from the first frame (see multicast.sh).
host_start main $(host_device $cam) -p "101=Count=1; IsStereo=0" --seconds 15 --first-frame-wait 40 -o "$cap" audio-in
if wait_line main "^AUDIO frame=1 " 45 >/dev/null; then
  groups=$(in_ns ip maddr show dev lo | grep -o "239\.255\.[0-9.]*" | sort -u | tr '\n' ' ')
  [ -n "$groups" ] && pass "the host joined $groups" || fail "no multicast group joined on lo"
  # Another receiver of the same group comes and goes while the channel runs.
  in_ns timeout 8 ffmpeg -v error -rtsp_transport udp_multicast -i "rtsp://service:camsim@$cam:554/?enableaudio=1&multicast=1" \
    -t 2 -f null - </dev/null >/dev/null 2>&1 && pass "a second receiver played the group" ||
    fail "a second receiver could not play the group"
fi
host_wait main 90 || fail "host exit code $?"
show_log main
expect_line main "^AUDIO result frames=(2[4-9]|3[0-9]) .* min=4000 max=4000 .* bad=0 status=0 changes=4 close=true" \
  "15 s of half-second frames without a reconnect (statuses 1 2 3 0)"
reject_line main "Audio signal was lost|level=1 " "no signal loss, no errors"
read -r _ hz share _ <<<"$(python3 "$IT_SOURCE_DIR/tests/integration/audio_tone.py" "$cap")"
[ "$hz" -ge 990 ] && [ "$hz" -le 1010 ] && pass "multicast audio decodes to the 1 kHz tone" ||
  fail "dominant frequency $hz Hz (share $share)"
finish
