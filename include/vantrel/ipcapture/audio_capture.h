// The audio capture object as the host sees it. Layout is the host's (MSVC): slot 0 is ONE
// vtable entry, the scalar deleting destructor (bit 0 of flags: free the memory), so the class
// declares no C++ destructor. Never reorder or insert slots.
#pragma once

#include <cstdint>

#include "vantrel/ipcapture/audio_types.h"

namespace vantrel::ipcapture {

class IIPAudioCapture2 {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;  // slot 0
  virtual uint32_t GetChannelCount() = 0;                          // slot 1: open channels
  // Slot 2. True when the channel is open afterwards (also when it already was). The callback
  // is borrowed until the channel is closed.
  virtual bool OpenChannel(uint32_t channel, uint32_t hostChannelIndex, IIPAudioCallback* callback,
                           uint64_t context) = 0;
  virtual bool CloseChannel(uint32_t channel) = 0;          // slot 3
  virtual uint32_t GetChannelStatus(uint32_t channel) = 0;  // slot 4: 0 when not open
  virtual bool Reserved5() = 0;                             // slot 5: always false
  virtual bool Reserved6() = 0;                             // slot 6: always false

 protected:
  ~IIPAudioCapture2() = default;
};

}  // namespace vantrel::ipcapture
