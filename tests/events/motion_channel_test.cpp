// The motion channel against a simulated camera: frames per change, the pair after start and
// after a silence, motion-data-stopped, and cameras that answer the poll badly.
#include "events/motion_channel.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/camsim_control.h"
#include "support/fake_driver.h"
#include "support/fake_frame_allocator.h"
#include "support/test_camera_channel.h"
#include "vantrel/ipcapture/video_capture.h"

namespace vantrel::testing {
namespace {

constexpr char kCamera[] = "127.0.0.50";

class MotionCallback final : public ipcapture::IIPVideoCallback {
 public:
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  bool OnFrame(ipcapture::IIPFrame* frame) override {
    auto* f = static_cast<FakeFrame*>(frame);
    const auto payload = f->Payload();
    {
      std::lock_guard<std::mutex> guard(mutex);
      states.push_back(payload.size() == 2 && payload[0] == 1 ? payload[1] : 0xEE);
    }
    if (onFrame) onFrame();
    return accept.load();
  }
  void OnMotionDataStopped(uint32_t reason) override {
    std::lock_guard<std::mutex> guard(mutex);
    stopped.push_back(reason);
  }
  void OnSignalLost() override { ++signalLost; }

  std::vector<uint8_t> States() {
    std::lock_guard<std::mutex> guard(mutex);
    return states;
  }
  size_t StoppedCount() {
    std::lock_guard<std::mutex> guard(mutex);
    return stopped.size();
  }
  bool WaitForStates(size_t count, uint32_t timeoutMs) {
    const DWORD start = GetTickCount();
    while (States().size() < count) {
      if (GetTickCount() - start > timeoutMs) return false;
      Sleep(20);
    }
    return true;
  }
  bool WaitForStopped(size_t count, uint32_t timeoutMs) {
    const DWORD start = GetTickCount();
    while (StoppedCount() < count) {
      if (GetTickCount() - start > timeoutMs) return false;
      Sleep(20);
    }
    return true;
  }

  std::mutex mutex;
  std::vector<uint8_t> states;
  std::vector<uint32_t> stopped;
  std::atomic<bool> accept{true};
  std::atomic<int> signalLost{0};
  // Called inside OnFrame (after the frame is counted) when set.
  std::function<void()> onFrame;
};

class MotionChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(camsim.Reset()) << "camsim is not running";
    driver.info.address = kCamera;
    driver.info.user = "service";
    driver.info.password = "camsim";
    driver.info.timeout = 1500;
    driver.info.signalTimeout = 2500;
    driver.allocator = &allocator;
  }
  void TearDown() override { camsim.Reset(); }

  void SetMotion(uint32_t line, bool on) {
    ASSERT_TRUE(camsim.Set("motion=" + std::to_string(line) + "&value=" + (on ? "1" : "0")));
  }

  int LinesContaining(const std::string& text) {
    int n = 0;
    for (const auto& l : driver.Lines()) n += l.text.find(text) != std::string::npos;
    return n;
  }

  CamsimControl camsim{kCamera};
  FakeDriver driver;
  FakeFrameAllocator allocator;
};

