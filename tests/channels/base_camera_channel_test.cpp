#include "channels/base_camera_channel.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <tuple>

#include "support/fake_driver.h"
#include "support/test_camera_channel.h"

namespace vantrel::testing {
namespace {

using Mode = TestCameraChannel::Mode;

constexpr char kStateMethod[] = "vantrel::CBaseCameraChannel::SetCameraState: ";

class BaseCameraChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    driver.allocator = &allocator;
    driver.info.timeout = 200;
  }

  VideoSettings Settings(uint32_t streamIndex = kRecStream) {
    VideoSettings s;
    s.frameRate = 0x7019;
    s.width = 704;
    s.height = 576;
    s.quality = 3;
    s.format = kVideoFormatH264;
    s.streamIndex = streamIndex;
    return s;
  }

  FakeDriver driver;
  TestFrameAllocator allocator;
  TestVideoCallback callback;
  TestEdgeMonitor monitor;
};

struct StateMessageCase {
  uint32_t channelCount;
  uint32_t channel;
  uint32_t streamIndex;
  uint32_t stateWhenOffline;
  uint32_t onlineLevel;
  const char* onlineText;
  uint32_t offlineLevel;
  const char* offlineText;
};

TEST_F(BaseCameraChannelTest, StateChangesAreAnnouncedOnceWithTheirMessages) {
  const StateMessageCase cases[] = {
      {1, 0, kRecStream, kCameraSignalLost, 3, "Camera 127.0.0.1 is online (Rec)", 1,
       "Signal was lost for camera 127.0.0.1 (Rec)"},
      {1, 0, kLiveStream, kCameraStopped, 3, "Camera 127.0.0.1 is online (Live)", 3,
       "Camera 127.0.0.1 is offline. Channel was stopped (Live)"},
      {1, 0, kRemoteStream, kCameraReceiving, 3, "Camera 127.0.0.1 is online (Remote)", 1,
       "Camera 127.0.0.1 is offline or failed (Remote)"},
      {1, 0, 3, kCameraReceiving, 3, "Camera 127.0.0.1 is online ", 1,
       "Camera 127.0.0.1 is offline or failed "},
      {4, 2, kRecStream, kCameraSignalLost, 3, "Video-server 127.0.0.1 (channel 2) is online (Rec)", 1,
       "Signal was lost for video-server 127.0.0.1 (channel 2) (Rec)"},
      {4, 1, kLiveStream, kCameraStopped, 3, "Video-server 127.0.0.1 (channel 1) is online (Live)", 3,
       "Video-server 127.0.0.1 (channel 1) is offline. Channel was stopped (Live)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.onlineText);
    driver.channelCount = c.channelCount;
    TestCameraChannel channel(c.channel, &driver, &callback, Mode::kIdle);
    ASSERT_TRUE(channel.Start(Settings(c.streamIndex)));
    driver.lines.clear();

    channel.SetState(kCameraReceiving);
    channel.SetCameraState(true);
    channel.SetCameraState(true);
    channel.SetState(c.stateWhenOffline);
    channel.SetCameraState(false);
    channel.SetCameraState(false);

    const auto lines = driver.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].level, c.onlineLevel);
    EXPECT_EQ(lines[0].text, std::string(kStateMethod) + c.onlineText);
    EXPECT_EQ(lines[1].level, c.offlineLevel);
    EXPECT_EQ(lines[1].text, std::string(kStateMethod) + c.offlineText);

    // Already offline: stopping adds nothing.
    channel.Stop();
    EXPECT_EQ(driver.Lines().size(), 2u);
    EXPECT_EQ(channel.GetState(), kCameraStopped);
  }
}

TEST_F(BaseCameraChannelTest, StopOnANeverStartedChannelIsSilentAndImmediate) {
  TestCameraChannel channel(0, &driver, &callback);
  EXPECT_EQ(channel.GetState(), kCameraStopped);
  const DWORD before = GetTickCount();
  channel.Stop();
  EXPECT_LT(GetTickCount() - before, 100u);
  EXPECT_TRUE(driver.Lines().empty());
}

