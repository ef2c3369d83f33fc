// The per-installation configuration file "<host directory>\LumivarIPCapture.xml". A channel
// thread builds one when it starts, reads what it needs and drops it; nothing is cached, so an
// edited file takes effect at the next (re)connect. A missing or unparsable file, and any
// missing or malformed value, leave the defaults: configuration never fails a channel.
//
//   <Configuration>
//     <StreamingMode>Multicast Primary</StreamingMode>
//     <Default> ... as Device ... </Default>
//     <Device address="10.0.0.5" port="80">
//       <PTZ>...</PTZ> <FishEyeVideoChannel>1</FishEyeVideoChannel>
//       <NetworkInterface>10.0.0.1</NetworkInterface>
//       <VideoChannel id="0">            (or without id: every channel)
//         <RTPMode>RTPoverRTSP</RTPMode>
//         <Bitrate><SD>4000</SD><HD>5000</HD><FHD>6000</FHD><UHD>8000</UHD></Bitrate>
//       </VideoChannel>
//     </Device>
//   </Configuration>
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/device_info.h"

namespace vantrel {

class CXMLSettingsAPI;
class IDriver;

struct ChannelConfig {
  static constexpr uint32_t kRtpModeUdp = 0;
  static constexpr uint32_t kRtpModeOverRtsp = 2;

  uint32_t rtpMode = kRtpModeUdp;
  // kbit/s per resolution class; 0 means "leave the camera's setting".
  uint32_t bitrateSD = 4000;
  uint32_t bitrateHD = 5000;
  uint32_t bitrateFHD = 6000;
  uint32_t bitrateUHD = 8000;
};

struct DeviceConfig {
  bool hasPtzConfig = false;
  std::string ptzConfig;
  uint32_t fisheyeChannel = 0;
  // IPv4 address in network byte order (as in in_addr), 0 when not configured or unresolvable.
  uint32_t interfaceAddress = 0;
};

class CConfiguration {
 public:
  static constexpr uint32_t kStreamingUnicast = 0;
  static constexpr uint32_t kStreamingMulticastPrimary = 1;
  static constexpr uint32_t kStreamingMulticast = 2;

  CConfiguration(const DEVICE_INFO& device, const std::string& hostDirectory, const std::string& driverName);
  explicit CConfiguration(IDriver& driver);
  ~CConfiguration();

  CConfiguration(const CConfiguration&) = delete;
  CConfiguration& operator=(const CConfiguration&) = delete;

  // Empty when the driver has no name (and so no file).
  static std::string MakeFileName(const std::string& hostDirectory, const std::string& driverName);

  const std::string& GetFileName() const { return fileName_; }
  bool IsLoaded() const { return xml_ != nullptr; }

  std::string GetDeviceNode();
  std::string GetChannelNode(uint32_t channel);
  ChannelConfig GetChannelConfig(uint32_t channel);
  uint32_t GetStreamingMode();
  DeviceConfig GetDeviceConfig();

 private:
  DEVICE_INFO device_;
  std::string fileName_;
  std::unique_ptr<CXMLSettingsAPI> xml_;  // null when there is no usable file
};

}  // namespace vantrel
