// A camera channel for tests built on CBaseCameraChannel, and the host-side fakes around it:
// a frame allocator that frees what it is given back, a video callback and an edge-storage monitor. The
// channel's worker produces frames from the driver's allocator until it is asked to stop (or, for the stop
// tests, ignores the request).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "channels/base_camera_channel.h"
#include "core/driver_services.h"
#include "foundation/event.h"
#include "foundation/time_value.h"
#include "support/fake_frame_allocator.h"
#include "vantrel/ipcapture/host_objects.h"
#include "vantrel/ipcapture/video_capture.h"

namespace vantrel::testing {

class TestFrameAllocator final : public ipcapture::IIPFrameAllocator {
 public:
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  void Reserved1() override {}
  ipcapture::IIPFrame* Allocate(uint32_t fourcc, uint32_t size, const char*) override {
    ++outstanding;
    auto* frame = new FakeFrame(fourcc, size, "");
    frame->fourcc = fourcc;  // until the driver sets its own
    return frame;
  }
  void* AllocateAudio(uint32_t, uint32_t, const char*) override { return nullptr; }
  void Reserved4() override {}
  void Reserved5() override {}
  void Release(void* frame) override {
    if (!frame) return;
    --outstanding;
    delete static_cast<FakeFrame*>(static_cast<ipcapture::IIPFrame*>(frame));
  }

  std::atomic<int> outstanding{0};
};

class TestVideoCallback final : public ipcapture::IIPVideoCallback {
 public:
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  bool OnFrame(ipcapture::IIPFrame*) override {
    if (throwOnFrame) throw std::runtime_error("host failure");
    ++inFlight;
    ++frames;
    frameEvent.Set();
    // What a host does inside its callback: block, or stop the channel it came from.
    if (onFrame) onFrame();
    --inFlight;
    return accept.load();
  }
  void OnMotionDataStopped(uint32_t) override {}
  void OnSignalLost() override { ++signalLost; }

  std::atomic<bool> accept{true};
  std::atomic<bool> throwOnFrame{false};
  std::atomic<int> frames{0};
  std::atomic<int> signalLost{0};
  std::atomic<int> inFlight{0};
  CEvent frameEvent{false};
  // Set before the channel starts; runs inside every OnFrame.
  std::function<void()> onFrame;
};

class TestEdgeMonitor final : public IEdgeStorageCallback {
 public:
  void OnFrameSeen(uint32_t channel, uint64_t time, uint64_t cameraTime) override {
    std::lock_guard<std::mutex> guard(mutex);
    seen.push_back({channel, time});
    lastCameraTime = cameraTime;
  }
  void OnSignalLost(uint32_t channel) override {
    std::lock_guard<std::mutex> guard(mutex);
    lost.push_back(channel);
  }
  void OnNewestFrameTime(uint32_t, uint64_t) override {}
  void OnDataSignalLost(uint32_t) override {}

  uint64_t lastCameraTime = 0;  // guarded by mutex
  struct Seen {
    uint32_t channel;
    uint64_t time;
  };
  size_t SeenCount() {
    std::lock_guard<std::mutex> guard(mutex);
    return seen.size();
  }
  std::mutex mutex;
  std::vector<Seen> seen;
  std::vector<uint32_t> lost;
};

// Counts worker runs across every test channel, so tests can check that no worker outlives
// the object that stopped it.
inline std::atomic<int> g_activeRuns{0};

class TestCameraChannel : public CBaseCameraChannel {
 public:
  enum class Mode { kProduceFrames, kIdle, kIgnoreStop, kStopItself };

  TestCameraChannel(uint32_t channel, IDriver* driver, ipcapture::IIPVideoCallback* callback,
                    Mode mode = Mode::kProduceFrames)
      : CBaseCameraChannel(channel, driver, callback), mode_(mode) {}
  ~TestCameraChannel() override { Stop(); }

  void SetStreamOption(ipcapture::IIPZoneList* option) override { streamOption = option; }
  bool Pause() override {
    if (IsPaused()) return false;
    SetPaused(true);
    return true;
  }
  bool Resume() override {
    if (!IsPaused()) return false;
    SetPaused(false);
    return true;
  }

  using CBaseCameraChannel::CheckSettingsChange;
  using CBaseCameraChannel::GetSettings;
  using CBaseCameraChannel::NotifySignalLost;
  using CBaseCameraChannel::SendFrameCallback;
  using CBaseCameraChannel::SetCameraState;
  using CBaseCameraChannel::SetState;

  ipcapture::IIPZoneList* streamOption = nullptr;
  // How long a kIgnoreStop worker goes on after the stop (a request that ends at its time-out).
  uint32_t ignoreStopMs = 1000;
  std::atomic<int> runs{0};
  std::atomic<int> framesProduced{0};
  CManualEvent running;

 protected:
  void Run() override {
    ++g_activeRuns;
    ++runs;
    running.Set();
    switch (mode_) {
      case Mode::kProduceFrames:
        ProduceFrames();
        break;
      case Mode::kIdle:
        GetStopEvent().Wait(kWaitInfinite);
        break;
      case Mode::kIgnoreStop:
        // Blocks somewhere the stop event cannot reach, holding no lock, until its own time-out.
        for (uint32_t waited = 0; waited < ignoreStopMs; waited += 10) Sleep(10);
        break;
      case Mode::kStopItself:
        StopThread();
        break;
    }
    --g_activeRuns;
  }

 private:
  void ProduceFrames() {
    while (!GetStopEvent().Wait(5)) {
      ipcapture::IIPFrameAllocator* allocator = GetDriver()->GetFrameAllocator();
      ipcapture::IIPFrame* frame = allocator->Allocate(0x34363248, 16, "test");  // "H264"
      if (!frame) continue;
      SYSTEMTIME now;
      GetSystemTime(&now);
      frame->SetTime(&now);
      frame->SetDataSize(16);
      SendFrameCallback(frame);
      ++framesProduced;
      allocator->Release(frame);
    }
  }

  const Mode mode_;
};

}  // namespace vantrel::testing
