// The motion channel of one camera input: it turns the camera's motion state into small frames
// for the host, one per change, and tells an attached edge-storage handler that the input is
// alive. How the state is read from the camera is the derived class's.
//
// Threads: the channel's own thread polls and delivers; the host starts, stops and asks from
// its threads; the edge-storage handler attaches and detaches from its own. Every call into
// the host (frame allocator, OnFrame, motion-data-stopped) runs inside `gate_`: after Stop no
// callback starts, and one already running is waited out. Stop returns false when it could not
// finish here (called from the channel's own callback, or a request the platform ends only at
// its time-out): the owner then finishes it on the tear-down queue; the destructor always
// waits for the thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "channels/camera_channel.h"
#include "core/driver_services.h"
#include "foundation/base_thread.h"
#include "foundation/callback_gate.h"
#include "foundation/time_value.h"

namespace vantrel {

class CBaseMotionChannel : public IMotionChannel, public CBaseThread {
 public:
  static constexpr uint32_t kPollIntervalMs = 1000;
  // Frame as the host expects it.
  static constexpr uint32_t kFrameAllocationSize = 1024;
  static constexpr uint32_t kFrameWidth = 320;
  static constexpr uint32_t kFrameHeight = 240;
  static constexpr uint32_t kFrameSizeClass = 2;

  CBaseMotionChannel(uint32_t channel, IDriver* driver, ipcapture::IIPVideoCallback* callback);
  // A derived class must Stop in its own destructor: the thread runs its code.
  ~CBaseMotionChannel() override;

  // IEdgeMonitorChannel
  uint32_t GetChannel() override { return channel_; }
  uint32_t GetMonitorValue() override { return 0; }
  ipcapture::IIPVideoCallback* GetCallback() override { return callback_; }
  uint32_t GetMonitorValue2() override { return 0; }
  void SetEdgeMonitor(IEdgeStorageCallback* monitor) override { edgeMonitor_.store(monitor); }

  // IMotionChannel
  bool Start() override;
  // Bounded by the device time-out plus 1000 ms, plus a host callback already running.
  bool Stop() override;
  void Reserved() override {}
  bool IsMotionDataFlowing() override { return flowing_.load(); }

 protected:
  // Ends a camera request in progress; called repeatedly while a stop waits for the thread.
  virtual void AbortRequests() {}

  // One answer of the camera with its state: reports the input alive and sends the frames.
  void OnMotionState(uint8_t state);
  // After a wait without news: declares motion data stopped once the motion time-out passed.
  void CheckMotionTimeout();
  void Notify_MotionDataReceived();
  void CaptureMotionFrameCallback(uint8_t state);

  uint32_t GetStopBoundMs() const;

  IDriver* const driver_;  // borrowed: outlives the channel

 private:
  ipcapture::IIPVideoCallback* const callback_;  // borrowed from the host
  std::atomic<IEdgeStorageCallback*> edgeMonitor_{nullptr};
  CCallbackGate gate_;
  bool winsockStarted_ = false;
  std::atomic<bool> flowing_{false};
  // Restarted by every accepted frame and by every answer of the camera, so that "stopped"
  // means the camera went quiet, not that the state stayed the same.
  CTime lastCallback_;
  uint8_t lastState_ = 0;    // thread only
  bool stateKnown_ = false;  // thread only
  const uint32_t channel_;
};

}  // namespace vantrel
