// Stops and pauses the host makes from inside its own frame callback, through the whole driver
// against the camera simulator, for every live video kind: the call returns at once, no frame
// follows a stop, nothing is freed under the delivering thread, and Close finishes the rest.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "driver/lumivar_ip_capture_driver.h"
#include "foundation/teardown_queue.h"
#include "support/camsim_control.h"
#include "support/fake_host_objects.h"
#include "support/test_camera_channel.h"
#include "vantrel/ipcapture/video_capture.h"

namespace vantrel::testing {
namespace {

class Size final : public ipcapture::IIPVideoSize {
 public:
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  uint32_t GetWidth() override { return 640; }
  uint32_t GetHeight() override { return 480; }
};

class Format final : public ipcapture::IIPVideoFormat {
 public:
  explicit Format(uint32_t format) : format_(format) {}
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  void Reserved1() override {}
  void Reserved2() override {}
  ipcapture::IIPVideoSize* GetSize() override { return &size_; }
  uint32_t GetStreamFormat() override { return format_; }

 private:
  Size size_;
  const uint32_t format_;
};

class Rate final : public ipcapture::IIPVideoRate {
 public:
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  uint32_t GetFrameRate() override { return 0x7019; }
  void Reserved2() override {}
  uint32_t GetQuality() override { return 50; }
  uint32_t GetMotionDetection() override { return 0; }
};

class Settings final : public ipcapture::IIPVideoSettings {
 public:
  explicit Settings(uint32_t format) : format_(format) {}
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  ipcapture::IIPVideoFormat* GetFormat() override { return &format_; }
  ipcapture::IIPVideoRate* GetRate() override { return &rate_; }
  void Reserved3() override {}
  void Reserved4() override {}
  ipcapture::IIPZoneList* GetStreamOption() override { return nullptr; }

 private:
  Format format_;
  Rate rate_;
};

struct DriverDeleter {
  void operator()(CLumivarIPCaptureDriver* d) const { d->ScalarDeletingDestructor(1); }
};

struct Case {
  const char* name;
  const char* camera;
  uint32_t format;
  const char* parameter5;  // null: not given
};

const Case kCases[] = {
    {"H.264 over RTSP", "127.0.0.21", kVideoFormatH264, nullptr},
    {"Motion JPEG over RTSP", "127.0.0.21", kVideoFormatMJPEG, "1"},
    {"Motion JPEG over HTTP", "127.0.0.21", kVideoFormatMJPEG, "0"},
    {"MPEG-4 through the streamer", "127.0.0.30", kVideoFormatMPEG4, nullptr},
};

class LiveStop : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    const Case& c = GetParam();
    CamsimControl camsim(c.camera);
    ASSERT_TRUE(camsim.Reset()) << "camsim is not running";
    params.device.address = c.camera;
    params.device.port = 80;
    params.device.user = "service";
    params.device.password = "camsim";
    if (c.parameter5) params.device.parameters[5] = c.parameter5;
    ASSERT_TRUE(driver->Open(&sink, &allocator, &params));
    video = driver->GetVideoCaptureEx2();
    ASSERT_NE(video, nullptr);
  }
  void TearDown() override {
    const DWORD before = GetTickCount();
    driver->Close();
    std::printf("[%s] Close: %lu ms\n", GetParam().name, static_cast<unsigned long>(GetTickCount() - before));
    EXPECT_EQ(allocator.outstanding.load(), 0);
  }
  bool WaitFor(const std::function<bool()>& done, DWORD ms) {
    for (const DWORD start = GetTickCount(); !done(); Sleep(10))
      if (GetTickCount() - start > ms) return false;
    return true;
  }

  std::unique_ptr<CLumivarIPCaptureDriver, DriverDeleter> driver{new CLumivarIPCaptureDriver()};
  FakeDebugSink sink;
  FakeOpenParams params;
  TestFrameAllocator allocator;
  TestVideoCallback callback;
  ipcapture::IIPVideoCaptureEx2* video = nullptr;
};

