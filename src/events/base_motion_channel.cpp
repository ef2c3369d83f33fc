#include "events/base_motion_channel.h"

// clang-format off
// winsock2.h must come before windows.h.
#include <winsock2.h>
#include <windows.h>
// clang-format on

#include <array>

#include "events/motion_state.h"
#include "vantrel/ipcapture/host_objects.h"
#include "vantrel/ipcapture/video_capture.h"

namespace vantrel {

namespace {

constexpr uint32_t kMotionFourCC = 'M' | 'E' << 8 | 'M' << 16 | 'D' << 24;
constexpr uint32_t kStopPollMs = 20;

}  // namespace

CBaseMotionChannel::CBaseMotionChannel(uint32_t channel, IDriver* driver,
                                       ipcapture::IIPVideoCallback* callback)
    : CBaseThread(driver), driver_(driver), callback_(callback), channel_(channel) {}

CBaseMotionChannel::~CBaseMotionChannel() {
  // Only reached with a stopped thread when the derived class did its part; this is the last
  // safety net for Winsock.
  if (winsockStarted_) WSACleanup();
}

uint32_t CBaseMotionChannel::GetStopBoundMs() const { return driver_->GetDeviceInfo().timeout + 1000; }

bool CBaseMotionChannel::Start() {
  if (!Stop()) {
    // An earlier thread is still in a request the abort could not end; it must not overlap
    // with a new one, and Start is not called from the channel's own callback.
    JoinThread(GetStopBoundMs());
  }
  gate_.Open();
  WSADATA data;
  winsockStarted_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  flowing_ = false;
  stateKnown_ = false;
  lastCallback_.Restart();
  if (StartThread("Motion Detection Thread")) return true;
  if (winsockStarted_) WSACleanup();
  winsockStarted_ = false;
  return false;
}

bool CBaseMotionChannel::Stop() {
  GetStopEvent().Set();
  AbortRequests();
  // From here on no host callback starts; one in flight on another thread is the host's time
  // and is waited out. Called from the host's callback on this very thread: the thread ends
  // after the callback, and the owner finishes the stop elsewhere.
  if (!gate_.Close() || IsCurrentThread()) return false;
  // What is left is a request, which the abort ends (or the platform at its time-out).
  const uint32_t bound = GetStopBoundMs();
  const DWORD started = GetTickCount();
  while (IsRunning()) {
    if (GetTickCount() - started >= bound) {
      driver_->Log(kLogWarning,
                   "%s: Motion Detection Thread of channel %u did not end within %u ms (device %s)",
                   "vantrel::CBaseMotionChannel::Stop", channel_, bound, driver_->GetDeviceAddress().c_str());
      return false;
    }
    AbortRequests();
    Sleep(kStopPollMs);
  }
  JoinThread(0);
  if (winsockStarted_) WSACleanup();
  winsockStarted_ = false;
  return true;
}

void CBaseMotionChannel::OnMotionState(uint8_t state) {
  Notify_MotionDataReceived();
  lastCallback_.Restart();
  if (!stateKnown_) {
    // The host only learns from edges: the first news after start or after a silence is a
    // complete one, from the opposite state to the real one.
    CaptureMotionFrameCallback(state != kMotionStateNone ? kMotionStateNone : kMotionStateMotion);
    CaptureMotionFrameCallback(state);
    lastState_ = state;
    stateKnown_ = true;
  } else if (state != lastState_) {
    CaptureMotionFrameCallback(state);
    lastState_ = state;
  }
}

void CBaseMotionChannel::CheckMotionTimeout() {
  if (lastCallback_.ElapsedMs() <= driver_->GetDeviceInfo().signalTimeout) return;
  if (flowing_.exchange(false) && callback_) {
    CCallbackGate::Scope scope(gate_);
    if (scope) {
      try {
        callback_->OnMotionDataStopped(0);
      } catch (...) {
      }
    }
  }
  stateKnown_ = false;
}

void CBaseMotionChannel::Notify_MotionDataReceived() {
  IEdgeStorageCallback* monitor = edgeMonitor_.load();
  if (!monitor) return;
  try {
    monitor->OnFrameSeen(channel_, GetCurrentFileTime(), 0);
  } catch (...) {
    driver_->Log(kLogError, "%s: Unhandled exception in driver instance for device %s",
                 "vantrel::CBaseMotionChannel::Notify_MotionDataReceived",
                 driver_->GetDeviceAddress().c_str());
  }
}

void CBaseMotionChannel::CaptureMotionFrameCallback(uint8_t state) {
  ipcapture::IIPFrameAllocator* allocator = driver_->GetFrameAllocator();
  if (!allocator || !callback_) return;
  // The allocator is the host's too: the whole delivery runs inside the gate.
  CCallbackGate::Scope scope(gate_);
  if (!scope) return;
  ipcapture::IIPFrame* frame = allocator->Allocate(kMotionFourCC, kFrameAllocationSize, "CBaseMotionChannel");
  if (!frame) return;
  bool accepted = false;
  try {
    if (uint8_t* data = frame->GetData()) {
      FillMotionFrameData(state, std::span<uint8_t, kMotionFrameDataSize>(data, kMotionFrameDataSize));
      frame->SetDataSize(kMotionFrameDataSize);
      frame->SetFourCC(kMotionFourCC);
      frame->SetWidth(kFrameWidth);
      frame->SetHeight(kFrameHeight);
      frame->SetSizeClass(kFrameSizeClass);
      SYSTEMTIME now{};
      GetSystemTime(&now);
      frame->SetTime(&now);
      accepted = callback_->OnFrame(frame);
    }
  } catch (...) {
    accepted = false;
  }
  if (accepted) {
    lastCallback_.Restart();
    flowing_ = true;
  } else {
    driver_->Log(kLogDetail, "%s(): Motion detection data callback failed (device %s, channel %u)",
                 "vantrel::CBaseMotionChannel::CaptureMotionFrameCallback",
                 driver_->GetDeviceAddress().c_str(), channel_);
  }
  allocator->Release(frame);
}

}  // namespace vantrel
