// The audio sender the driver serves (IIPCaptureDriverEx4::GetAudioSender): plays the host's
// audio on the camera's output. Host (MSVC) layout: slot 0 is ONE vtable entry, the scalar
// deleting destructor. Channel numbers are the camera's audio outputs.
#pragma once

#include <cstdint>

#include "vantrel/ipcapture/audio_types.h"

namespace vantrel::ipcapture {

class IIPAudioSender {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;  // slot 0
  virtual uint32_t GetChannelCount() = 0;                          // slot 1: open channels
  // Slot 2: true when the channel is open (already, or now); `parameter` comes back as the
  // host channel index of every status report.
  virtual bool OpenChannel(uint32_t channel, uint32_t parameter, IIPAudioStatusCallback* callback,
                           IIPAudioFormatList* formats) = 0;
  virtual bool CloseChannel(uint32_t channel) = 0;  // slot 3
  // Slot 4: queues the frame for the channel in the low byte of its channel field.
  virtual bool Send(IIPAudioFrame* frame) = 0;
  virtual bool GetAudioFormat(uint32_t channel, IIPAudioFormat* format) = 0;  // slot 5
  virtual uint32_t GetChannelStatus(uint32_t channel) = 0;                    // slot 6: 0 when not open
  virtual bool Unsupported7() = 0;                                            // slot 7: false
  virtual bool Unsupported8() = 0;                                            // slot 8: false

 protected:
  ~IIPAudioSender() = default;
};

}  // namespace vantrel::ipcapture
