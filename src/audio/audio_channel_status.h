// The status an audio channel reports to the host, in either direction.
#pragma once

#include <cstdint>

namespace vantrel {

enum AudioChannelStatus : uint32_t {
  kAudioStopped = 0,
  kAudioConnecting = 1,
  kAudioRunning = 2,
  kAudioStopping = 3,
  kAudioError = 4,
  kAudioSignalLost = 5,  // signal lost, or the camera failed
};

}  // namespace vantrel
