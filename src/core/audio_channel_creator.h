// How the audio objects have the driver make their channels. Below the audio subsystem so that
// its host-facing objects can ask the driver without including it. Internal interface.
#pragma once

#include <cstdint>

namespace vantrel {

class IAudioInputChannel;
class IAudioOutputChannel;

class IAudioChannelCreator {
 public:
  virtual ~IAudioChannelCreator() = default;
  // Arguments as the host gave them to the audio capture object's open-channel operation.
  virtual IAudioInputChannel* CreateAudioInputChannel(uint32_t channel, uint32_t parameter, void* callback,
                                                      uint64_t context) = 0;
  // Arguments as the host gave them to the audio sender's open-channel operation.
  virtual IAudioOutputChannel* CreateAudioOutputChannel(uint32_t channel, uint32_t parameter,
                                                        void* statusCallback, void* formats) = 0;
};

}  // namespace vantrel
