#!/usr/bin/env bash
# Camera audio in G.711: the channel switches audio on over RCP+ before the session, asks for
# the audio-only stream, hands the host half-second mu-law frames at 8 kHz, reports its status
# changes, and the capture decodes to the camera's tone.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.40
cap="$IT_DIR/capture.wav"
camsim_reset $cam
# shellcheck disable=SC2046
host_run main 90 $(host_device $cam) -p "101=Count=1; IsStereo=0" --seconds 6 -o "$cap" audio-in ||
  fail "host exit code $?"
expect_line main "^open: true$" "Open succeeds with an audio input count"
expect_line main "^AUDIO open channel=0 result=true again=true count=1$" "a second open keeps one channel"
expect_line main "^AUDIO frame=1 size=4000 tag=711M rate=8000 bits=16 stereo=0 bitrate=64000 channel=0 config=0$" \
  "frames of 4000 bytes, 711M, 8000 Hz, 16 bits, mono, 64000 bit/s"
expect_line main "^AUDIO result frames=([89]|[1-9][0-9]) .* min=4000 max=4000 .* bad=0 status=0 changes=4 close=true" \
  "half a second per frame, every frame 4000 bytes, statuses 1 2 3 0"
expect_line main "^AUDIO status index=0 status=1$" "status connecting"
expect_line main "^AUDIO status index=0 status=2$" "status running"
expect_line main "^LOG level=3 vantrel::CBaseAudioRTSPChannel::SetDeviceState: Audio signal from camera 127\.0\.0\.40 is OK$" \
  "signal OK message"
expect_line main "^LOG level=3 vantrel::CBaseAudioRTSPChannel::SetDeviceState: Audio channel was stopped for camera 127\.0\.0\.40$" \
  "stopped message"
reject_line main "ERROR|level=1 " "no errors"
expect_line main "^SUMMARY: OK" "every frame released"

requests=$(camsim_get "/camera/$cam/requests.txt")
if grep -q "command=0x000C&type=F_FLAG&direction=WRITE&payload=1" <<<"$requests"; then
  pass "audio switched on with 0x000C F_FLAG = 1"
else
  fail "no 0x000C flag write in: $requests"
fi
[ "$(camsim_state $cam 's["audio_enabled"]')" = 1 ] && pass "camera audio enabled" || fail "camera audio not enabled"

codec=$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,sample_rate,channels -of csv=p=0 "$cap")
[ "$codec" = "pcm_mulaw,8000,1" ] && pass "capture is mu-law 8 kHz mono" || fail "capture probes as '$codec'"
expect_tone "$cap" "decoded audio is the camera's 1 kHz tone"
finish