TEST_F(BaseCameraChannelTest, StopAfterOnlineAnnouncesTheStop) {
  TestCameraChannel channel(0, &driver, &callback, Mode::kIdle);
  ASSERT_TRUE(channel.Start(Settings()));
  channel.SetState(kCameraReceiving);
  channel.SetCameraState(true);
  channel.Stop();
  EXPECT_TRUE(driver.HasLine(
      3, std::string(kStateMethod) + "Camera 127.0.0.1 is offline. Channel was stopped (Rec)"));
  EXPECT_EQ(channel.GetState(), kCameraStopped);
}

TEST_F(BaseCameraChannelTest, AStoppedChannelStaysStoppedAndOffline) {
  TestCameraChannel channel(0, &driver, &callback, Mode::kIdle);
  ASSERT_TRUE(channel.Start(Settings()));
  channel.SetState(kCameraReceiving);
  channel.SetCameraState(true);
  channel.Stop();
  driver.lines.clear();

  // Late calls of a receive thread that has not noticed the stop yet.
  const uint32_t lateStates[] = {kCameraReceiving, 1, kCameraSignalLost};
  for (uint32_t state : lateStates) {
    SCOPED_TRACE(state);
    channel.SetState(state);
    EXPECT_EQ(channel.GetState(), kCameraStopped);
    channel.SetCameraState(true);
    channel.SetCameraState(false);
  }
  EXPECT_TRUE(driver.Lines().empty());

  // A new run takes states and goes online again.
  ASSERT_TRUE(channel.Start(Settings()));
  channel.SetState(kCameraSignalLost);
  EXPECT_EQ(channel.GetState(), kCameraSignalLost);
  channel.SetCameraState(true);
  EXPECT_TRUE(driver.HasLine(kLogInfo, std::string(kStateMethod) + "Camera 127.0.0.1 is online (Rec)"));
}

// A worker that keeps announcing the camera online and moving it between receiving and signal
// lost until it sees the stop, then reports it offline on its way out, as a receive loop does.
class ChurningChannel : public CBaseCameraChannel {
 public:
  ChurningChannel(IDriver* driver, ipcapture::IIPVideoCallback* callback)
      : CBaseCameraChannel(0, driver, callback) {}
  ~ChurningChannel() override { Stop(); }
  void SetStreamOption(ipcapture::IIPZoneList*) override {}

  std::atomic<int> rounds{0};

 protected:
  void Run() override {
    for (uint32_t i = 0; !GetStopEvent().IsSet(); ++i) {
      SetState(i % 2 ? kCameraReceiving : kCameraSignalLost);
      SetCameraState(true);
      ++rounds;
    }
    SetState(kCameraReceiving);
    SetCameraState(false);
  }
};

TEST_F(BaseCameraChannelTest, AHostStopIsReportedOnlyAsAStopWhileTheWorkerRaces) {
  const std::string online = std::string(kStateMethod) + "Camera 127.0.0.1 is online (Live)";
  const std::string stopped =
      std::string(kStateMethod) + "Camera 127.0.0.1 is offline. Channel was stopped (Live)";
  ChurningChannel channel(&driver, &callback);
  for (int cycle = 0; cycle < 200; ++cycle) {
    SCOPED_TRACE(cycle);
    driver.lines.clear();
    ASSERT_TRUE(channel.Start(Settings(kLiveStream)));
    // Stop in the middle of the churn, at a varying point of it.
    const int from = channel.rounds.load();
    for (int i = 0; i < 2000 && channel.rounds.load() < from + 1 + cycle % 7; ++i) Sleep(1);
    channel.Stop();
    EXPECT_EQ(channel.GetState(), kCameraStopped);

    const auto lines = driver.Lines();
    ASSERT_FALSE(lines.empty());
    for (const auto& line : lines) {
      EXPECT_TRUE(line.text == online || line.text == stopped) << line.text;
    }
    EXPECT_EQ(lines.back().text, stopped) << "the channel must end offline";
    size_t stops = 0;
    for (const auto& line : lines) stops += line.text == stopped;
    EXPECT_EQ(stops, 1u);
    if (::testing::Test::HasFailure()) break;
  }
}

