// The snapshot request and the pace and loss rules of the Motion JPEG over HTTP channel.
#include "channels/mjpeg_channel_http.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <winsock2.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "support/fake_driver.h"
#include "support/loopback_listener.h"
#include "support/test_camera_channel.h"
#include "support/winsock_test.h"
#include "vantrel/ipcapture/privacy_zones.h"

namespace vantrel {
namespace {

TEST(MJPEGChannelHTTP, SnapshotPathBySizeClassAndQuality) {
  struct Case {
    uint32_t width, height, quality, camera;
    const char* path;
  } cases[] = {
      {256, 192, 30, 1, "/snap.jpg?JpegSize=S&JpegCam=1&JpegQuality=70"},
      {257, 192, 30, 1, "/snap.jpg?JpegSize=M&JpegCam=1&JpegQuality=70"},
      {512, 288, 0, 2, "/snap.jpg?JpegSize=M&JpegCam=2&JpegQuality=100"},
      {640, 240, 50, 1, "/snap.jpg?JpegSize=L&JpegCam=1&JpegQuality=50"},
      {720, 288, 50, 1, "/snap.jpg?JpegSize=L&JpegCam=1&JpegQuality=50"},
      {704, 576, 99, 1, "/snap.jpg?JpegSize=XL&JpegCam=1&JpegQuality=1"},
      {721, 100, 100, 3, "/snap.jpg?JpegSize=XL&JpegCam=3&JpegQuality=1"},
      {640, 480, 250, 1, "/snap.jpg?JpegSize=XL&JpegCam=1&JpegQuality=1"},  // never wraps below 1
  };
  for (const Case& c : cases)
    EXPECT_EQ(CMJPEGChannelHTTP::SnapshotPath(c.width, c.height, c.quality, c.camera), c.path);
}

TEST(MJPEGChannelHTTP, PaceAndLossFromTheFrameRateCode) {
  struct Case {
    uint32_t code, interval, loss;
  } cases[] = {
      {40, 40, 10000},  {2000, 2000, 2000},  {1000, 1000, 10000},   {1001, 1001, 1001},
      {0, 1000, 10000}, {0x7019, 40, 10000}, {0x7000, 1000, 10000}, {0x7FFF, 0, 10000},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CBaseHttpChannel::FrameIntervalMs(c.code), c.interval) << c.code;
    EXPECT_EQ(CBaseHttpChannel::SignalLossMs(c.code, 10000), c.loss) << c.code;
  }
}

// A camera that takes every connection and every request and never answers; counts requests.
class SilentHttpCamera {
 public:
  SilentHttpCamera() {
    listener_ = ::vantrel::testing::ListenOnLoopback(16, port_);
    acceptor_ = std::thread([this] {
      for (;;) {
        SOCKET client = accept(listener_, nullptr, nullptr);
        if (client == INVALID_SOCKET) return;
        clients_.push_back(client);
        readers_.emplace_back([this, client] {
          std::string seen;
          char buffer[2048];
          for (;;) {
            const int got = recv(client, buffer, sizeof(buffer), 0);
            if (got <= 0) return;
            seen.append(buffer, static_cast<size_t>(got));
            for (size_t at; (at = seen.find("GET ")) != std::string::npos; seen.erase(0, at + 4)) ++requests;
          }
        });
      }
    });
  }
  ~SilentHttpCamera() {
    closesocket(listener_);
    acceptor_.join();
    for (SOCKET c : clients_) shutdown(c, SD_BOTH);
    for (auto& r : readers_) r.join();
    for (SOCKET c : clients_) closesocket(c);
  }
  uint16_t Port() const { return port_; }
  std::atomic<int> requests{0};

 private:
  SOCKET listener_;
  uint16_t port_ = 0;
  std::thread acceptor_;
  std::vector<SOCKET> clients_;  // acceptor thread until joined
  std::vector<std::thread> readers_;
};

class TestZone final : public ipcapture::IIPZone {
 public:
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  void Reserved1() override {}
  void Reserved2() override {}
  void Reserved3() override {}
  float GetX() override { return 10; }
  float GetY() override { return 10; }
  float GetWidth() override { return 20; }
  float GetHeight() override { return 20; }
};

class TestZoneList final : public ipcapture::IIPZoneList {
 public:
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  ipcapture::IIPZone* GetZone(uint32_t index) override { return index == 0 ? &zone_ : nullptr; }

 private:
  TestZone zone_;
};

class MJPEGChannelHTTPStop : public testing::WinsockTest {};

// The privacy-zone requests at the start of a round (up to twenty round trips) are aborted
// with the snapshot's: against a camera that never answers, the stop ends the one request in
// flight and starts no other.
TEST_F(MJPEGChannelHTTPStop, AStopAbortsThePrivacyZoneRequests) {
  SilentHttpCamera camera;
  testing::FakeDriver driver;
  testing::TestFrameAllocator allocator;
  testing::TestVideoCallback callback;
  driver.allocator = &allocator;
  driver.info.address = "127.0.0.1";
  driver.info.port = camera.Port();
  driver.info.timeout = 1500;
  TestZoneList zones;
  CMJPEGChannelHTTP channel(0, &driver, &callback);
  channel.SetStreamOption(&zones);
  VideoSettings settings{0x7019, 704, 576, 50, kVideoFormatMJPEG, kRecStream};
  ASSERT_TRUE(channel.Start(settings));
  for (int i = 0; i < 500 && camera.requests.load() == 0; ++i) Sleep(10);
  ASSERT_EQ(camera.requests.load(), 1);
  Sleep(200);
  const DWORD before = GetTickCount();
  // What the host's StopChannel waits (CIPVideoCapture gives the worker 500 ms).
  EXPECT_FALSE(channel.BeginStop(500)) << "the request only ends at its time-out under Wine";
  const DWORD bounded = GetTickCount() - before;
  EXPECT_LT(bounded, 1500u);
  channel.Stop();
  const DWORD elapsed = GetTickCount() - before;
  // One time-out at most (Windows ends the request at once), never one per zone request.
  EXPECT_LT(elapsed, driver.info.timeout + 1000);
  Sleep(300);
  EXPECT_EQ(camera.requests.load(), 1) << "requests went out after the stop";
  EXPECT_EQ(callback.frames.load(), 0);
  std::printf(
      "stop against a silent camera: bounded part %lu ms, whole stop %lu ms (device time-out %u ms)\n",
      static_cast<unsigned long>(bounded), static_cast<unsigned long>(elapsed), driver.info.timeout);
}

}  // namespace
}  // namespace vantrel
