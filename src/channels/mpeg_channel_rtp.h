// Live MPEG-4 through our RCP+ streaming library instead of RTSP. The channel keeps the whole
// RTP channel machinery (worker, reconnect loops, camera set-up) and swaps only the session:
// the streamer hands over whole RTP packets, whose payloads go to the MPEG-4 depacketizer.
//
// Liveness: no RTSP request ever runs for this channel, so the stream is judged by the frame
// timer: a streamer that delivers nothing (camera stalled) leads to signal loss after half the
// signal time-out and a reconnect, as for an RTSP channel. A connection the camera ended
// (closed, refused, garbage) counts as lost at the next check, without waiting for the timer.
#pragma once

#include <cstdint>

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

 protected:
  bool OpenSession() override;
  bool OpenMulticastSession() override;
  void Disconnect() override;
  bool IsStreamAlive() override;
  void ProcessRtpPacket(const CRTPPacket&) override {}
  void BuildUrlQuery(RTSPConnectionParams&) override {}

 private:
  uint32_t Transport();

  CRcpStreamReceiver receiver_;
  // Payloads come on the library thread while a reconnect on the worker resets the parser.
  CRecursiveLock parserLock_;
  CMpeg4RTPMediaParser parser_;  // guarded by parserLock_
};

}  // namespace vantrel
