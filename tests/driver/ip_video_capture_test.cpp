#include "driver/ip_video_capture.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "driver/channel_creators.h"
#include "foundation/teardown_queue.h"
#include "support/fake_driver.h"
#include "support/test_camera_channel.h"

namespace vantrel::testing {
namespace {

using ipcapture::IIPVideoCallback;

// The host's settings object, one record per level as the host hands them out.
class TestSize final : public ipcapture::IIPVideoSize {
 public:
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  uint32_t GetWidth() override { return width; }
  uint32_t GetHeight() override { return height; }
  uint32_t width = 704, height = 576;
};

class TestFormat final : public ipcapture::IIPVideoFormat {
 public:
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  void Reserved1() override {}
  void Reserved2() override {}
  ipcapture::IIPVideoSize* GetSize() override { return hasSize ? &size : nullptr; }
  uint32_t GetStreamFormat() override { return format; }
  TestSize size;
  bool hasSize = true;
  uint32_t format = kVideoFormatH264;
};

class TestRate final : public ipcapture::IIPVideoRate {
 public:
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  uint32_t GetFrameRate() override { return frameRate; }
  void Reserved2() override {}
  uint32_t GetQuality() override { return quality; }
  uint32_t GetMotionDetection() override { return motion; }
  uint32_t frameRate = 0x7019, quality = 2, motion = 0;
};

class TestSettings final : public ipcapture::IIPVideoSettings {
 public:
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  ipcapture::IIPVideoFormat* GetFormat() override { return hasFormat ? &format : nullptr; }
  ipcapture::IIPVideoRate* GetRate() override { return &rate; }
  void Reserved3() override {}
  void Reserved4() override {}
  ipcapture::IIPZoneList* GetStreamOption() override { return option; }
  TestFormat format;
  TestRate rate;
  bool hasFormat = true;
  ipcapture::IIPZoneList* option = reinterpret_cast<ipcapture::IIPZoneList*>(0x1234);
};

}  // namespace

// Everything the creator and the channels it made went through, in order, as short texts.
struct EventLog {
  void Add(std::string e) {
    std::lock_guard<std::mutex> guard(mutex);
    events.push_back(std::move(e));
  }
  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> guard(mutex);
    return std::exchange(events, {});
  }
  std::mutex mutex;
  std::vector<std::string> events;
};

namespace {

class RecordingChannel final : public TestCameraChannel {
 public:
  RecordingChannel(uint32_t channel, IDriver* driver, IIPVideoCallback* callback, EventLog* log, bool startOk)
      : TestCameraChannel(channel, driver, callback, Mode::kIdle), log_(log), startOk_(startOk) {}
  ~RecordingChannel() override { log_->Add("destroy video " + std::to_string(GetChannel())); }
  bool Start(const VideoSettings& settings) override {
    started = settings;
    log_->Add("start video " + std::to_string(GetChannel()) + "/" + std::to_string(settings.streamIndex));
    const bool started = TestCameraChannel::Start(settings);
    live_ = true;
    return started && startOk_;
  }
  void Stop() override {
    // Start stops first too; only a stop of a started channel is worth recording.
    if (std::exchange(live_, false)) log_->Add("stop video " + std::to_string(GetChannel()));
    TestCameraChannel::Stop();
  }
  VideoSettings started;

 private:
  EventLog* const log_;
  const bool startOk_;
  bool live_ = false;
};

}  // namespace
}  // namespace vantrel::testing

// Test doubles of the motion channel and edge-storage handler the creator hands out.
namespace vantrel {

class FakeMotionChannel final : public IMotionChannel {
 public:
  FakeMotionChannel(uint32_t channel, ipcapture::IIPVideoCallback* callback, testing::EventLog* log,
                    bool startOk)
      : channel_(channel), callback_(callback), log_(log), startOk_(startOk) {}
  ~FakeMotionChannel() override { log_->Add("destroy motion"); }
  uint32_t GetChannel() override { return channel_; }
  uint32_t GetMonitorValue() override { return 0; }
  ipcapture::IIPVideoCallback* GetCallback() override { return callback_; }
  uint32_t GetMonitorValue2() override { return 0; }
  void SetEdgeMonitor(IEdgeStorageCallback*) override {}
  bool Start() override {
    log_->Add("start motion");
    return startOk_;
  }
  bool Stop() override {
    log_->Add("stop motion");
    return true;
  }
  void Reserved() override {}
  bool IsMotionDataFlowing() override { return false; }

