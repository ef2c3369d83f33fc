// Common base of every live video channel: identity, camera state and its log messages, the
// worker thread, the pending-settings mailbox and the hand-over of frames to the host and to an
// attached edge-storage monitor.
//
// Threads: the host thread calls Start, Stop, UpdateSettings, GetState, Pause and Resume; the
// worker thread (Run) and the receive threads of derived classes call SetState, SetCameraState,
// SendFrameCallback and NotifySignalLost. The host callback and the edge monitor are called
// without any channel lock held, each inside the channel's callback gate: once Stop has closed
// the gate no host callback of the channel starts, and Stop returns only after the ones in
// flight on other threads have. A Stop made from inside one of the channel's own callbacks
// closes the gate and aborts, but cannot wait for its own thread: IsInsideCallback tells the
// owner, which then finishes the stop and the delete on the tear-down queue.
//
// A derived class must call Stop() in its own destructor: the worker runs the derived Run, which
// must not outlive the derived part of the object.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "channels/camera_channel.h"
#include "foundation/callback_gate.h"
#include "foundation/event.h"
#include "foundation/recursive_lock.h"
#include "foundation/time_value.h"

namespace vantrel {

namespace ipcapture {
class IIPFrame;
}
class IDriver;

class CBaseCameraChannel : public ICameraChannel {
 public:
  // Bits of CheckSettingsChange.
  static constexpr uint32_t kFrameRateChanged = 1;
  static constexpr uint32_t kSizeChanged = 2;

  // `driver` and `callback` are borrowed; both outlive the channel (the driver owns the
  // video-capture object that owns the channel; the host keeps its callback until it stops it).
  CBaseCameraChannel(uint32_t channel, IDriver* driver, ipcapture::IIPVideoCallback* callback);
  ~CBaseCameraChannel() override;

  CBaseCameraChannel(const CBaseCameraChannel&) = delete;
  CBaseCameraChannel& operator=(const CBaseCameraChannel&) = delete;

  // IEdgeMonitorChannel
  uint32_t GetChannel() override { return channel_; }
  uint32_t GetMonitorValue() override { return 0; }
  ipcapture::IIPVideoCallback* GetCallback() override { return callback_; }
  uint32_t GetMonitorValue2() override { return 0; }
  void SetEdgeMonitor(IEdgeStorageCallback* monitor) override { edgeMonitor_.store(monitor); }
  // The camera's own capture time of the frame about to be delivered (0 = not known), for the
  // edge monitor: replayed recordings carry the camera's times.
  void SetFrameCameraTime(uint64_t time) { frameCameraTime_.store(time); }

  // ICameraChannel
  bool Start(const VideoSettings& settings) override;
  void Stop() override;
  bool UpdateSettings(uint32_t frameRate, uint32_t width, uint32_t height) override;
  bool Pause() override { return false; }
  bool Resume() override { return false; }
  uint32_t GetState() override;
  bool IsInsideCallback() override { return gate_.IsInsideCallback(); }
  bool BeginStop(uint32_t waitMs) override;

 protected:
  // Body of the worker thread; returns when the stop event is set.
  virtual void Run() = 0;
  // Called by Stop before it waits, so a derived class can break a blocking receive and abort
  // its camera requests (any thread; an abort stays until Rearm).
  virtual void Interrupt() {}
  // Called by Start before the worker starts: undoes what Interrupt left in place.
  virtual void Rearm() {}

  void SetState(uint32_t state);
  // Logs the change of the online state once per change.
  void SetCameraState(bool online);
  // True when the host took the frame (or, while paused, when the monitor was told of it). The
  // caller keeps ownership of the frame and releases it.
  bool SendFrameCallback(ipcapture::IIPFrame* frame);
  void Notify_SendFrameCallback(ipcapture::IIPFrame* frame);
  void NotifySignalLost();
  // Takes over the pending frame rate and size; bits kFrameRateChanged and kSizeChanged.
  uint32_t CheckSettingsChange();

  bool StartThread();
  void StopThread();

  // "Camera %s" or, on a multi-input device, "Video-server %s (channel %u)".
  std::string GetDeviceName();
  bool IsMultiChannelDevice();

  IDriver* GetDriver() const { return driver_; }
  // Read by the worker; written only by Start (worker stopped) and CheckSettingsChange (worker).
  const VideoSettings& GetSettings() const { return settings_; }
  CManualEvent& GetStopEvent() { return stopEvent_; }
  CEvent& GetSettingsChangedEvent() { return settingsChanged_; }
  CTime& GetFrameTimer() { return frameTimer_; }
  bool IsPaused() const { return paused_.load(); }
  void SetPaused(bool paused) { paused_.store(paused); }

 private:
  static unsigned __stdcall ThreadEntry(void* param);
  // Stop event, state, aborts and the gate; false from inside one of the channel's callbacks.
  bool CloseForStop();
  void ReleaseWinsock();

  bool winsockStarted_ = false;  // host thread only (Start, Stop, destructor)
  std::atomic<bool> online_{false};
  std::atomic<bool> paused_{false};

  CRecursiveLock stateLock_;
  uint32_t state_ = kCameraStopped;  // guarded by stateLock_

  CRecursiveLock threadLock_;
  void* thread_ = nullptr;  // guarded by threadLock_
  uint32_t threadId_ = 0;   // guarded by threadLock_

  ipcapture::IIPVideoCallback* const callback_;
  std::atomic<IEdgeStorageCallback*> edgeMonitor_{nullptr};  // borrowed: the handler outlives us
  std::atomic<uint64_t> frameCameraTime_{0};
  const uint32_t channel_;
  IDriver* const driver_;
  VideoSettings settings_;

  CManualEvent stopEvent_;
  CTime frameTimer_;
  // Every host call of the channel (frames, signal loss) passes it; Stop closes it.
  CCallbackGate gate_;

  CRecursiveLock pendingLock_;
  uint32_t pendingFrameRate_ = 0;  // guarded by pendingLock_
  uint32_t pendingWidth_ = 0;      // guarded by pendingLock_
  uint32_t pendingHeight_ = 0;     // guarded by pendingLock_
  CEvent settingsChanged_{false};
};

}  // namespace vantrel
