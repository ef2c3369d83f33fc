#include "control/configuration.h"

#include <winsock2.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "control/xml_settings_api.h"
#include "core/driver_services.h"

namespace vantrel {

namespace {

// Decimal text as the file's authors write it: leading blanks, digits, anything after the
// digits ignored. Text that is not a number, negative, or beyond 32 bits reads as 0, as do
// 0 and 0xFFFFFFFF themselves. Returns false for empty text, which keeps the default.
bool ParseDecimal(const std::string& text, uint32_t& out) {
  size_t pos = 0;
  while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
  if (pos == text.size()) return false;
  if (text[pos] == '+') ++pos;
  uint64_t value = 0;
  bool digits = false;
  while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
    digits = true;
    value = value * 10 + static_cast<uint64_t>(text[pos] - '0');
    if (value > 0xFFFFFFFFull) {
      out = 0;
      return true;
    }
    ++pos;
  }
  out = (digits && value != 0xFFFFFFFFull) ? static_cast<uint32_t>(value) : 0;
  return true;
}

std::string ToLower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

uint32_t ResolveIPv4(const std::string& name) {
  if (name.empty()) return 0;
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 0;
  uint32_t address = 0;
  const hostent* host = gethostbyname(name.c_str());
  if (host && host->h_addrtype == AF_INET && host->h_length == 4 && host->h_addr_list &&
      host->h_addr_list[0]) {
    in_addr first;
    std::memcpy(&first, host->h_addr_list[0], sizeof(first));
    address = first.s_addr;
  }
  WSACleanup();
  return address;
}

}  // namespace

std::string CConfiguration::MakeFileName(const std::string& hostDirectory, const std::string& driverName) {
  if (driverName.empty()) return {};
  std::string name = hostDirectory;
  if (!name.empty() && name.back() != '\\') name.push_back('\\');
  return name + driverName + ".xml";
}

CConfiguration::CConfiguration(const DEVICE_INFO& device, const std::string& hostDirectory,
                               const std::string& driverName)
    : device_(device), fileName_(MakeFileName(hostDirectory, driverName)) {
  if (fileName_.empty()) return;
  auto xml = std::make_unique<CXMLSettingsAPI>();
  if (xml->LoadFile(fileName_.c_str()) == S_OK) xml_ = std::move(xml);
}

CConfiguration::CConfiguration(IDriver& driver)
    : CConfiguration(driver.GetDeviceInfo(), driver.GetHostDirectory(), driver.GetDriverName()) {}

CConfiguration::~CConfiguration() = default;

std::string CConfiguration::GetDeviceNode() {
  // A quote in the address would end the attribute test early and turn the rest of the address
  // into query syntax; no real host name or address has one.
  if (xml_ && device_.address.find('"') == std::string::npos) {
    char node[512];
    int n = std::snprintf(node, sizeof(node), "Configuration/Device[@address=\"%s\"][@port=\"%u\"]",
                          device_.address.c_str(), device_.port);
    if (n > 0 && static_cast<size_t>(n) < sizeof(node) && xml_->NodeExists(node)) return node;
  }
  return "Configuration/Default";
}

std::string CConfiguration::GetChannelNode(uint32_t channel) {
  const std::string device = GetDeviceNode();
  const std::string numbered = device + "/VideoChannel[@id=\"" + std::to_string(channel) + "\"]";
  if (xml_ && xml_->NodeExists(numbered)) return numbered;
  return device + "/VideoChannel";
}

ChannelConfig CConfiguration::GetChannelConfig(uint32_t channel) {
  ChannelConfig config;
  if (!xml_) return config;
  const std::string node = GetChannelNode(channel);
  if (xml_->GetText(node + "/RTPMode") == "RTPoverRTSP") config.rtpMode = ChannelConfig::kRtpModeOverRtsp;
  struct Rate {
    const char* path;
    uint32_t* field;
  };
  const Rate rates[] = {{"/Bitrate/SD", &config.bitrateSD},
                        {"/Bitrate/HD", &config.bitrateHD},
                        {"/Bitrate/FHD", &config.bitrateFHD},
                        {"/Bitrate/UHD", &config.bitrateUHD}};
  for (const Rate& rate : rates) ParseDecimal(xml_->GetText(node + rate.path), *rate.field);
  return config;
}

uint32_t CConfiguration::GetStreamingMode() {
  if (!xml_) return kStreamingUnicast;
  const std::string mode = ToLower(xml_->GetText("Configuration/StreamingMode"));
  const size_t multicast = mode.find("multicast");
  if (multicast == std::string::npos) return kStreamingUnicast;
  if (mode.find("primary", multicast + 9) != std::string::npos) return kStreamingMulticastPrimary;
  return kStreamingMulticast;
}

DeviceConfig CConfiguration::GetDeviceConfig() {
  DeviceConfig config;
  if (!xml_) return config;
  const std::string node = GetDeviceNode();
  if (xml_->NodeExists(node + "/PTZ")) {
    config.hasPtzConfig = true;
    config.ptzConfig = xml_->GetText(node + "/PTZ");
  }
  ParseDecimal(xml_->GetText(node + "/FishEyeVideoChannel"), config.fisheyeChannel);
  std::string interfaceName = xml_->GetText(node + "/NetworkInterface");
  interfaceName.erase(0, interfaceName.find_first_not_of(" \t\r\n"));
  interfaceName.erase(interfaceName.find_last_not_of(" \t\r\n") + 1);
  config.interfaceAddress = ResolveIPv4(interfaceName);
  return config;
}

}  // namespace vantrel