 private:
  const uint32_t channel_;
  ipcapture::IIPVideoCallback* const callback_;
  testing::EventLog* const log_;
  const bool startOk_;
};

class FakeEdgeStorageHandler final : public IEdgeStorageHandler {
 public:
  explicit FakeEdgeStorageHandler(testing::EventLog* log) : log_(log) {}
  ~FakeEdgeStorageHandler() override { log_->Add("destroy edge"); }
  void RegisterChannel(IEdgeMonitorChannel* c) override { log_->Add(Describe("register", c)); }
  void UnregisterChannel(IEdgeMonitorChannel* c) override { log_->Add(Describe("unregister", c)); }
  ipcapture::IIPVideoCallback* GetChannelCallback(uint32_t) override { return nullptr; }

 private:
  static std::string Describe(const char* what, IEdgeMonitorChannel* c) {
    return std::string(what) + (dynamic_cast<IMotionChannel*>(c) ? " motion" : " video");
  }
  testing::EventLog* const log_;
};

}  // namespace vantrel

namespace vantrel::testing {
namespace {

class TestCreator final : public IVideoChannelCreator {
 public:
  explicit TestCreator(IDriver* driver) : driver_(driver) {}
  ICameraChannel* CreateVideoChannel(uint32_t channel, IIPVideoCallback* callback,
                                     VideoSettings& settings) override {
    if (!callback || settings.format == 99) return nullptr;
    if (settings.format == kVideoFormatDefaultAlt) settings.format = kVideoFormatMJPEG;
    if (make) return make(channel, callback);
    last = new RecordingChannel(channel, driver_, callback, &log, videoStartOk);
    return last;
  }
  IMotionChannel* CreateMotionChannel(uint32_t channel, IIPVideoCallback* callback) override {
    if (!motionAvailable) return nullptr;
    return new FakeMotionChannel(channel, callback, &log, motionStartOk);
  }
  IEdgeStorageHandler* CreateEdgeStorageHandler() override {
    ++edgeHandlersMade;
    if (!edgeAvailable) return nullptr;
    return new FakeEdgeStorageHandler(&log);
  }

  EventLog log;
  // Makes the video channels instead when set.
  std::function<ICameraChannel*(uint32_t, IIPVideoCallback*)> make;
  RecordingChannel* last = nullptr;
  bool videoStartOk = true, motionAvailable = true, motionStartOk = true, edgeAvailable = true;
  int edgeHandlersMade = 0;

 private:
  IDriver* const driver_;
};

class IPVideoCaptureTest : public ::testing::Test {
 protected:
  void SetUp() override { driver.allocator = &allocator; }
  void TearDown() override { EXPECT_EQ(g_activeRuns.load(), 0); }

  bool EnableEdgeStorage(CIPVideoCapture& capture, uint16_t on = 1) {
    return capture.SetProperty("EdgeStorageState", &on, sizeof(on));
  }

