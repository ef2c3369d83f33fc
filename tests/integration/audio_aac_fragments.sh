#!/usr/bin/env bash
# Camera audio in AAC whose every access unit comes in fragments (RFC 3640: three packets per
# unit, each with an AU header giving the whole unit's size): every unit reaches the host whole,
# and the host's ADTS capture decodes without errors to the camera's tone.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.47
cap="$IT_DIR/capture.aac"
camsim_reset $cam
# shellcheck disable=SC2046
host_run main 90 $(host_device $cam) -p "101=Count=1; IsStereo=0" --seconds 4 -o "$cap" audio-in ||
  fail "host exit code $?"
expect_line main "^AUDIO frame=1 size=[0-9]+ tag=AAC1 rate=16000 bits=16 stereo=0 bitrate=[0-9]+ channel=0 config=2$" \
  "AAC1 frames at 16 kHz mono"
expect_line main "^AUDIO result frames=[1-9][0-9]+ .* bad=0 status=0 changes=4 close=true" "frames without faults"
reject_line main "ERROR|level=[12] " "no errors, nothing the parser could not take apart"
expect_line main "^SUMMARY: OK" "every frame released"
delivered=$(field main "^AUDIO result" frames)
min=$(field main "^AUDIO result" min)
info=$(ffprobe -v error -count_frames -select_streams a:0 \
  -show_entries stream=codec_name,sample_rate,channels,nb_read_frames -of csv=p=0 "$cap")
errors=$(ffmpeg -v error -i "$cap" -f null - </dev/null 2>&1 | wc -l)
echo "capture: $info, decode errors $errors, delivered $delivered, smallest unit $min bytes"
IFS=, read -r codec rate channels decoded <<<"$info"
[ "$codec" = aac ] && [ "$rate" = 16000 ] && [ "$channels" = 1 ] && pass "capture is AAC 16 kHz mono" ||
  fail "capture probes as '$info'"
[ "${min:-0}" -gt 140 ] && pass "units larger than a packet arrived whole" || fail "smallest unit $min bytes"
[ "$errors" -eq 0 ] && pass "decodes without errors" || fail "$errors decode errors"
[ "${decoded:-0}" = "$delivered" ] && pass "all $delivered frames decode" || fail "$decoded of $delivered frames decode"
expect_tone "$cap" "decoded audio is the camera's 1 kHz tone"
finish
