// Internal interfaces of the live channels and of the edge-storage handler that watches them.
// None of these is host facing, so ordinary C++ virtual destructors are used.
#pragma once

#include <cstdint>

#include "core/video_settings.h"

namespace vantrel {

namespace ipcapture {
class IIPVideoCallback;
class IIPZoneList;
}  // namespace ipcapture

enum StreamIndex : uint32_t {
  kRecStream = 0,
  kLiveStream = 1,
  kRemoteStream = 2,
};

enum CameraState : uint32_t {
  kCameraReceiving = 0,
  kCameraSignalLost = 2,
  kCameraStopped = 3,
};

// What a live channel tells the edge-storage handler. Called on the channel's frame-delivering
// thread; the handler outlives every channel attached to it.
class IEdgeStorageCallback {
 public:
  virtual ~IEdgeStorageCallback() = default;
  // The channel delivered a frame taken at `time` (UTC FILETIME value); `cameraTime` is the
  // camera's own capture time of it (from the stream's sender reports), 0 when not known.
  virtual void OnFrameSeen(uint32_t channel, uint64_t time, uint64_t cameraTime) = 0;
  // The channel lost its signal; the handler uses it to look for an outage at once.
  virtual void OnSignalLost(uint32_t channel) = 0;
  // Newest live frame time and signal loss as data channels (audio) report them.
  virtual void OnNewestFrameTime(uint32_t channel, uint64_t time) = 0;
  virtual void OnDataSignalLost(uint32_t channel) = 0;
};

// Anything the edge-storage handler can watch: video, motion and audio channels.
class IEdgeMonitorChannel {
 public:
  virtual ~IEdgeMonitorChannel() = default;
  virtual uint32_t GetChannel() = 0;
  virtual uint32_t GetMonitorValue() = 0;
  // The host callback replayed recordings are delivered to; null means "do not watch me".
  virtual ipcapture::IIPVideoCallback* GetCallback() = 0;
  virtual uint32_t GetMonitorValue2() = 0;
  // Null detaches. The monitor is borrowed.
  virtual void SetEdgeMonitor(IEdgeStorageCallback* monitor) = 0;
};

// One live video stream of one camera input.
class ICameraChannel : public IEdgeMonitorChannel {
 public:
  virtual void SetStreamOption(ipcapture::IIPZoneList* option) = 0;
  // (Re)starts the channel's worker with these settings; false when no thread could start.
  virtual bool Start(const VideoSettings& settings) = 0;
  virtual void Stop() = 0;
  // Queues a new frame rate and size for the worker to apply; returns at once.
  virtual bool UpdateSettings(uint32_t frameRate, uint32_t width, uint32_t height) = 0;
  virtual bool Pause() = 0;
  virtual bool Resume() = 0;
  virtual uint32_t GetState() = 0;
  // True on a thread that is inside one of this channel's host callbacks: a Stop made there
  // cannot wait for that callback, so the owner must not free the channel then.
  virtual bool IsInsideCallback() = 0;
  // The bounded part of a stop: asks every thread of the channel to end, aborts its requests,
  // closes it to host callbacks (waiting for those in flight on other threads) and waits up to
  // `waitMs` for its worker. True when the worker has ended, so Stop now returns at once; false
  // when it still runs (a request that only ends at its time-out) or the caller is inside one
  // of the channel's callbacks: Stop and the delete must then run elsewhere. Either way no host
  // callback of the channel starts after the call.
  virtual bool BeginStop(uint32_t waitMs) = 0;
};

// The motion-state channel of one camera input.
class IMotionChannel : public IEdgeMonitorChannel {
 public:
  virtual bool Start() = 0;
  // True when the thread ended.
  virtual bool Stop() = 0;
  virtual void Reserved() = 0;
  virtual bool IsMotionDataFlowing() = 0;
};

// Watches the registered channels of one device and replays the gaps from the camera's storage.
class IEdgeStorageHandler {
 public:
  virtual ~IEdgeStorageHandler() = default;
  // Registration is counted: a channel registered twice needs two unregistrations.
  virtual void RegisterChannel(IEdgeMonitorChannel* channel) = 0;
  virtual void UnregisterChannel(IEdgeMonitorChannel* channel) = 0;
  virtual ipcapture::IIPVideoCallback* GetChannelCallback(uint32_t channel) = 0;
};

}  // namespace vantrel