TEST_F(BaseCameraChannelTest, CheckSettingsChangeReportsWhatDiffers) {
  struct Case {
    uint32_t frameRate, width, height;
    uint32_t expected;
  };
  // Start settings: frame rate 0x7019, 704 x 576.
  const Case cases[] = {
      {0x7019, 704, 576, 0},
      {0x7005, 704, 576, CBaseCameraChannel::kFrameRateChanged},
      {0x7019, 1280, 576, CBaseCameraChannel::kSizeChanged},
      {0x7019, 704, 480, CBaseCameraChannel::kSizeChanged},
      {40, 1920, 1080, CBaseCameraChannel::kFrameRateChanged | CBaseCameraChannel::kSizeChanged},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    TestCameraChannel channel(0, &driver, &callback, Mode::kIdle);
    ASSERT_TRUE(channel.Start(Settings()));
    EXPECT_EQ(channel.CheckSettingsChange(), 0u) << "nothing queued yet";
    EXPECT_TRUE(channel.UpdateSettings(c.frameRate, c.width, c.height));
    EXPECT_EQ(channel.CheckSettingsChange(), c.expected);
    EXPECT_EQ(channel.GetSettings().frameRate, c.frameRate);
    EXPECT_EQ(channel.GetSettings().width, c.width);
    EXPECT_EQ(channel.GetSettings().height, c.height);
    EXPECT_EQ(channel.CheckSettingsChange(), 0u) << "taken over once";
  }
}

TEST_F(BaseCameraChannelTest, RestartDropsAnUpdateQueuedForTheEarlierRun) {
  TestCameraChannel channel(0, &driver, &callback, Mode::kIdle);
  ASSERT_TRUE(channel.Start(Settings()));
  channel.UpdateSettings(40, 320, 240);
  ASSERT_TRUE(channel.Start(Settings()));
  EXPECT_EQ(channel.CheckSettingsChange(), 0u);
  EXPECT_EQ(channel.GetSettings().width, 704u);
}

TEST_F(BaseCameraChannelTest, WorkerFramesReachHostAndMonitorAndAreAllReleased) {
  TestCameraChannel channel(1, &driver, &callback);
  channel.SetEdgeMonitor(&monitor);
  ASSERT_TRUE(channel.Start(Settings()));
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(callback.frameEvent.Wait(5000));
  channel.Stop();
  EXPECT_GE(callback.frames.load(), 3);
  EXPECT_EQ(allocator.outstanding.load(), 0);
  std::lock_guard<std::mutex> guard(monitor.mutex);
  ASSERT_FALSE(monitor.seen.empty());
  EXPECT_EQ(monitor.seen.size(), static_cast<size_t>(callback.frames.load()));
  for (const auto& s : monitor.seen) {
    EXPECT_EQ(s.channel, 1u);
    EXPECT_GT(s.time, kFileTimeOf2000);
  }
}

