#!/usr/bin/env bash
# Camera audio in AAC (RFC 3640): each access unit reaches the host as one AAC1 frame with the
# stream's AudioSpecificConfig; the host's ADTS capture decodes without errors to the camera's
# tone at the stream's rate.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.41
cap="$IT_DIR/capture.aac"
camsim_reset $cam
# shellcheck disable=SC2046
host_run main 90 $(host_device $cam) -p "101=Count=2; IsStereo=0" --seconds 5 -o "$cap" audio-in ||
  fail "host exit code $?"
expect_line main "^AUDIO frame=1 size=[0-9]+ tag=AAC1 rate=16000 bits=16 stereo=0 bitrate=[0-9]+ channel=0 config=2$" \
  "AAC1 frames at 16 kHz mono with a 2-byte configuration"
expect_line main "^AUDIO result frames=[1-9][0-9]+ .* bad=0 status=0 changes=4 close=true" "frames without faults"
reject_line main "ERROR|level=1 " "no errors"
expect_line main "^SUMMARY: OK" "every frame released"

delivered=$(field main "^AUDIO result" frames)
info=$(ffprobe -v error -count_frames -select_streams a:0 \
  -show_entries stream=codec_name,profile,sample_rate,channels,nb_read_frames -of csv=p=0 "$cap")
errors=$(ffmpeg -v error -i "$cap" -f null - </dev/null 2>&1 | wc -l)
echo "capture: $info, decode errors $errors, delivered $delivered"
IFS=, read -r codec profile rate channels decoded <<<"$info"
[ "$codec" = aac ] && [ "$profile" = LC ] && [ "$rate" = 16000 ] && [ "$channels" = 1 ] &&
  pass "capture is AAC LC 16 kHz mono" || fail "capture probes as '$info'"
[ "$errors" -eq 0 ] && pass "decodes without errors" || fail "$errors decode errors"
[ "${decoded:-0}" = "$delivered" ] && pass "all $delivered frames decode" || fail "$decoded of $delivered frames decode"
expect_tone "$cap" "decoded audio is the camera's 1 kHz tone"
finish
