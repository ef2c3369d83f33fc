// The video-capture object the host starts and stops live video through. For every camera input
// it keeps the running streams and the motion channel, made by the driver's channel creator, and
// attaches them to an edge-storage handler while the host has edge storage switched on.
//
// The host may call from several threads. The table lock is held only to take channels in and
// out of the table or a reference to one; every call on a channel (start, stop, pause, resume,
// settings, state) runs after it is released, since those may wait for worker threads, for the
// camera or for a host callback in flight, and a host that takes its own lock in OnFrame and
// around PauseChannel would otherwise deadlock with us.
//
// A stop the host makes from inside a channel's own callback (StopChannel from OnFrame) takes the
// channel out of the table at once, closes its gate and hands its final stop and delete to the
// tear-down queue: the callback that asked is still on the stack of the channel's thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "channels/camera_channel.h"
#include "foundation/recursive_lock.h"
#include "vantrel/ipcapture/video_capture.h"

namespace vantrel {

class IVideoChannelCreator;

class CIPVideoCapture final : public ipcapture::IIPVideoCaptureEx2 {
 public:
  // Stream slots per input: recording, live, remote and a spare one only StartStream uses.
  static constexpr uint32_t kStreamSlots = 4;
  // How long a stop waits for a channel's worker before it leaves the rest to the tear-down
  // queue; the host's StopChannel returns within this (plus a host callback in flight).
  static constexpr uint32_t kStopWaitMs = 500;

  // `creator` is borrowed: it is the driver, which owns this object.
  CIPVideoCapture(IVideoChannelCreator* creator, uint32_t channelCount);
  ~CIPVideoCapture();

  CIPVideoCapture(const CIPVideoCapture&) = delete;
  CIPVideoCapture& operator=(const CIPVideoCapture&) = delete;

  void* ScalarDeletingDestructor(unsigned int flags) override;
  uint32_t GetChannelCount() override;
  bool StartChannel(uint32_t channel, ipcapture::IIPVideoCallback* callback,
                    ipcapture::IIPVideoSettings* settings) override;
  bool StopChannel(uint32_t channel) override;
  bool UpdateChannelSettings(uint32_t channel, ipcapture::IIPVideoSize* size, uint32_t frameRate) override;
  void* GetReserved() override { return nullptr; }
  bool GetChannelState(uint32_t channel, uint32_t* state, uint32_t* extra, void* flag,
                       uint32_t flagSize) override;
  bool SetProperty(const char* name, void* value, uint32_t size) override;
  bool GetProperty(const char* name, void* value, uint32_t size) override;
  bool ResumeChannel(uint32_t channel) override;
  bool PauseChannel(uint32_t channel) override;
  bool StartStream(uint32_t channel, uint32_t stream, ipcapture::IIPVideoCallback* callback,
                   ipcapture::IIPVideoSettings* settings) override;
  bool StopStream(uint32_t channel, uint32_t stream) override;

 private:
  // Shared so that a call on a channel can run outside the table lock while another host
  // thread takes the channel out and stops it.
  using VideoRef = std::shared_ptr<ICameraChannel>;
  using MotionRef = std::shared_ptr<IMotionChannel>;

  struct Entry {
    std::array<VideoRef, kStreamSlots> streams;
    MotionRef motion;
  };

  // Stops the channel and lets it go; from inside its own callback the rest of the stop and the
  // delete run on the tear-down queue.
  static void StopAndRelease(VideoRef video);
  static void StopAndRelease(MotionRef motion);
  // The recording stream of `channel`, referenced under the table lock; null when none runs.
  VideoRef RecordingStream(uint32_t channel);

  // Reads the host's settings object; false when it or one of its records is missing.
  static bool ReadSettings(ipcapture::IIPVideoSettings* settings, uint32_t streamIndex, VideoSettings* record,
                           bool* motionWanted);
  IEdgeStorageHandler* GetOrCreateEdgeHandler();

  IVideoChannelCreator* const creator_;
  CRecursiveLock lock_;
  std::vector<Entry> table_;  // size fixed at construction; slots guarded by lock_
  std::atomic<bool> edgeStorageEnabled_{false};
  std::unique_ptr<IEdgeStorageHandler> edgeHandler_;  // guarded by lock_; lives until destruction
};

}  // namespace vantrel
