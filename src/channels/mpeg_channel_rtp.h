// Live MPEG-4 through our RCP+ streaming library instead of RTSP. The channel keeps the whole
// RTP channel machinery (worker, reconnect loops, camera set-up) and swaps only the session:
// the streamer hands over whole RTP packets, whose payloads go to the MPEG-4 depacketizer.
//
// Liveness: no RTSP request ever runs for this channel, so the stream is judged by the frame
// timer: a streamer that delivers nothing (camera stalled) leads to signal loss after half the
// signal time-out and a reconnect, as for an RTSP channel. A connection the camera ended
// (closed, refused, garbage) counts as lost at the next check, without waiting for the timer.
//
// Host safety: no lock of ours is held while a frame goes to the host. Each connection gets a
// parser of its own, taken by reference on the streamer's thread, so a reconnect never resets a
// parser that thread is still using. Pause and Resume only flip the flag and wake the worker,
// which disconnects or reconnects the streamer: the disconnect waits for a frame callback in
// flight and the connect may take the device time-out, and neither may hold the host's thread (a
// host that takes its own lock around PauseChannel and in OnFrame would deadlock with a pause
// that waits for OnFrame). In multicast mode the pause disconnects at once; from inside the
// frame callback the streamer's end then goes to the tear-down queue (see CRcpStreamReceiver).
//
// The streaming connection has no TLS: a camera that takes RCP+ only over HTTPS cannot stream
// MPEG-4. That is said once, and the round fails before any encoder setting is written.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "channels/common_channel.h"
#include "channels/rcp_stream_receiver.h"
#include "foundation/recursive_lock.h"
#include "streaming/mpeg4_rtp_media_parser.h"

namespace vantrel {

class CMPEGChannelRTP : public CCommonChannel, public IRcpStreamReceiverUser {
 public:
  static constexpr uint16_t kRcpStreamCoding = 0x0A9C;

  // `driver` and `callback` are borrowed; see CBaseCameraChannel.
  CMPEGChannelRTP(uint32_t channel, IDriver* driver, ipcapture::IIPVideoCallback* callback);
  ~CMPEGChannelRTP() override;

  bool Pause() override;
  bool Resume() override;

  // On the library's receive thread.
  void OnRtpPayload(const uint8_t* payload, uint32_t length, uint16_t sequenceNumber, uint32_t timestamp,
                    bool marker) override;

  bool PrepareCamera() override;
  bool ApplySettingsChange(uint32_t changes) override;
  bool ApplyProfile();

  // The log line for a camera whose RCP+ runs over HTTPS only (exposed for tests).
  static constexpr char kHttpsUnsupported[] =
      "%s: MPEG-4 streaming of %s requires HTTPS, which the streaming connection does not support";

 protected:
  bool OpenSession() override;
  bool OpenMulticastSession() override;
  void Disconnect() override;
  bool IsStreamAlive() override;
  void Interrupt() override;
  void Rearm() override;
  void ProcessRtpPacket(const CRTPPacket&) override {}
  void BuildUrlQuery(RTSPConnectionParams&) override {}

 private:
  uint32_t Transport();
  // A fresh parser for the next connection; the one a lingering streamer thread holds stays
  // alive with it.
  void NewParser();
  std::shared_ptr<CMpeg4RTPMediaParser> CurrentParser();
  // Brings the streamer in line with the host's pause or resume; worker thread.
  void ApplyPauseState();

  CRcpStreamReceiver receiver_;
  // Only for swapping the holder: never held while a parser runs.
  CRecursiveLock parserLock_;
  std::shared_ptr<CMpeg4RTPMediaParser> parser_;  // guarded by parserLock_
  // The pause the streamer was last brought in line with; worker only.
  bool streamPaused_ = false;
  // The HTTPS refusal is logged once per channel, not once per round.
  bool httpsLogged_ = false;  // worker only
};

}  // namespace vantrel