TEST_F(MotionChannelTest, FirstAnswerGivesAPairThenOneFramePerChange) {
  SetMotion(1, true);
  SetMotion(2, false);
  MotionCallback first, second;
  TestEdgeMonitor monitor;
  CMotionChannel line1(0, &driver, &first);
  CMotionChannel line2(1, &driver, &second);
  line1.SetEdgeMonitor(&monitor);
  EXPECT_FALSE(line1.IsMotionDataFlowing());
  ASSERT_TRUE(line1.Start());
  ASSERT_TRUE(line2.Start());
  ASSERT_TRUE(first.WaitForStates(2, 3000));
  ASSERT_TRUE(second.WaitForStates(2, 3000));
  EXPECT_EQ(first.States(), (std::vector<uint8_t>{0, 1})) << "an edge up for the line in motion";
  EXPECT_EQ(second.States(), (std::vector<uint8_t>{1, 0})) << "an edge down for the quiet line";
  EXPECT_TRUE(line1.IsMotionDataFlowing());

  // The frames as the host expects them, every one given back.
  {
    std::lock_guard<std::mutex> guard(allocator.mutex);
    ASSERT_FALSE(allocator.released.empty());
    const FakeFrame& f = *allocator.released.front();
    EXPECT_EQ(FourCCText(f.allocatedFourcc), "MEMD");
    EXPECT_EQ(f.FourCC(), "MEMD");
    EXPECT_EQ(f.buffer.size(), 1024u);
    EXPECT_EQ(f.owner, "CBaseMotionChannel");
    EXPECT_EQ(f.dataSize, 2u);
    EXPECT_EQ(f.width, 320u);
    EXPECT_EQ(f.height, 240u);
    EXPECT_EQ(f.sizeClass, 2u);
    EXPECT_TRUE(f.timeSet);
    EXPECT_GE(f.time.wYear, 2024);
  }

  // An unchanged state gives no frame, but every answer tells the edge monitor the line lives.
  const size_t seen = monitor.SeenCount();
  Sleep(2300);
  EXPECT_EQ(first.States().size(), 2u);
  EXPECT_GE(monitor.SeenCount(), seen + 2);
  EXPECT_EQ(monitor.seen.back().channel, 0u);

  SetMotion(1, false);
  ASSERT_TRUE(first.WaitForStates(3, 3000));
  SetMotion(1, true);
  ASSERT_TRUE(first.WaitForStates(4, 3000));
  EXPECT_EQ(first.States(), (std::vector<uint8_t>{0, 1, 0, 1}));
  EXPECT_EQ(second.States().size(), 2u) << "lines are polled separately";

  // A restart delivers a fresh pair.
  ASSERT_TRUE(line1.Start());
  ASSERT_TRUE(first.WaitForStates(6, 3000));
  EXPECT_EQ(first.States(), (std::vector<uint8_t>{0, 1, 0, 1, 0, 1}));
  EXPECT_TRUE(line1.Stop());
  EXPECT_TRUE(line2.Stop());
  EXPECT_EQ(allocator.LiveCount(), 0u);
  EXPECT_EQ(first.StoppedCount(), 0u);
}

TEST_F(MotionChannelTest, BadAnswersStopMotionDataWithoutCrashAndRecoveryGivesAFreshPair) {
  const char* faults[] = {
      "kind=rcp_error&code=10",
      "kind=malformed",
      "kind=binary&bytes=300",
      "kind=huge&bytes=200000",
      "kind=empty",
      "kind=status",
      "kind=truncated",
      "kind=drop",
      "kind=body&status=200&text=%3Crcp%3E%3Cresult%3E%3Cstr%3Ezz%20%3C%2Fstr%3E%3C%2Fresult%3E%3C%2Frcp%3E",
  };
  for (const char* fault : faults) {
    SCOPED_TRACE(fault);
    camsim.Reset();
    SetMotion(1, true);
    MotionCallback callback;
    CMotionChannel channel(0, &driver, &callback);
    ASSERT_TRUE(channel.Start());
    ASSERT_TRUE(callback.WaitForStates(2, 3000));
    ASSERT_TRUE(camsim.Fault(std::string(fault) + "&match=0x0807&count=0"));
    ASSERT_TRUE(callback.WaitForStopped(1, driver.info.signalTimeout + 4000)) << "motion data stopped";
    EXPECT_EQ(callback.stopped[0], 0u);
    EXPECT_FALSE(channel.IsMotionDataFlowing());
    EXPECT_EQ(callback.States().size(), 2u) << "a bad answer is no state";
    // Told once, not on every failed poll; logged once for the run of failures.
    Sleep(1500);
    EXPECT_EQ(callback.StoppedCount(), 1u);
    EXPECT_EQ(LinesContaining("Motion state of camera 127.0.0.50:80 (line 1) could not be read"), 1);
    {
      std::lock_guard<std::mutex> guard(driver.mutex);
      driver.lines.clear();
    }
    ASSERT_TRUE(camsim.Get("clear_faults") != "");
    ASSERT_TRUE(callback.WaitForStates(4, 4000));
    EXPECT_EQ(callback.States(), (std::vector<uint8_t>{0, 1, 0, 1}));
    EXPECT_TRUE(channel.Stop());
  }
}

