// The audio capture object the host opens and closes camera audio channels through. The
// channels are made by the driver's audio channel creator; at most the number the host
// declared for the device's audio input may be open at once.
//
// The host may call from several threads. The lock guards the map only and is never held while
// a channel starts or stops (which wait for the camera and for host callbacks in flight), so a
// channel's callback may call back in and the other channels never wait for one closing.
#pragma once

#include <cstdint>
#include <map>
#include <set>

#include "foundation/recursive_lock.h"
#include "vantrel/ipcapture/audio_capture.h"

namespace vantrel {

class IAudioChannelCreator;
class IAudioInputChannel;

class CIPAudioCapture final : public ipcapture::IIPAudioCapture2 {
 public:
  // `creator` is borrowed: it is the driver, which owns this object.
  CIPAudioCapture(IAudioChannelCreator* creator, uint32_t maxChannels);
  ~CIPAudioCapture();

  CIPAudioCapture(const CIPAudioCapture&) = delete;
  CIPAudioCapture& operator=(const CIPAudioCapture&) = delete;

  void* ScalarDeletingDestructor(unsigned int flags) override;
  uint32_t GetChannelCount() override;
  bool OpenChannel(uint32_t channel, uint32_t hostChannelIndex, ipcapture::IIPAudioCallback* callback,
                   uint64_t context) override;
  bool CloseChannel(uint32_t channel) override;
  uint32_t GetChannelStatus(uint32_t channel) override;
  bool Reserved5() override { return false; }
  bool Reserved6() override { return false; }

 private:
  // Deletes a stopped channel now, or leaves it to the tear-down queue when it was closed from
  // inside one of its own callbacks.
  static void Dispose(IAudioInputChannel* channel, bool stopped);

  IAudioChannelCreator* const creator_;  // borrowed: the owning driver
  const uint32_t maxChannels_;
  CRecursiveLock lock_;
  std::map<uint32_t, IAudioInputChannel*> channels_;  // owned; guarded by lock_
  std::set<uint32_t> opening_;                        // being made and started; guarded by lock_
};

}  // namespace vantrel