TEST_P(LiveStop, StopChannelFromInsideOnFrame) {
  Settings settings(GetParam().format);
  std::atomic<int> calls{0};
  std::atomic<bool> result{false};
  std::atomic<DWORD> stopMs{0};
  callback.onFrame = [&] {
    if (calls++ != 0) return;
    const DWORD before = GetTickCount();
    result = video->StopChannel(0);
    stopMs = GetTickCount() - before + 1;
  };
  ASSERT_TRUE(video->StartChannel(0, &callback, &settings));
  ASSERT_TRUE(WaitFor([&] { return stopMs.load() != 0; }, 30000)) << "no first frame";
  std::printf("[%s] StopChannel inside OnFrame: %lu ms\n", GetParam().name,
              static_cast<unsigned long>(stopMs.load() - 1));
  EXPECT_TRUE(result.load());
  EXPECT_LT(stopMs.load(), 1000u);
  ASSERT_TRUE(CTeardownQueue::Drain(15000));
  Sleep(300);
  EXPECT_EQ(calls.load(), 1) << "a frame after StopChannel returned";
}

TEST_P(LiveStop, PauseFromInsideOnFrameThenResumeAndStop) {
  Settings settings(GetParam().format);
  std::atomic<int> calls{0};
  std::atomic<DWORD> pauseMs{0};
  callback.onFrame = [&] {
    if (calls++ != 0) return;
    const DWORD before = GetTickCount();
    video->PauseChannel(0);
    pauseMs = GetTickCount() - before + 1;
  };
  ASSERT_TRUE(video->StartChannel(0, &callback, &settings));
  ASSERT_TRUE(WaitFor([&] { return pauseMs.load() != 0; }, 30000)) << "no first frame";
  EXPECT_LT(pauseMs.load(), 1000u);
  Sleep(300);
  const int paused = calls.load();
  video->ResumeChannel(0);
  // A channel that cannot pause (snapshots) simply goes on; the others deliver again.
  EXPECT_TRUE(WaitFor([&] { return calls.load() > paused + 2; }, 30000)) << "no frames after the resume";
  const DWORD before = GetTickCount();
  EXPECT_TRUE(video->StopChannel(0));
  const DWORD stopped = GetTickCount() - before;
  const int atStop = calls.load();
  std::printf("[%s] PauseChannel inside OnFrame: %lu ms, StopChannel: %lu ms\n", GetParam().name,
              static_cast<unsigned long>(pauseMs.load() - 1), static_cast<unsigned long>(stopped));
  EXPECT_LT(stopped, 1500u);
  Sleep(300);
  EXPECT_EQ(calls.load(), atStop) << "a frame after StopChannel returned";
}

// A host callback that blocks for 3 s is the host's own time: StopChannel from another thread
// waits it out (the thread is never terminated) and no frame follows.
TEST_P(LiveStop, StopChannelWaitsOutABlockingCallback) {
  Settings settings(GetParam().format);
  std::atomic<int> calls{0};
  std::atomic<bool> finished{false};
  callback.onFrame = [&] {
    if (calls++ != 0) return;
    Sleep(3000);
    finished = true;
  };
  ASSERT_TRUE(video->StartChannel(0, &callback, &settings));
  ASSERT_TRUE(WaitFor([&] { return calls.load() != 0; }, 30000)) << "no first frame";
  Sleep(200);
  const DWORD before = GetTickCount();
  EXPECT_TRUE(video->StopChannel(0));
  const DWORD stopped = GetTickCount() - before;
  std::printf("[%s] StopChannel while OnFrame blocks 3 s: %lu ms\n", GetParam().name,
              static_cast<unsigned long>(stopped));
  EXPECT_TRUE(finished.load()) << "StopChannel returned while the callback still ran";
  EXPECT_LT(stopped, 3000u + 1500u);
  const int atStop = calls.load();
  Sleep(300);
  EXPECT_EQ(calls.load(), atStop);
}

INSTANTIATE_TEST_SUITE_P(Kinds, LiveStop, ::testing::ValuesIn(kCases), [](const auto& info) {
  std::string name = info.param.name;
  for (char& ch : name)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return name;
});

}  // namespace
}  // namespace vantrel::testing