TEST_F(MotionChannelTest, RefusedFramesAreLoggedAndTheStateStillFollows) {
  SetMotion(1, false);
  MotionCallback callback;
  callback.accept = false;
  CMotionChannel channel(0, &driver, &callback);
  ASSERT_TRUE(channel.Start());
  ASSERT_TRUE(callback.WaitForStates(2, 3000));
  EXPECT_FALSE(channel.IsMotionDataFlowing());
  EXPECT_TRUE(driver.HasLine(4,
                             "vantrel::CBaseMotionChannel::CaptureMotionFrameCallback(): Motion detection "
                             "data callback failed (device 127.0.0.50:80, channel 0)"));
  callback.accept = true;
  SetMotion(1, true);
  ASSERT_TRUE(callback.WaitForStates(3, 3000));
  EXPECT_EQ(callback.States().back(), 1) << "the refused pair was not resent";
  EXPECT_TRUE(channel.IsMotionDataFlowing());
  EXPECT_EQ(allocator.LiveCount(), 0u);
}

TEST_F(MotionChannelTest, StopWhileTheCameraHangsEndsWithinItsBound) {
  ASSERT_TRUE(camsim.Fault("kind=delay&ms=30000&match=0x0807&count=0"));
  MotionCallback callback;
  CMotionChannel channel(0, &driver, &callback);
  ASSERT_TRUE(channel.Start());
  Sleep(500);
  const DWORD start = GetTickCount();
  EXPECT_TRUE(channel.Stop());
  EXPECT_LT(GetTickCount() - start, driver.info.timeout + 1000);
  EXPECT_TRUE(callback.States().empty());
}

TEST_F(MotionChannelTest, StopFromInsideTheCallbackEndsDeliveryAtOnce) {
  SetMotion(1, true);
  MotionCallback callback;
  auto* channel = new CMotionChannel(0, &driver, &callback);
  std::atomic<int> stopResult{-1};
  callback.onFrame = [&] {
    if (stopResult.load() == -1) stopResult = channel->Stop() ? 1 : 0;
  };
  ASSERT_TRUE(channel->Start());
  ASSERT_TRUE(callback.WaitForStates(1, 3000));
  Sleep(1500);
  EXPECT_EQ(stopResult.load(), 0) << "the stop cannot finish on the callback's own thread";
  // The first frame of the start's pair asked for the stop: its second frame never comes.
  EXPECT_EQ(callback.States().size(), 1u);
  // The owner finishes the stop on another thread, as its tear-down queue does.
  std::thread([&] { delete channel; }).join();
  EXPECT_EQ(allocator.LiveCount(), 0u);
}

TEST_F(MotionChannelTest, AStopWaitsOutACallbackInFlightAndNoneStartsAfterIt) {
  SetMotion(1, true);
  MotionCallback callback;
  CManualEvent inside;
  callback.onFrame = [&] {
    inside.Set();
    Sleep(1500);
  };
  CMotionChannel channel(0, &driver, &callback);
  ASSERT_TRUE(channel.Start());
  ASSERT_TRUE(inside.Wait(3000));
  const DWORD start = GetTickCount();
  EXPECT_TRUE(channel.Stop());
  const DWORD took = GetTickCount() - start;
  EXPECT_GE(took, 1000u) << "the callback in flight is waited out";
  EXPECT_LT(took, 1500u + driver.info.timeout + 1000);
  const size_t delivered = callback.States().size();
  Sleep(1200);
  EXPECT_EQ(callback.States().size(), delivered) << "no callback after the stop returned";
  EXPECT_EQ(delivered, 1u) << "the pair's second frame was not started";
}

}  // namespace
}  // namespace vantrel::testing
