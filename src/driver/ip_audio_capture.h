// The audio capture object the host opens and closes camera audio channels through. The
// channels are made by the driver's audio channel creator; at most the number the host
// declared for the device's audio input may be open at once.
//
// The host may call from several threads; one lock serialises every operation for its whole
// run, including the waits of a channel's start and stop.
#pragma once

#include <cstdint>
#include <map>

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
  IAudioChannelCreator* const creator_;  // borrowed: the owning driver
  const uint32_t maxChannels_;
  CRecursiveLock lock_;
  std::map<uint32_t, IAudioInputChannel*> channels_;  // owned; guarded by lock_
};

}  // namespace vantrel
