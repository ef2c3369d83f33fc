#include "channels/base_camera_channel.h"

// clang-format off
// winsock2.h must come before windows.h.
#include <winsock2.h>
#include <windows.h>
#include <process.h>
// clang-format on

#include <cctype>
#include <cstdio>

#include "core/driver_services.h"
#include "vantrel/ipcapture/host_objects.h"
#include "vantrel/ipcapture/video_capture.h"

namespace vantrel {

namespace {

// Exit code of a worker started without a channel; never expected, but recognisable in a dump.
constexpr unsigned kNoChannelExitCode = 0x123456;

const char* StreamSuffix(uint32_t streamIndex) {
  switch (streamIndex) {
    case kRecStream:
      return "(Rec)";
    case kLiveStream:
      return "(Live)";
    case kRemoteStream:
      return "(Remote)";
    default:
      return "";
  }
}

}  // namespace

CBaseCameraChannel::CBaseCameraChannel(uint32_t channel, IDriver* driver,
                                       ipcapture::IIPVideoCallback* callback)
    : callback_(callback), channel_(channel), driver_(driver) {}

CBaseCameraChannel::~CBaseCameraChannel() {
  stopEvent_.Set();
  SetState(kCameraStopped);
  SetCameraState(false);
  StopThread();
  ReleaseWinsock();
}

bool CBaseCameraChannel::Start(const VideoSettings& settings) {
  Stop();
  settings_ = settings;
  {
    // An update queued for an earlier run must not be taken for a change of the new settings.
    CScopedLock guard(pendingLock_);
    pendingFrameRate_ = settings.frameRate;
    pendingWidth_ = settings.width;
    pendingHeight_ = settings.height;
    settingsChanged_.Reset();
  }
  Rearm();
  gate_.Open();
  if (!winsockStarted_) {
    WSADATA data;
    winsockStarted_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  if (StartThread()) return true;
  ReleaseWinsock();
  return false;
}

bool CBaseCameraChannel::CloseForStop() {
  // Raised first so that from here on the worker and the receive threads can no longer move the
  // channel out of "stopped" or announce it online: the host asked for the stop, and that is the
  // only offline reason it may be told.
  stopEvent_.Set();
  SetState(kCameraStopped);
  SetCameraState(false);
  // Requests in flight are aborted, not waited out; then no host callback may start any more,
  // and the ones running on other threads are the host's own time, waited out. From inside one
  // of our own callbacks that one is still on this thread's stack: false, and the worker can
  // neither be joined nor the channel freed here.
  Interrupt();
  return gate_.Close();
}

bool CBaseCameraChannel::BeginStop(uint32_t waitMs) {
  if (!CloseForStop()) return false;
  void* thread = nullptr;
  {
    CScopedLock guard(threadLock_);
    if (!thread_) return true;
    if (GetCurrentThreadId() == threadId_) return false;
    thread = thread_;
  }
  // The handle stays valid: only the owner, which is calling us, closes it (in Stop).
  return WaitForSingleObject(thread, waitMs) != WAIT_TIMEOUT;
}

void CBaseCameraChannel::Stop() {
  // Inside one of our callbacks the owner finishes the stop on the tear-down queue; the stop
  // event and the aborts already make every thread wind down.
  if (!CloseForStop()) return;
  StopThread();
  ReleaseWinsock();
}

void CBaseCameraChannel::ReleaseWinsock() {
  if (!winsockStarted_) return;
  WSACleanup();
  winsockStarted_ = false;
}

bool CBaseCameraChannel::UpdateSettings(uint32_t frameRate, uint32_t width, uint32_t height) {
  CScopedLock guard(pendingLock_);
  pendingFrameRate_ = frameRate;
  pendingWidth_ = width;
  pendingHeight_ = height;
  settingsChanged_.Set();
  return true;
}

uint32_t CBaseCameraChannel::CheckSettingsChange() {
  CScopedLock guard(pendingLock_);
  uint32_t changed = 0;
  if (pendingWidth_ != settings_.width || pendingHeight_ != settings_.height) {
    settings_.width = pendingWidth_;
    settings_.height = pendingHeight_;
    changed |= kSizeChanged;
  }
  if (pendingFrameRate_ != settings_.frameRate) {
    settings_.frameRate = pendingFrameRate_;
    changed |= kFrameRateChanged;
  }
  return changed;
}

uint32_t CBaseCameraChannel::GetState() {
  CScopedLock guard(stateLock_);
  return state_;
}

void CBaseCameraChannel::SetState(uint32_t state) {
  CScopedLock guard(stateLock_);
  if (state != kCameraStopped && stopEvent_.IsSet()) return;
  state_ = state;
}

bool CBaseCameraChannel::IsMultiChannelDevice() { return driver_ && driver_->GetChannelCount() > 1; }

std::string CBaseCameraChannel::GetDeviceName() {
  const std::string address = driver_ ? driver_->GetDeviceInfo().address : std::string();
  char name[512];
  if (IsMultiChannelDevice())
    std::snprintf(name, sizeof(name), "Video-server %s (channel %u)", address.c_str(), channel_);
  else
    std::snprintf(name, sizeof(name), "Camera %s", address.c_str());
  return name;
}

void CBaseCameraChannel::SetCameraState(bool online) {
  // Every frame says "online"; once it is, the answer is known without the stop event's wait,
  // which under Wine is a round trip to its server.
  if (online && online_.load()) return;
  uint32_t state;
  {
    // The change and the state that explains it are taken together, under the lock Stop's
    // SetState takes, so a stop cannot slip in between and be reported as a failure.
    CScopedLock guard(stateLock_);
    const bool stopping = stopEvent_.IsSet();
    if (online && stopping) return;
    if (online_.exchange(online) == online) return;
    state = stopping ? kCameraStopped : state_;
  }
  if (!driver_) return;
  const char* suffix = StreamSuffix(settings_.streamIndex);
  std::string name = GetDeviceName();
  static const char kMethod[] = "vantrel::CBaseCameraChannel::SetCameraState";
  if (online) {
    driver_->Log(kLogInfo, "%s: %s is online %s", kMethod, name.c_str(), suffix);
    return;
  }
  switch (state) {
    case kCameraSignalLost:
      if (!name.empty()) name[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
      driver_->Log(kLogError, "%s: Signal was lost for %s %s", kMethod, name.c_str(), suffix);
      break;
    case kCameraStopped:
      driver_->Log(kLogInfo, "%s: %s is offline. Channel was stopped %s", kMethod, name.c_str(), suffix);
      break;
    default:
      driver_->Log(kLogError, "%s: %s is offline or failed %s", kMethod, name.c_str(), suffix);
      break;
  }
}

bool CBaseCameraChannel::SendFrameCallback(ipcapture::IIPFrame* frame) {
  // The edge monitor is told inside the gate too: once a stop returned, the monitor (which the
  // owner may free next) is not reached from this channel any more.
  CCallbackGate::Scope scope(gate_);
  if (!scope) return false;
  if (paused_.load()) {
    // The host does not want frames now, but the edge monitor must still see the camera alive.
    if (frame) Notify_SendFrameCallback(frame);
    return true;
  }
  if (!callback_ || !frame) return false;
  try {
    if (!callback_->OnFrame(frame)) return false;
  } catch (...) {
    if (driver_)
      driver_->Log(kLogError, "%s(): Unexpected exception, device %s",
                   "vantrel::CBaseCameraChannel::SendFrameCallback", driver_->GetDeviceAddress().c_str());
    return false;
  }
  Notify_SendFrameCallback(frame);
  return true;
}

void CBaseCameraChannel::Notify_SendFrameCallback(ipcapture::IIPFrame* frame) {
  if (!frame) return;
  try {
    SYSTEMTIME time{};
    frame->GetTime(&time);
    IEdgeStorageCallback* monitor = edgeMonitor_.load();
    if (!monitor) return;
    monitor->OnFrameSeen(channel_, SystemTimeToFileTimeValue(time), frameCameraTime_.load());
  } catch (...) {
    if (driver_)
      driver_->Log(kLogError, "%s: Unhandled exception in driver instance for device %s",
                   "vantrel::CBaseCameraChannel::Notify_SendFrameCallback",
                   driver_->GetDeviceAddress().c_str());
  }
}

void CBaseCameraChannel::NotifySignalLost() {
  // Only the recording stream speaks for the input; live and remote streams would double it.
  CCallbackGate::Scope scope(gate_);
  if (!scope) return;
  if (settings_.streamIndex == kRecStream && callback_) {
    try {
      callback_->OnSignalLost();
    } catch (...) {
    }
  }
  if (IEdgeStorageCallback* monitor = edgeMonitor_.load()) monitor->OnSignalLost(channel_);
}

bool CBaseCameraChannel::StartThread() {
  CScopedLock guard(threadLock_);
  if (thread_) return false;
  stopEvent_.Reset();
  unsigned id = 0;
  const uintptr_t handle = _beginthreadex(nullptr, 0, &CBaseCameraChannel::ThreadEntry, this, 0, &id);
  if (handle == 0) return false;
  thread_ = reinterpret_cast<void*>(handle);
  threadId_ = id;
  return true;
}

unsigned __stdcall CBaseCameraChannel::ThreadEntry(void* param) {
  auto* self = static_cast<CBaseCameraChannel*>(param);
  if (!self) return kNoChannelExitCode;
  // An exception escaping a thread would end the host's process; the channel goes quiet instead
  // and the host sees it offline.
  try {
    self->Run();
  } catch (...) {
    if (self->driver_)
      self->driver_->Log(kLogError, "%s(): Unexpected exception, device %s",
                         "vantrel::CBaseCameraChannel::ThreadEntry",
                         self->driver_->GetDeviceAddress().c_str());
  }
  return 0;
}

void CBaseCameraChannel::StopThread() {
  stopEvent_.Set();
  // Taken out under the lock, waited for outside it: GetState and the host's other calls must
  // not queue behind a worker that is winding down.
  void* thread = nullptr;
  uint32_t threadId = 0;
  {
    CScopedLock guard(threadLock_);
    if (!thread_) return;
    if (GetCurrentThreadId() == threadId_) {
      // The worker stops itself: it cannot wait for its own end; the handle goes with it.
      CloseHandle(thread_);
      thread_ = nullptr;
      threadId_ = 0;
      return;
    }
    thread = thread_;
    threadId = threadId_;
  }
  Interrupt();
  const uint32_t timeout = driver_ ? driver_->GetDeviceInfo().timeout : 5000;
  const uint64_t wait = 2ull * timeout;
  const DWORD waitMs = wait >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(wait);
  if (WaitForSingleObject(thread, waitMs) == WAIT_TIMEOUT) {
    // Never terminated: the worker may be inside host code or hold a lock of the host, the
    // C runtime or WinHTTP. Its blocking calls were aborted; it is waited out.
    std::string name = GetDeviceName();
    name[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
    if (driver_)
      driver_->Log(kLogWarning,
                   "%s: Video capture thread for %s did not stop within %lu ms (id %u); waiting for it",
                   "vantrel::CBaseCameraChannel::StopThread", name.c_str(),
                   static_cast<unsigned long>(waitMs), threadId);
    WaitForSingleObject(thread, INFINITE);
  }
  CScopedLock guard(threadLock_);
  if (thread_ != thread) return;
  CloseHandle(thread_);
  thread_ = nullptr;
  threadId_ = 0;
}

}  // namespace vantrel
