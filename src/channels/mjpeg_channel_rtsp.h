// Live Motion JPEG from the camera over RTSP ("?h26x=0"). The JPEG encoder of a line is set up
// with one 12-byte record (resolution code, frame rate, quality) instead of the coder commands
// of the H.264 streams.
#pragma once

#include <cstdint>

#include "channels/common_channel.h"
#include "channels/encoder_profiles.h"
#include "foundation/recursive_lock.h"
#include "streaming/jpeg_rtp_media_parser.h"

namespace vantrel {

class CMJPEGChannelRTSP : public CCommonChannel {
 public:
  // `driver` and `callback` are borrowed; see CBaseCameraChannel.
  CMJPEGChannelRTSP(uint32_t channel, IDriver* driver, ipcapture::IIPVideoCallback* callback);
  ~CMJPEGChannelRTSP() override;

  bool SdpInfoReceived(const SdpInfo& info) override;

  bool PrepareCamera() override;
  bool ApplySettingsChange(uint32_t changes) override;
  void BuildUrlQuery(RTSPConnectionParams& params) override;

  bool JpegSetup();
  uint32_t JpegResolutionCode();

 protected:
  void ProcessRtpPacket(const CRTPPacket& packet) override;

 private:
  // Sizes whose codes the host knows (host parameter 10); fixed after construction.
  const JpegResolutionMap resolutions_;
  CRecursiveLock parserLock_;
  CJpegRTPMediaParser parser_;  // guarded by parserLock_
};

}  // namespace vantrel
