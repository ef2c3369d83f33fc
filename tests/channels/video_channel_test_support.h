// Shared pieces of the video channel tests: channels whose settings a test sets directly (no
// worker runs), a driver aimed at a simulated camera, and the camera's request log in short form.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "channels/h264_channel_rtsp.h"
#include "channels/mjpeg_channel_rtsp.h"
#include "support/camsim_control.h"
#include "support/fake_driver.h"

namespace vantrel::testing {

// Opens a channel's protected set-up to the test. The settings come from `settings`, not from a
// started worker, so the camera sees only the requests the test asks for.
template <typename Channel>
class Exposed : public Channel {
 public:
  Exposed(uint32_t channel, IDriver* driver) : Channel(channel, driver, nullptr) {}

  const VideoSettings& StreamSettings() override { return settings; }
  void Adjust() {
    uint32_t mode = this->streamingMode_;
    DeviceConfig device;
    ChannelConfig channel;
    this->AdjustConfiguration(mode, device, channel);
  }
  void SetStreamingMode(uint32_t mode) { this->streamingMode_ = mode; }
  void SetStopped() { this->GetStopEvent().Set(); }
  std::string Query() {
    RTSPConnectionParams params;
    params.serverPort = 0;
    this->BuildUrlQuery(params);
    EXPECT_EQ(params.serverPort, 554);
    return params.urlPath;
  }

  VideoSettings settings;
};

using TestH264Channel = Exposed<CH264ChannelRTSP>;
using TestMjpegChannel = Exposed<CMJPEGChannelRTSP>;

inline void AimAt(FakeDriver& driver, const std::string& camera) {
  driver.info.address = camera;
  driver.info.port = 80;
  driver.info.user = "service";
  driver.info.password = "camsim";
}

// One RCP+ request as "R P_OCTET 0xFF11/1" (read) or "W T_DWORD 0x0607/1=2756" (write; "/0" when
// no number). The type stays in: a camera knows a command only under its own type.
inline std::string ShortForm(const std::string& target) {
  const size_t q = target.find('?');
  if (target.compare(0, 8, "/rcp.xml") != 0 || q == std::string::npos) return target;
  std::map<std::string, std::string> args;
  size_t pos = q + 1;
  while (pos <= target.size()) {
    size_t end = target.find('&', pos);
    if (end == std::string::npos) end = target.size();
    const std::string pair = target.substr(pos, end - pos);
    const size_t eq = pair.find('=');
    if (eq != std::string::npos) args[pair.substr(0, eq)] = pair.substr(eq + 1);
    pos = end + 1;
  }
  const std::string num = args.count("num") ? args["num"] : "0";
  const std::string command = args["type"] + " " + args["command"] + "/" + num;
  if (args["direction"] == "READ") return "R " + command;
  return "W " + command + "=" + args["payload"];
}

inline std::vector<std::string> ShortLog(CamsimControl& camsim) {
  std::vector<std::string> lines;
  for (const std::string& target : camsim.Requests()) lines.push_back(ShortForm(target));
  return lines;
}

}  // namespace vantrel::testing
