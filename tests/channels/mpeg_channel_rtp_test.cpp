// The MPEG-4 channel against a camera whose RCP+ answers over HTTPS only
// (tests/channels/server/https_camera.py on 127.0.0.202:443): the streaming connection has no
// TLS, so the channel must say so once and leave the camera's encoder settings alone.
#include "channels/mpeg_channel_rtp.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "support/fake_driver.h"
#include "support/test_camera_channel.h"

namespace vantrel::testing {
namespace {

std::vector<std::string> CameraRequests() {
  const char* dir = std::getenv("LUMIVAR_BINARY_DIR");
  std::ifstream log(std::string(dir ? dir : ".") + "/https-camera/requests.log");
  std::vector<std::string> lines;
  for (std::string line; std::getline(log, line);) lines.push_back(line);
  return lines;
}

int CountLines(FakeDriver& driver, const std::string& part) {
  int n = 0;
  for (const auto& line : driver.Lines()) n += line.text.find(part) != std::string::npos ? 1 : 0;
  return n;
}

TEST(MPEGChannelRTP, AnHttpsOnlyCameraIsRefusedOnceWithoutEncoderWrites) {
  FakeDriver driver;
  TestFrameAllocator allocator;
  TestVideoCallback callback;
  driver.allocator = &allocator;
  driver.info.address = "127.0.0.202";
  driver.info.port = 443;
  driver.info.user = "service";
  driver.info.password = "s3cret-pw";
  driver.info.timeout = 3000;
  driver.info.signalTimeout = 2000;
  CMPEGChannelRTP channel(0, &driver, &callback);
  ASSERT_TRUE(channel.Start({0x7019, 704, 576, 50, kVideoFormatMPEG4, kRecStream}));
  const std::string refusal =
      "MPEG-4 streaming of 127.0.0.202:443 requires HTTPS, which the streaming "
      "connection does not support";
  for (int i = 0; i < 1000 && CountLines(driver, refusal) == 0; ++i) Sleep(10);
  // Several rounds of the reconnect loop.
  Sleep(3000);
  channel.Stop();
  EXPECT_EQ(CountLines(driver, refusal), 1) << "said once, not once per round";
  EXPECT_EQ(CountLines(driver, "s3cret-pw"), 0) << "credentials in a log line";
  EXPECT_EQ(callback.frames.load(), 0);
  const std::vector<std::string> requests = CameraRequests();
  ASSERT_FALSE(requests.empty()) << "the camera was never asked (is the HTTPS camera running?)";
  for (const std::string& line : requests) EXPECT_EQ(line.rfind("WRITE", 0), std::string::npos) << line;
  EXPECT_LE(requests.size(), 2u) << "a request per round";
}

}  // namespace
}  // namespace vantrel::testing
