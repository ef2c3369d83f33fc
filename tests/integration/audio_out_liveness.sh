#!/usr/bin/env bash
# A camera that stops acknowledging audio output (0x000C reads 0, writes fail): the liveness
# check at the next frame after one device time-out reports status 5, and the channel
# reconnects by itself once the camera answers again. Before that, the camera refuses the first
# three audio connections: the retries go on, and the refusal is logged once.
source "$(dirname "$0")/lib.sh" "$@"
cam=127.0.0.33
dev="$(host_device $cam) -p 102=Count=1;IsStereo=0"
ffmpeg -hide_banner -loglevel error -y -f lavfi -i "sine=frequency=300:sample_rate=8000:duration=2" \
  -ac 1 -ar 8000 -c:a pcm_mulaw "$IT_DIR/tone.wav" || fail "cannot make the test sound"
fault() { camsim_post "/camera/$cam/streamer_fault" "name=$1" >/dev/null; }
trap 'fault none; it_cleanup' EXIT
camsim_reset $cam
fault none
camsim_post "/camera/$cam/streamer_fault" "name=refuse&count=3" >/dev/null
# shellcheck disable=SC2086
host_start main $dev audio-out tone.wav --audio-seconds 80
wait_line main "^AUDIO_STATUS index=7 status=2$" 30 >/dev/null && pass "running" || fail "not running"
mark=$(line_count main)
fault no_ack
# The check runs at the first frame after one device time-out (10 s after open).
wait_line main "^AUDIO_STATUS index=7 status=5$" 30 "$mark" >/dev/null && pass "status 5 when the camera stops acknowledging" ||
  fail "no status 5"
wait_line main "^LOG level=2 .*no longer acknowledges audio output" 5 "$mark" >/dev/null && pass "a log line says why" ||
  fail "no log line"
sleep 4
fault none
mark=$(line_count main)
wait_line main "^AUDIO_STATUS index=7 status=2$" 30 "$mark" >/dev/null && pass "running again after the camera answers" ||
  fail "no recovery"
host_cmd main quit
host_wait main 60 || fail "host exit code $?"
show_log main
expect_line main "^AUDIO_OUT .* closed=true lost=[1-9]" "closed after a loss"
expect_line main "^SUMMARY: OK" "every frame released"
# The connection is retried every few seconds while the camera refuses; its reason is news once.
refusals=$(host_log main | grep -c "did not accept the audio stream")
echo "FIGURES refusal_lines=$refusals"
[ "$refusals" -eq 1 ] && pass "the refusal is logged once, not at every retry" ||
  fail "the refusal is logged $refusals times"
finish
