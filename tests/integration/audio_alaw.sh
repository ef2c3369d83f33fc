#!/usr/bin/env bash
# Camera audio in G.711 A-law (payload type 8): the host is handed mu-law ("711M") frames of
# the same sound, never A-law bytes under the mu-law tag, and the integrator is told once.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.46
cap="$IT_DIR/capture.wav"
camsim_reset $cam
# shellcheck disable=SC2046
host_run main 90 $(host_device $cam) -p "101=Count=1; IsStereo=0" --seconds 4 -o "$cap" audio-in ||
  fail "host exit code $?"
expect_line main "^AUDIO frame=1 size=4000 tag=711M rate=8000 bits=16 stereo=0 bitrate=64000 channel=0 config=0$" \
  "mu-law frames of half a second"
expect_line main "^AUDIO result frames=[4-9] .* bad=0 status=0 changes=4 close=true" "frames without faults"
expect_line main "^LOG level=3 vantrel::CAudioCaptureChannel::OnAudioDescription: the camera 127\.0\.0\.46 sends G\.711 A-law audio; it is converted to mu-law for the host$" \
  "one line says the A-law is converted"
reject_line main "ERROR|level=1 " "no errors"
expect_line main "^SUMMARY: OK" "every frame released"
codec=$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,sample_rate,channels -of csv=p=0 "$cap")
[ "$codec" = "pcm_mulaw,8000,1" ] && pass "capture is mu-law 8 kHz mono" || fail "capture probes as '$codec'"
# A-law bytes decoded as mu-law are loud noise around the tone: the share tells them apart.
expect_tone "$cap" "decoded as mu-law, the audio is the camera's 1 kHz tone"
finish
