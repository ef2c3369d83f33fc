// Live H.264 from the camera over RTSP. The camera serves H.264 on its "?h26x=4" query; the
// line, the second ("live") encoder stream and multicast are chosen through further query
// parameters. The channel owns its depacketizer so that frames keep their parameter sets across
// reconnects of the same channel.
#pragma once

#include <cstdint>

#include "channels/common_channel.h"
#include "foundation/recursive_lock.h"
#include "streaming/h264_rtp_media_parser.h"

namespace vantrel {

class CH264ChannelRTSP : public CCommonChannel {
 public:
  // `driver` and `callback` are borrowed; see CBaseCameraChannel.
  CH264ChannelRTSP(uint32_t channel, IDriver* driver, ipcapture::IIPVideoCallback* callback);
  ~CH264ChannelRTSP() override;

  // On the RTSP client thread: the base checks the description and handles multicast; the
  // parameter sets then go to our own parser.
  bool SdpInfoReceived(const SdpInfo& info) override;

  bool PrepareCamera() override;
  bool ApplySettingsChange(uint32_t changes) override;
  void BuildUrlQuery(RTSPConnectionParams& params) override;

 protected:
  virtual void ConfigureParser(const SdpInfo& info);
  void ProcessRtpPacket(const CRTPPacket& packet) override;

 private:
  // Packets arrive on the packet thread while a new description may come on the RTSP thread.
  CRecursiveLock parserLock_;
  CH264RTPMediaParser parser_;  // guarded by parserLock_
};

}  // namespace vantrel
