// Internal interfaces of audio capture: what the audio capture object holds per open channel,
// and what an audio parser hands its frames to. Not host facing.
#pragma once

#include <cstdint>

#include "audio/audio_channel_status.h"

namespace vantrel {

namespace ipcapture {
class IIPAudioFrame;
}

// Audio channel status values, as reported to the host.
class IAudioInputChannel {
 public:
  virtual ~IAudioInputChannel() = default;
  // Starts the channel's worker; false when no thread could start.
  virtual bool Start() = 0;
  // Ends the worker (bounded wait) and returns true: the owner may delete the channel. False
  // when called from inside one of the channel's own host callbacks: no callback starts any
  // more, but the threads still run, and the owner leaves the deletion to CTeardownQueue.
  virtual bool Stop() = 0;
  virtual uint32_t GetStatus() = 0;
};

class IAudioParserClient {
 public:
  virtual ~IAudioParserClient() = default;
  // One complete frame, valid for the call only; false when it was not taken.
  virtual bool DeliverFrame(ipcapture::IIPAudioFrame* frame) = 0;
  // False while the owner is stopping or not yet running: a frame it did not take then was
  // dropped on purpose, not lost to a failure.
  virtual bool IsTakingFrames() { return true; }
};

}  // namespace vantrel
