// The MPEG-4 channel: against a camera whose RCP+ answers over HTTPS only
// (tests/channels/server/https_camera.py on 127.0.0.202:443) the streaming connection, which has
// no TLS, must say so once and leave the camera's encoder settings alone; against the simulated
// MPEG-4 camera a pause from inside the frame callback must neither block nor free the streamer
// under its own thread.
#include "channels/mpeg_channel_rtp.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "channels/video_channel_test_support.h"
#include "foundation/teardown_queue.h"
#include "support/camsim_control.h"
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

TEST(MPEGChannelRTP, PauseFromInsideTheFrameCallbackThenResume) {
  CamsimControl camsim("127.0.0.30");
  ASSERT_TRUE(camsim.Reset()) << "camsim is not running";
  FakeDriver driver;
  TestFrameAllocator allocator;
  TestVideoCallback callback;
  driver.allocator = &allocator;
  AimAt(driver, "127.0.0.30");
  driver.info.timeout = 5000;
  driver.info.signalTimeout = 10000;
  CMPEGChannelRTP channel(0, &driver, &callback);
  std::atomic<bool> paused{false};
  std::atomic<bool> pauseResult{false};
  std::atomic<DWORD> pauseMs{0};
  callback.onFrame = [&] {
    if (paused.exchange(true)) return;
    const DWORD before = GetTickCount();
    pauseResult = channel.Pause();
    pauseMs = GetTickCount() - before + 1;
  };
  ASSERT_TRUE(channel.Start({0x7019, 640, 480, 50, kVideoFormatMPEG4, kRecStream}));
  for (int i = 0; i < 2000 && pauseMs.load() == 0; ++i) Sleep(10);
  ASSERT_NE(pauseMs.load(), 0u) << "no first frame";
  EXPECT_TRUE(pauseResult.load());
  EXPECT_LT(pauseMs.load(), 500u) << "the pause waited inside the callback";
  Sleep(500);
  const int whilePaused = callback.frames.load();
  Sleep(1000);
  EXPECT_EQ(callback.frames.load(), whilePaused) << "frames while paused";

  const DWORD before = GetTickCount();
  EXPECT_TRUE(channel.Resume());
  EXPECT_LT(GetTickCount() - before, 500u) << "the resume waited for the camera";
  for (int i = 0; i < 1500 && callback.frames.load() <= whilePaused + 2; ++i) Sleep(10);
  EXPECT_GT(callback.frames.load(), whilePaused + 2) << "no frames after the resume";
  channel.Stop();
  EXPECT_TRUE(CTeardownQueue::Drain(10000));
  EXPECT_EQ(allocator.outstanding.load(), 0);
}

}  // namespace
}  // namespace vantrel::testing