TEST_F(BaseCameraChannelTest, FrameHandOverRules) {
  SYSTEMTIME t{2023, 5, 0, 17, 10, 20, 30, 400};
  const uint64_t expectedTime = SystemTimeToFileTimeValue(t);
  struct Case {
    const char* name;
    bool withCallback, paused, accept, throws, nullFrame;
    bool result;
    int hostFrames;
    size_t monitorFrames;
  };
  const Case cases[] = {
      {"accepted", true, false, true, false, false, true, 1, 1},
      {"refused: monitor not told", true, false, false, false, false, false, 1, 0},
      {"host throws", true, false, true, true, false, false, 0, 0},
      {"paused: monitor only", true, true, true, false, false, true, 0, 1},
      {"paused without host callback", false, true, true, false, false, true, 0, 1},
      {"no host callback", false, false, true, false, false, false, 0, 0},
      {"null frame", true, false, true, false, true, false, 0, 0},
      {"paused, null frame", true, true, true, false, true, true, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestVideoCallback host;
    TestEdgeMonitor edge;
    host.accept = c.accept;
    host.throwOnFrame = c.throws;
    TestCameraChannel channel(0, &driver, c.withCallback ? &host : nullptr);
    if (c.paused) {
      ASSERT_TRUE(channel.Pause());
    }
    channel.SetEdgeMonitor(&edge);
    FakeFrame frame(0, 8, "");
    frame.SetTime(&t);
    driver.lines.clear();

    EXPECT_EQ(channel.SendFrameCallback(c.nullFrame ? nullptr : &frame), c.result);
    EXPECT_EQ(host.frames.load(), c.hostFrames);
    ASSERT_EQ(edge.SeenCount(), c.monitorFrames);
    if (c.monitorFrames) {
      EXPECT_EQ(edge.seen[0].time, expectedTime);
    }
    EXPECT_EQ(driver.HasLine(1,
                             "vantrel::CBaseCameraChannel::SendFrameCallback(): Unexpected exception, device "
                             "127.0.0.1:80"),
              c.throws);
  }
}

TEST_F(BaseCameraChannelTest, SignalLossReachesTheHostOnlyForTheRecordingStream) {
  for (uint32_t stream : {kRecStream, kLiveStream, kRemoteStream}) {
    SCOPED_TRACE(stream);
    TestVideoCallback host;
    TestEdgeMonitor edge;
    TestCameraChannel channel(3, &driver, &host, Mode::kIdle);
    ASSERT_TRUE(channel.Start(Settings(stream)));
    channel.NotifySignalLost();
    channel.SetEdgeMonitor(&edge);
    channel.NotifySignalLost();
    channel.Stop();
    EXPECT_EQ(host.signalLost.load(), stream == kRecStream ? 2 : 0);
    ASSERT_EQ(edge.lost.size(), 1u);
    EXPECT_EQ(edge.lost[0], 3u);
  }
}

// A worker that overruns the stop's bound may be in host code or hold a lock: it is logged and
// waited out, never terminated, and the bounded part of the stop does not wait for it.
TEST_F(BaseCameraChannelTest, AWorkerIgnoringStopIsWaitedOutNeverTerminated) {
  for (uint32_t count : {1u, 2u}) {
    driver.channelCount = count;
    driver.lines.clear();
    TestCameraChannel channel(1, &driver, &callback, Mode::kIgnoreStop);
    channel.ignoreStopMs = 1500;
    ASSERT_TRUE(channel.Start(Settings()));
    ASSERT_TRUE(channel.running.Wait(5000));
    DWORD before = GetTickCount();
    EXPECT_FALSE(channel.BeginStop(100)) << "the worker still runs";
    EXPECT_LT(GetTickCount() - before, 1000u);
    before = GetTickCount();
    channel.Stop();
    const DWORD elapsed = GetTickCount() - before;
    EXPECT_EQ(g_activeRuns.load(), 0) << "the worker ended by itself";
    EXPECT_GE(elapsed, 2 * driver.info.timeout - 20);
    const std::string device = count == 1 ? "camera 127.0.0.1" : "video-server 127.0.0.1 (channel 1)";
    const std::string prefix = "vantrel::CBaseCameraChannel::StopThread: Video capture thread for " + device +
                               " did not stop within 400 ms";
    bool logged = false;
    for (const auto& line : driver.Lines()) logged |= line.level == 2 && line.text.rfind(prefix, 0) == 0;
    EXPECT_TRUE(logged);
    // The channel is reusable after an overrun stop.
    EXPECT_TRUE(channel.BeginStop(0));
  }
}

// The host's callback is its own thread time: a stop from another thread waits for it (no
// termination, the frame is released), and no callback starts once the stop returned, also
// from a delivering thread that is not the worker (the RTP queue thread of a live stream).
TEST_F(BaseCameraChannelTest, StopWaitsOutABlockingCallbackAndNoneStartsAfterIt) {
  std::atomic<bool> finished{false};
  std::atomic<bool> blockOnce{true};
  callback.onFrame = [&] {
    if (!blockOnce.exchange(false)) return;
    Sleep(1500);
    finished = true;
  };
  TestCameraChannel channel(0, &driver, &callback);
  ASSERT_TRUE(channel.Start(Settings()));
  ASSERT_TRUE(channel.running.Wait(5000));
  std::atomic<bool> delivering{true};
  std::atomic<int> deliveredAfterStop{0};
  std::atomic<bool> stopped{false};
  CManualEvent packetThreadRuns;
  auto args = std::make_tuple(&channel, &delivering, &stopped, &deliveredAfterStop, &packetThreadRuns);
  HANDLE packetThread = CreateThread(
      nullptr, 0,
      [](void* p) -> DWORD {
        auto [ch, delivering, stopped, after, runs] =
            *static_cast<std::tuple<TestCameraChannel*, std::atomic<bool>*, std::atomic<bool>*,
                                    std::atomic<int>*, CManualEvent*>*>(p);
        FakeFrame frame(0, 8, "");
        SYSTEMTIME now;
        GetSystemTime(&now);
        frame.SetTime(&now);
        runs->Set();
        while (delivering->load()) {
          const bool wasStopped = stopped->load();
          if (ch->SendFrameCallback(&frame) && wasStopped) ++*after;
          Sleep(1);
        }
        return 0;
      },
      &args, 0, nullptr);
  ASSERT_NE(packetThread, nullptr);
  ASSERT_TRUE(packetThreadRuns.Wait(5000));
  while (callback.inFlight.load() == 0 || blockOnce.load()) Sleep(1);
  channel.Stop();
  stopped = true;
  EXPECT_TRUE(finished.load()) << "the stop returned while the host's callback still ran";
  EXPECT_EQ(callback.inFlight.load(), 0);
  Sleep(200);
  delivering = false;
  WaitForSingleObject(packetThread, 5000);
  CloseHandle(packetThread);
  EXPECT_EQ(deliveredAfterStop.load(), 0);
  EXPECT_EQ(allocator.outstanding.load(), 0);
  EXPECT_EQ(g_activeRuns.load(), 0);
}

// A stop from inside the channel's own callback cannot wait for that callback: it returns at
// once, tells the owner so, and still closes the channel to every later callback.
TEST_F(BaseCameraChannelTest, AStopFromInsideTheCallbackReturnsAtOnce) {
  TestCameraChannel channel(0, &driver, &callback);
  std::atomic<bool> inside{false};
  std::atomic<bool> beginStop{true};
  std::atomic<DWORD> stopMs{0};
  std::atomic<int> calls{0};
  callback.onFrame = [&] {
    if (calls++ != 0) return;
    inside = channel.IsInsideCallback();
    const DWORD before = GetTickCount();
    beginStop = channel.BeginStop(5000);
    channel.Stop();
    stopMs = GetTickCount() - before + 1;
  };
  ASSERT_TRUE(channel.Start(Settings()));
  for (int i = 0; i < 500 && stopMs.load() == 0; ++i) Sleep(10);
  ASSERT_NE(stopMs.load(), 0u);
  EXPECT_TRUE(inside.load());
  EXPECT_FALSE(beginStop.load()) << "the owner must not free the channel from inside its callback";
  EXPECT_LT(stopMs.load(), 1000u);
  EXPECT_FALSE(channel.IsInsideCallback());
  channel.Stop();
  EXPECT_EQ(calls.load(), 1);
  EXPECT_EQ(g_activeRuns.load(), 0);
}

TEST_F(BaseCameraChannelTest, AWorkerStoppingItselfDoesNotWaitForItself) {
  TestCameraChannel channel(0, &driver, &callback, Mode::kStopItself);
  ASSERT_TRUE(channel.Start(Settings()));
  ASSERT_TRUE(channel.running.Wait(5000));
  for (int i = 0; i < 100 && g_activeRuns.load() != 0; ++i) Sleep(10);
  EXPECT_EQ(g_activeRuns.load(), 0);
  channel.Stop();
  EXPECT_TRUE(driver.Lines().empty());
}

TEST_F(BaseCameraChannelTest, StartStopCyclesLeaveNoWorkerBehind) {
  TestCameraChannel channel(0, &driver, &callback);
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(channel.Start(Settings()));
    if (i % 2) {
      ASSERT_TRUE(channel.Start(Settings())) << "restart while running";
    }
    ASSERT_TRUE(channel.running.Wait(5000));
    channel.Stop();
    EXPECT_EQ(g_activeRuns.load(), 0);
  }
  EXPECT_EQ(channel.runs.load(), 30);
  EXPECT_EQ(allocator.outstanding.load(), 0);
  {
    TestCameraChannel destroyedRunning(0, &driver, &callback);
    ASSERT_TRUE(destroyedRunning.Start(Settings()));
  }
  EXPECT_EQ(g_activeRuns.load(), 0);
}

}  // namespace
}  // namespace vantrel::testing
