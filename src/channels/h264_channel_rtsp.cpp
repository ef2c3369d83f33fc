#include "channels/h264_channel_rtsp.h"

#include <cstdio>

#include "core/driver_services.h"

namespace vantrel {

CH264ChannelRTSP::CH264ChannelRTSP(uint32_t channel, IDriver* driver, ipcapture::IIPVideoCallback* callback)
    : CCommonChannel(channel, driver, callback), parser_(driver) {
  parser_.SetClient(this);
}

CH264ChannelRTSP::~CH264ChannelRTSP() {
  // The worker and the packet threads call into us and our parser.
  Stop();
}

bool CH264ChannelRTSP::SdpInfoReceived(const SdpInfo& info) {
  if (!CBaseRTSPChannel::SdpInfoReceived(info)) return false;
  ConfigureParser(info);
  return true;
}

void CH264ChannelRTSP::ConfigureParser(const SdpInfo& info) {
  CScopedLock guard(parserLock_);
  // A new session: a half-assembled frame of the previous one must not be completed with it.
  parser_.Reset();
  parser_.SetParameterSets(info.sequenceParameterSet, info.pictureParameterSet, info.configuration);
}

void CH264ChannelRTSP::ProcessRtpPacket(const CRTPPacket& packet) {
  CScopedLock guard(parserLock_);
  parser_.ProcessPacket(packet);
}

void CH264ChannelRTSP::BuildUrlQuery(RTSPConnectionParams& params) {
  params.serverPort = kRtspPort;
  std::string query = "?h26x=4";
  const uint32_t line = GetDriver() ? GetDriver()->GetCameraLine(GetChannel()) : GetChannel() + 1;
  if (line > 1) {
    char text[32];
    std::snprintf(text, sizeof(text), "&line=%u", line);
    query += text;
  }
  // The second encoder of the line is the one PrepareCamera configured for every stream but the
  // recording one; the request must select that same encoder, or the stream comes at the
  // recording stream's size and rate.
  if (StreamSettings().streamIndex != kRecStream) query += "&inst=2";
  if (streamingMode_ == CConfiguration::kStreamingMulticastPrimary ||
      streamingMode_ == CConfiguration::kStreamingMulticast)
    query += "&multicast=1";
  params.urlPath = query;
}

bool CH264ChannelRTSP::PrepareCamera() {
  // Someone else configures a camera we only listen to in multicast.
  if (streamingMode_ == CConfiguration::kStreamingMulticast) return true;
  ApplyPrivacyZones();
  UpdateDewarpingMode();
  ReadEncoderMode();
  if (!ReadEncoderInstance() || !SelectStreamProfile() || !UpdateProfile()) return false;
  return StreamSetup();
}

bool CH264ChannelRTSP::ApplySettingsChange(uint32_t changes) {
  if (!ReadEncoderInstance()) return false;
  const bool sizeChanged = changes & kSizeChanged;
  const bool rateChanged = changes & kFrameRateChanged;
  if (!sizeChanged && !rateChanged) return true;
  bool anySucceeded = false;
  if (sizeChanged) anySucceeded |= SelectStreamProfile();
  if (rateChanged) anySucceeded |= UpdateFrameRate();
  if (!anySucceeded) return false;
  return StreamSetup();
}

}  // namespace vantrel