  FakeDriver driver;
  TestFrameAllocator allocator;
  TestVideoCallback callback;
  TestSettings settings;
  TestCreator creator{&driver};
};

TEST_F(IPVideoCaptureTest, ChannelNumbersOutsideTheTableAreRefusedBySlot) {
  CIPVideoCapture capture(&creator, 2);
  TestSize size;
  uint32_t state = 77, extra = 77;
  uint16_t value = 1;
  EXPECT_EQ(capture.GetChannelCount(), 2u);
  for (uint32_t channel : {2u, 3u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(channel);
    EXPECT_FALSE(capture.StartChannel(channel, &callback, &settings));
    EXPECT_FALSE(capture.StopChannel(channel));
    EXPECT_FALSE(capture.UpdateChannelSettings(channel, &size, 0));
    EXPECT_FALSE(capture.GetChannelState(channel, &state, &extra, &value, sizeof(value)));
    EXPECT_FALSE(capture.PauseChannel(channel));
    EXPECT_FALSE(capture.ResumeChannel(channel));
    EXPECT_FALSE(capture.StartStream(channel, 1, &callback, &settings));
    EXPECT_FALSE(capture.StopStream(channel, 1));
  }
  // Stream slots are 0 to 3.
  EXPECT_FALSE(capture.StartStream(0, 4, &callback, &settings));
  EXPECT_FALSE(capture.StopStream(0, 4));
  EXPECT_EQ(capture.GetReserved(), nullptr);
  EXPECT_EQ(state, 77u);
  EXPECT_TRUE(creator.log.Take().empty());
}

TEST_F(IPVideoCaptureTest, EdgeStorageStatePropertyRules) {
  struct Case {
    const char* name;
    uint32_t size;
    bool ok;
  };
  const Case cases[] = {
      {"EdgeStorageState", 2, true},
      {"edgestoragestate", 2, true},
      {"EDGESTORAGESTATE", 2, true},
      {"EdgeStorageState", 4, false},
      {"EdgeStorageState", 1, false},
      {"EdgeStorageState", 0, false},
      {"EdgeStorageStat", 2, false},
      {"EdgeStorageStates", 2, false},
      {"", 2, false},
      {nullptr, 2, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name ? c.name : "(null)") + " size " + std::to_string(c.size));
    CIPVideoCapture capture(&creator, 1);
    uint8_t buffer[4] = {7, 0, 0xEE, 0xEE};  // 7 as a little-endian u16
    EXPECT_EQ(capture.SetProperty(c.name, buffer, c.size), c.ok);
    uint8_t out[4] = {0xAA, 0xAA, 0xEE, 0xEE};
    EXPECT_EQ(capture.GetProperty(c.name, out, c.size), c.ok);
    if (c.ok) {
      EXPECT_EQ(out[0], 1);
      EXPECT_EQ(out[1], 0);
    } else {
      EXPECT_EQ(out[0], 0xAA);
    }
    EXPECT_EQ(out[2], 0xEE) << "nothing written beyond two bytes";
  }
  CIPVideoCapture capture(&creator, 1);
  uint16_t value = 0;
  EXPECT_TRUE(EnableEdgeStorage(capture, 0));
  EXPECT_TRUE(capture.GetProperty("EdgeStorageState", &value, 2));
  EXPECT_EQ(value, 0);
}

TEST_F(IPVideoCaptureTest, StartChannelBuildsTheRecordAndReportsState) {
  CIPVideoCapture capture(&creator, 2);
  settings.format.size.width = 0x10000 + 1280;
  settings.format.size.height = 0xABCD0000 + 720;
  settings.rate.frameRate = 0x50000 + 0x7019;
  settings.rate.quality = 0x30004;
  settings.format.format = 16;
  ASSERT_TRUE(capture.StartChannel(1, &callback, &settings));
  RecordingChannel* channel = creator.last;
  ASSERT_NE(channel, nullptr);
  EXPECT_EQ(channel->started.width, 1280u);
  EXPECT_EQ(channel->started.height, 720u);
  EXPECT_EQ(channel->started.frameRate, 0x7019u);
  EXPECT_EQ(channel->started.quality, 4u);
  EXPECT_EQ(channel->started.format, static_cast<uint32_t>(kVideoFormatMJPEG))
      << "the channel is started with the format the creator resolved";
  EXPECT_EQ(channel->started.streamIndex, static_cast<uint32_t>(kRecStream));
  EXPECT_EQ(channel->streamOption, settings.option);

  struct Case {
    uint32_t channelState, reported;
  };
  for (const Case& c : {Case{kCameraReceiving, 0}, Case{kCameraSignalLost, 2}, Case{kCameraStopped, 2}}) {
    channel->SetState(c.channelState);
    uint32_t state = 99, extra = 99;
    uint32_t flag = 0xFFFFFFFF;
    ASSERT_TRUE(capture.GetChannelState(1, &state, &extra, &flag, sizeof(flag)));
    EXPECT_EQ(state, c.reported);
    EXPECT_EQ(extra, 0u);
    EXPECT_EQ(flag, 0u);
  }
  uint32_t state = 99;
  EXPECT_FALSE(capture.GetChannelState(0, &state, nullptr, nullptr, 0)) << "input 0 has no channel";
  EXPECT_TRUE(capture.GetChannelState(1, nullptr, nullptr, nullptr, 4)) << "null out-pointers are skipped";
}

TEST_F(IPVideoCaptureTest, StartChannelRefusals) {
  CIPVideoCapture capture(&creator, 1);
  EXPECT_FALSE(capture.StartChannel(0, nullptr, &settings)) << "no callback: no channel";
  EXPECT_FALSE(capture.StartChannel(0, &callback, nullptr));
  settings.hasFormat = false;
  EXPECT_FALSE(capture.StartChannel(0, &callback, &settings));
  settings.hasFormat = true;
  settings.format.hasSize = false;
  EXPECT_FALSE(capture.StartChannel(0, &callback, &settings));
  settings.format.hasSize = true;
  settings.format.format = 99;
  EXPECT_FALSE(capture.StartChannel(0, &callback, &settings));
  EXPECT_FALSE(capture.StopChannel(0)) << "a channel that could not be created leaves its slot empty";

  // A channel whose start failed stays in the table.
  settings.format.format = kVideoFormatH264;
  creator.videoStartOk = false;
  EXPECT_FALSE(capture.StartChannel(0, &callback, &settings));
  EXPECT_TRUE(capture.StopChannel(0));
}

TEST_F(IPVideoCaptureTest, ChannelLifecycleOrder) {
  struct Case {
    const char* name;
    bool edge, edgeAvailable, motion, motionStartOk;
    bool result;
    std::vector<std::string> start, stop;
  };
  const Case cases[] = {
      {"plain", false, true, false, true, true, {"start video 0/0"}, {"stop video 0", "destroy video 0"}},
      {"with motion",
       false,
       true,
       true,
       true,
       true,
       {"start video 0/0", "start motion"},
       {"stop motion", "destroy motion", "stop video 0", "destroy video 0"}},
      {"motion fails to start",
       false,
       true,
       true,
       false,
       false,
       {"start video 0/0", "start motion"},
       {"stop motion", "destroy motion", "stop video 0", "destroy video 0"}},
      {"edge storage",
       true,
       true,
       true,
       true,
       true,
       {"start video 0/0", "start motion", "register video", "register motion"},
       {"unregister motion", "unregister video", "stop motion", "destroy motion", "stop video 0",
        "destroy video 0"}},
      {"edge storage without handler",
       true,
       false,
       false,
       true,
       true,
       {"start video 0/0"},
       {"stop video 0", "destroy video 0"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestCreator local(&driver);
    local.edgeAvailable = c.edgeAvailable;
    local.motionStartOk = c.motionStartOk;
    settings.rate.motion = c.motion ? 1 : 0;
    CIPVideoCapture capture(&local, 1);
    if (c.edge) {
      ASSERT_TRUE(EnableEdgeStorage(capture));
    }
    EXPECT_EQ(capture.StartChannel(0, &callback, &settings), c.result);
    EXPECT_EQ(local.log.Take(), c.start);
    EXPECT_TRUE(capture.StopChannel(0));
    EXPECT_EQ(local.log.Take(), c.stop);
    EXPECT_FALSE(capture.StopChannel(0));
    EXPECT_EQ(local.edgeHandlersMade, c.edge ? 1 : 0);
  }
}

TEST_F(IPVideoCaptureTest, StartingAgainStopsTheFirstSetFirst) {
  settings.rate.motion = 1;
  CIPVideoCapture capture(&creator, 1);
  ASSERT_TRUE(capture.StartChannel(0, &callback, &settings));
  creator.log.Take();
  ASSERT_TRUE(capture.StartChannel(0, &callback, &settings));
  const std::vector<std::string> expected = {"stop motion",     "destroy motion",  "stop video 0",
                                             "destroy video 0", "start video 0/0", "start motion"};
  EXPECT_EQ(creator.log.Take(), expected);
}

TEST_F(IPVideoCaptureTest, StreamsHaveTheirOwnSlots) {
  CIPVideoCapture capture(&creator, 1);
  for (uint32_t stream = 0; stream < 4; ++stream) {
    ASSERT_TRUE(capture.StartStream(0, stream, &callback, &settings));
    EXPECT_EQ(creator.last->started.streamIndex, stream);
    EXPECT_EQ(creator.last->streamOption, nullptr) << "StartStream passes no stream option";
  }
  creator.log.Take();
  EXPECT_TRUE(capture.StopStream(0, 1));
  EXPECT_FALSE(capture.StopStream(0, 1));
  // StopChannel takes streams 0 and 2 (1 is gone) and leaves the spare slot 3 running.
  EXPECT_TRUE(capture.StopChannel(0));
  EXPECT_TRUE(capture.StopStream(0, 3));
  EXPECT_FALSE(capture.StopChannel(0));
}

TEST_F(IPVideoCaptureTest, RecordingStreamOperationsForwardOnlyToStreamZero) {
  CIPVideoCapture capture(&creator, 1);
  TestSize size;
  size.width = 0x20000 + 320;
  size.height = 240;
  EXPECT_FALSE(capture.UpdateChannelSettings(0, &size, 40));
  EXPECT_FALSE(capture.PauseChannel(0));
  ASSERT_TRUE(capture.StartStream(0, kLiveStream, &callback, &settings));
  EXPECT_FALSE(capture.UpdateChannelSettings(0, &size, 40)) << "only stream 0 counts";
  EXPECT_FALSE(capture.PauseChannel(0));

  ASSERT_TRUE(capture.StartChannel(0, &callback, &settings));
  RecordingChannel* rec = creator.last;
  EXPECT_FALSE(capture.UpdateChannelSettings(0, nullptr, 40));
  EXPECT_TRUE(capture.UpdateChannelSettings(0, &size, 40));
  EXPECT_EQ(rec->CheckSettingsChange(),
            CBaseCameraChannel::kFrameRateChanged | CBaseCameraChannel::kSizeChanged);
  EXPECT_EQ(rec->GetSettings().width, 320u);
  EXPECT_EQ(rec->GetSettings().frameRate, 40u);

  EXPECT_FALSE(capture.ResumeChannel(0));
  EXPECT_TRUE(capture.PauseChannel(0));
  EXPECT_FALSE(capture.PauseChannel(0));
  EXPECT_TRUE(capture.ResumeChannel(0));
}

TEST_F(IPVideoCaptureTest, CyclesAndDestructionLeaveNoWorkerBehind) {
  settings.rate.motion = 1;
  {
    CIPVideoCapture capture(&creator, 2);
    ASSERT_TRUE(EnableEdgeStorage(capture));
    for (int i = 0; i < 10; ++i) {
      ASSERT_TRUE(capture.StartChannel(i % 2, &callback, &settings));
      ASSERT_TRUE(capture.StartStream(i % 2, 1 + i % 3, &callback, &settings));
      if (i % 3 == 0) capture.StopChannel(i % 2);
    }
    EXPECT_EQ(creator.edgeHandlersMade, 1);
    creator.log.Take();
  }
  EXPECT_EQ(g_activeRuns.load(), 0);
  const auto events = creator.log.Take();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back(), "destroy edge") << "the handler outlives every channel";

  // The host destroys through slot 0.
  auto* capture = new CIPVideoCapture(&creator, 1);
  ASSERT_TRUE(capture->StartStream(0, 3, &callback, &settings));
  ipcapture::IIPVideoCaptureEx2* host = capture;
  host->ScalarDeletingDestructor(1);
  EXPECT_EQ(g_activeRuns.load(), 0);
}

// A channel that produces frames and says when it dies; its Pause can be made to block as a
// pause that waits on the camera or on a callback in flight would.
class LifeChannel final : public TestCameraChannel {
 public:
  LifeChannel(IDriver* driver, IIPVideoCallback* callback, std::atomic<bool>* destroyed)
      : TestCameraChannel(0, driver, callback), destroyed_(destroyed) {}
  ~LifeChannel() override {
    Stop();
    destroyed_->store(true);
  }
  bool Pause() override {
    pauseEntered.Set();
    pauseRelease.Wait(5000);
    return TestCameraChannel::Pause();
  }
  CManualEvent pauseEntered;
  CManualEvent pauseRelease;

 private:
  std::atomic<bool>* const destroyed_;
};

// StopChannel from inside OnFrame: the channel leaves the table at once and the call returns,
// but the channel is not freed while its thread is still in the callback; the tear-down queue
// frees it once the callback has returned.
TEST_F(IPVideoCaptureTest, StopChannelFromInsideTheFrameCallbackDefersTheDelete) {
  std::atomic<bool> destroyed{false};
  LifeChannel* made = nullptr;
  creator.make = [&](uint32_t, IIPVideoCallback* cb) {
    return made = new LifeChannel(&driver, cb, &destroyed);
  };
  CIPVideoCapture capture(&creator, 1);
  std::atomic<int> calls{0};
  std::atomic<bool> stopResult{false};
  std::atomic<bool> destroyedOnStack{true};
  std::atomic<DWORD> stopMs{0};
  callback.onFrame = [&] {
    if (calls++ != 0) return;
    const DWORD before = GetTickCount();
    stopResult = capture.StopChannel(0);
    stopMs = GetTickCount() - before + 1;
    // Still running on the channel's worker: it must still exist.
    destroyedOnStack = destroyed.load();
  };
  ASSERT_TRUE(capture.StartChannel(0, &callback, &settings));
  for (int i = 0; i < 500 && stopMs.load() == 0; ++i) Sleep(10);
  ASSERT_NE(stopMs.load(), 0u);
  EXPECT_TRUE(stopResult.load());
  EXPECT_LT(stopMs.load(), 1000u);
  EXPECT_FALSE(destroyedOnStack.load()) << "freed while its thread was inside the callback";
  EXPECT_FALSE(capture.StopChannel(0)) << "gone from the table at once";
  ASSERT_TRUE(CTeardownQueue::Drain(10000));
  EXPECT_TRUE(destroyed.load());
  EXPECT_EQ(calls.load(), 1) << "no frame after the stop returned";
  EXPECT_EQ(allocator.outstanding.load(), 0);
}

// A pause that waits (on the camera, on a callback in flight) must not hold the table: the
// host's other calls for the device go on, and a host that takes its own lock around
// PauseChannel and in OnFrame does not deadlock with us.
TEST_F(IPVideoCaptureTest, APauseInProgressDoesNotHoldTheOtherCalls) {
  std::atomic<bool> destroyed{false};
  LifeChannel* made = nullptr;
  creator.make = [&](uint32_t, IIPVideoCallback* cb) {
    return made = new LifeChannel(&driver, cb, &destroyed);
  };
  CIPVideoCapture capture(&creator, 2);
  ASSERT_TRUE(capture.StartChannel(0, &callback, &settings));
  ASSERT_NE(made, nullptr);
  HANDLE pausing = CreateThread(
      nullptr, 0, [](void* p) -> DWORD { return static_cast<CIPVideoCapture*>(p)->PauseChannel(0) ? 1 : 0; },
      &capture, 0, nullptr);
  ASSERT_TRUE(made->pauseEntered.Wait(5000));
  const DWORD before = GetTickCount();
  uint32_t state = 99;
  EXPECT_TRUE(capture.GetChannelState(0, &state, nullptr, nullptr, 0));
  TestSize size;
  EXPECT_TRUE(capture.UpdateChannelSettings(0, &size, 25));
  EXPECT_FALSE(capture.ResumeChannel(1));
  EXPECT_LT(GetTickCount() - before, 1000u) << "the calls waited for the pause";
  made->pauseRelease.Set();
  EXPECT_EQ(WaitForSingleObject(pausing, 10000), WAIT_OBJECT_0);
  DWORD paused = 0;
  GetExitCodeThread(pausing, &paused);
  CloseHandle(pausing);
  EXPECT_EQ(paused, 1u);
  EXPECT_TRUE(capture.StopChannel(0));
  EXPECT_TRUE(destroyed.load());
}

}  // namespace
}  // namespace vantrel::testing
