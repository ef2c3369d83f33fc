#include "channels/mjpeg_channel_rtsp.h"

#include <cstdio>
#include <vector>

#include "core/driver_services.h"

namespace vantrel {

CMJPEGChannelRTSP::CMJPEGChannelRTSP(uint32_t channel, IDriver* driver, ipcapture::IIPVideoCallback* callback)
    : CCommonChannel(channel, driver, callback),
      resolutions_(ParseJpegResolutions(driver ? driver->GetParameter(10) : std::string())),
      parser_(driver) {
  parser_.SetClient(this);
}

CMJPEGChannelRTSP::~CMJPEGChannelRTSP() {
  // The worker and the packet threads call into us and our parser.
  Stop();
}

bool CMJPEGChannelRTSP::SdpInfoReceived(const SdpInfo& info) {
  if (!CBaseRTSPChannel::SdpInfoReceived(info)) return false;
  CScopedLock guard(parserLock_);
  // A new session: a half-assembled picture of the previous one must not be completed with it.
  parser_.Reset();
  parser_.SetSessionSize(info.video.width, info.video.height);
  return true;
}

void CMJPEGChannelRTSP::ProcessRtpPacket(const CRTPPacket& packet) {
  CScopedLock guard(parserLock_);
  parser_.ProcessPacket(packet);
}

void CMJPEGChannelRTSP::BuildUrlQuery(RTSPConnectionParams& params) {
  params.serverPort = kRtspPort;
  std::string query = "?h26x=0";
  const uint32_t line = GetDriver() ? GetDriver()->GetCameraLine(GetChannel()) : GetChannel() + 1;
  if (line > 1) {
    char text[32];
    std::snprintf(text, sizeof(text), "&line=%u", line);
    query += text;
  }
  // The JPEG encoder has a single instance per line, so there is no "&inst=2" here.
  if (streamingMode_ == CConfiguration::kStreamingMulticastPrimary ||
      streamingMode_ == CConfiguration::kStreamingMulticast)
    query += "&multicast=1";
  params.urlPath = query;
}

bool CMJPEGChannelRTSP::PrepareCamera() {
  if (streamingMode_ == CConfiguration::kStreamingMulticast) return true;
  ApplyPrivacyZones();
  UpdateDewarpingMode();
  if (!ReadEncoderInstance()) return false;
  ReadEncoderMode();
  if (GetDriver() && GetDriver()->GetChannelCount() > 1) {
    // On a multi-input encoder the instance must be pointed at this input's coder first.
    if (Stopping()) return false;
    rcp_.SetRcpDword(kRcpCoderSelect, coder_, encoderInstance_);
  }
  return JpegSetup();
}

bool CMJPEGChannelRTSP::ApplySettingsChange(uint32_t changes) {
  if (changes == 0) return true;
  return JpegSetup();
}

uint32_t CMJPEGChannelRTSP::JpegResolutionCode() {
  const VideoSettings& settings = StreamSettings();
  return vantrel::JpegResolutionCode(settings.width, settings.height, GetEncoderMode().first, cameraGroup_,
                                     resolutions_);
}

bool CMJPEGChannelRTSP::JpegSetup() {
  const VideoSettings& settings = StreamSettings();
  const uint32_t milliFps = FramesPerSecond(settings.frameRate) * 1000;
  std::vector<uint8_t> payload(12, 0);
  payload[3] = static_cast<uint8_t>(JpegResolutionCode());
  payload[4] = static_cast<uint8_t>(milliFps >> 24);
  payload[5] = static_cast<uint8_t>(milliFps >> 16);
  payload[6] = static_cast<uint8_t>(milliFps >> 8);
  payload[7] = static_cast<uint8_t>(milliFps);
  payload[11] = static_cast<uint8_t>(settings.quality);
  if (Stopping()) return false;
  return rcp_.SetRcpOctets(kRcpJpegSetup, payload, line_).IsSuccess();
}

}  // namespace vantrel
