// A live video channel whose RTP stream is negotiated over RTSP: the session with its query, the
// parser chosen from the session description, interleaved RTP, multicast and pause/resume.
//
// Threads: the worker thread opens and closes sessions; SdpInfoReceived, OnInterleavedPacket and
// OnSessionEnded run on the RTSP client thread; ProcessRtpPacket on whichever thread delivers
// packets (RTP queue thread, or the RTSP client thread for interleaved RTP). The parser holder is
// guarded by its own lock so a packet thread never sees a parser being replaced half-way.
//
// A derived class must call Stop() in its own destructor: the worker calls its overrides.
#pragma once

#include <cstdint>
#include <string>

#include "channels/base_rtp_channel.h"
#include "core/logger_instance.h"
#include "foundation/event.h"
#include "foundation/recursive_lock.h"
#include "foundation/smart_ptr.h"
#include "streaming/base_rtsp_client.h"
#include "streaming/rtp_media_parser.h"
#include "streaming/rtsp_stream_parser.h"
#include "streaming/sdp_info.h"

namespace vantrel {

class CBaseRTSPChannel : public CBaseRTPChannel, public IRTSPClientUser, public CLoggerInstance {
 public:
  static constexpr uint16_t kRtspPort = 554;

  // `driver` and `callback` are borrowed; see CBaseCameraChannel.
  CBaseRTSPChannel(uint32_t channel, IDriver* driver, ipcapture::IIPVideoCallback* callback);
  ~CBaseRTSPChannel() override;

  bool Pause() override;
  bool Resume() override;

  // IRTSPClientUser, on the RTSP client thread.
  bool SdpInfoReceived(const SdpInfo& info) override;
  void OnInterleavedPacket(const CRTPPacket& packet) override;
  void OnSessionEnded() override;
  void OnSenderReport(uint64_t ntp, uint32_t rtpTimestamp) override {
    RTCPSenderReportReceived(ntp, rtpTimestamp);
  }

  // The parser the description selected; empty before the first description or after a refusal.
  TSmartPtr<CRTPMediaParser> GetParser();

 protected:
  void RunMulticast() override;
  bool OpenSession() override;
  void Disconnect() override;
  bool IsStreamAlive() override;
  void Interrupt() override;
  void Rearm() override;
  // Hands the packet to the parser the session description selected.
  void ProcessRtpPacket(const CRTPPacket& packet) override;

  // Fills the server port and the URL query; the base asks for the camera's default stream.
  virtual void BuildUrlQuery(RTSPConnectionParams& params);
  // Opens a session whose media the camera multicasts; the group is joined from
  // SdpInfoReceived.
  virtual bool OpenMulticastSession();

  // Server port, address, credentials and time-outs from the connection record, then the
  // query; the local ports are left to the caller.
  RTSPConnectionParams MakeSessionParams();
  void SetParser(CRTPMediaParser* parser);

  CBaseRTSPClient rtspClient_;
  CManualEvent sessionEndEvent_;

 private:
  CRecursiveLock parserLock_;
  TSmartPtr<CRTPMediaParser> parser_;  // guarded by parserLock_
};

}  // namespace vantrel
