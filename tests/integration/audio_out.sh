#!/usr/bin/env bash
# Audio from the host reaches the camera byte for byte, in 640-byte packets about 80 ms apart;
# frames in another format are refused; a host that offers no format of the camera's gets the
# "no common format" status (4) and nothing is sent; a host that sends from the moment the open
# returned still gets the camera connected.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.31
dev="$(host_device $cam) -p 102=Count=1;IsStereo=0"
# 3.2 s of G.711 mu-law: 25600 bytes, 40 whole packets.
ffmpeg -hide_banner -loglevel error -y -f lavfi -i "sine=frequency=440:sample_rate=8000:duration=3.2" \
  -ac 1 -ar 8000 -c:a pcm_mulaw "$IT_DIR/tone.wav" || fail "cannot make the test sound"
camsim_reset $cam
camsim_post "/camera/$cam/streamer_fault" "name=none" >/dev/null
clear() { camsim_post "/camera/$cam/streamer_clear" >/dev/null; }
received() {  # PYTHON_EXPRESSION on s (streamer state), data (the file's samples)
  camsim_get "/camera/$cam/streamer_state" | /usr/bin/python3 -c "
import json, sys
s = json.load(sys.stdin)
w = open('$IT_DIR/tone.wav', 'rb').read()
data = w[w.find(b'data') + 8:]
got = bytes.fromhex(s['audio_bytes'])
gaps = [round((b[0] - a[0]) * 1000) for a, b in zip(s['audio_packets'], s['audio_packets'][1:])]
print($1)"
}

clear
# shellcheck disable=SC2086
host_run send 60 $dev audio-out tone.wav || fail "host exit code $?"
expect_line send "^AUDIO format tag=711M rate=8000 bitrate=64000 stereo=0$" "the channel's format"
expect_line send "^AUDIO_OUT frames=26 refused=0 bytes=25600 last_status=2 closed=true lost=0 errors=0$" \
  "every frame taken, running until closed"
[ "$(received 'got == data')" = True ] && pass "the camera got the file's samples byte for byte" ||
  fail "the camera's bytes differ: $(received 'len(got), len(data)')"
[ "$(received 'sorted(set(p[1] for p in s["audio_packets"]))')" = "[640]" ] && pass "640-byte packets" ||
  fail "packet sizes $(received 'sorted(set(p[1] for p in s["audio_packets"]))')"
[ "$(received 'sorted(set(p[2] for p in s["audio_packets"]))')" = "[0]" ] && pass "payload type 0" || fail "payload type"
gaps=$(received 'min(gaps), sorted(gaps)[len(gaps) // 2]')
echo "packet gaps ms (min, median): $gaps"
[ "$(received 'min(gaps) >= 70 and 75 <= sorted(gaps)[len(gaps) // 2] <= 110')" = True ] &&
  pass "packets about 80 ms apart" || fail "packet gaps $gaps"
expect_line send "^AUDIO_STATUS index=7 status=1$" "connecting reported"
expect_line send "^AUDIO_STATUS index=7 status=0$" "stopped reported"

clear
# shellcheck disable=SC2086
host_run bitrate 60 $dev audio-out tone.wav --audio-bitrate 32000 || fail "host exit code $?"
expect_line bitrate "^AUDIO_OUT frames=0 refused=26 " "frames claiming 32000 bit/s are refused"
[ "$(received 'len(got)')" = 0 ] && pass "nothing sent for refused frames" || fail "refused frames reached the camera"

clear
# shellcheck disable=SC2086
host_run formats 60 $dev audio-out tone.wav --audio-formats AAC1 || fail "host exit code $?"
expect_line formats "^AUDIO_STATUS index=7 status=4$" "no common format: status 4"
reject_line formats "^AUDIO_STATUS index=7 status=2$" "never running without a common format"
expect_line formats "^LOG level=1 .*no common audio format" "one clear log line"
[ "$(received 'len(s["connections"])')" = 0 ] && pass "no stream asked for" || fail "a stream was asked for"

clear
# shellcheck disable=SC2086
host_run nowait 60 $dev audio-out tone.wav --audio-no-wait || fail "host exit code $?"
expect_line nowait "^AUDIO_OUT frames=26 refused=0 .* last_status=2 closed=true lost=0 errors=0$" \
  "frames sent right after the open: running until closed"
expect_line nowait "^AUDIO running=true$" "the first frame did not push out the connect"
echo "close: $(field send "^AUDIO close_ms" close_ms) ms after sending, $(field formats "^AUDIO close_ms" close_ms) ms with no common format"
[ "$(received 'len(got) >= len(data) // 2 and got[:640] in data')" = True ] &&
  pass "the camera got the samples (at most a frame given way while connecting)" ||
  fail "the camera got $(received 'len(got)') bytes"
finish
