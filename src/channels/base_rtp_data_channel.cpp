#include "channels/base_rtp_data_channel.h"

// clang-format off
// winsock2.h must come before windows.h.
#include <winsock2.h>
#include <windows.h>
// clang-format on

#include "core/driver_services.h"

namespace vantrel {

CBaseRTPDataChannel::CBaseRTPDataChannel(uint32_t channel, IDriver* driver)
    : CBaseThread(driver), driver_(driver), channel_(channel), reception_(driver, this, this) {
  if (driver) deviceInfo_ = driver->GetDeviceInfo();
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) == 0) {
    cameraAddress_.store(ResolveIPv4Address(deviceInfo_.address));
    WSACleanup();
  }
}

CBaseRTPDataChannel::~CBaseRTPDataChannel() { StopChannel(); }

bool CBaseRTPDataChannel::StartChannel(const std::string& threadName) {
  StopChannel();
  if (!winsockStarted_) {
    WSADATA data;
    winsockStarted_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  if (StartThread(threadName)) return true;
  ReleaseWinsock();
  return false;
}

void CBaseRTPDataChannel::StopChannel() {
  GetStopEvent().Set();
  // The worker is waited for before the receivers go: it may be joining a group right now.
  StopThread(2 * deviceInfo_.timeout);
  Disconnect();
  ReleaseWinsock();
}

void CBaseRTPDataChannel::ReleaseWinsock() {
  if (!winsockStarted_) return;
  WSACleanup();
  winsockStarted_ = false;
}

void CBaseRTPDataChannel::ReadConfiguration() {
  CConfiguration configuration(deviceInfo_, driver_ ? driver_->GetHostDirectory() : std::string(),
                               driver_ ? driver_->GetDriverName() : std::string());
  ChannelConfig channelConfig = configuration.GetChannelConfig(channel_);
  uint32_t streamingMode = configuration.GetStreamingMode();
  DeviceConfig deviceConfig = configuration.GetDeviceConfig();
  AdjustConfiguration(streamingMode, deviceConfig, channelConfig);
  rtpMode_ = channelConfig.rtpMode;
  streamingMode_ = streamingMode;
  interfaceAddress_ = deviceConfig.interfaceAddress;
}

void CBaseRTPDataChannel::ThreadProc() {
  try {
    ReadConfiguration();
    if (cameraAddress_.load() == 0) cameraAddress_.store(ResolveIPv4Address(deviceInfo_.address));
    if (streamingMode_ != CConfiguration::kStreamingUnicast) {
      RunMulticast();
    } else {
      RunUnicast();
    }
  } catch (...) {
    if (driver_)
      driver_->Log(kLogError, "%s(): Unexpected exception, device %s",
                   "vantrel::CBaseRTPDataChannel::ThreadProc", driver_->GetDeviceAddress().c_str());
  }
}

bool CBaseRTPDataChannel::OpenPorts() {
  if (rtpMode_ == ChannelConfig::kRtpModeOverRtsp) return true;
  return reception_.BindQuietPortPair(cameraAddress_.load(), kPortQuietMs, dataEvent_, GetStopEvent());
}

bool CBaseRTPDataChannel::JoinMulticast(const std::string& group, uint16_t port, uint32_t interfaceAddress) {
  dataEvent_.Reset();
  rtcpByeEvent_.Reset();
  return reception_.JoinMulticast(group, port, interfaceAddress, cameraAddress_.load(), GetStopEvent());
}

void CBaseRTPDataChannel::Disconnect() { reception_.Stop(); }

void CBaseRTPDataChannel::OnRtpPacket(const sockaddr_in* sender, CRTPPacket* packet) {
  if (!sender || !packet) return;
  if (sender->sin_addr.s_addr != cameraAddress_.load()) return;
  HandleRtpPacket(*packet);
}

void CBaseRTPDataChannel::HandleRtpPacket(const CRTPPacket& packet) {
  dataEvent_.Set();
  uint8_t filter = payloadFilter_.load();
  if (filter < kAnyPayload && packet.GetPayloadType() != filter) return;
  reception_.GetRtcpHandler().UpdateSequence(packet.GetSequenceNumber());
  try {
    ProcessPacket(packet);
  } catch (...) {
    // A broken payload ends its own processing only; the stream goes on.
  }
}

void CBaseRTPDataChannel::RTCPByeReceived() { rtcpByeEvent_.Set(); }

}  // namespace vantrel
