// The video settings record a camera channel is started with (copied into the channel).
#pragma once

#include <cstdint>

namespace vantrel {

// Stream formats of the settings record. 0 and 16 stand for the driver's default format and are
// resolved before a channel is made.
enum VideoFormat : uint32_t {
  kVideoFormatDefault = 0,
  kVideoFormatMJPEG = 1,
  kVideoFormatMPEG4 = 2,
  kVideoFormatH264 = 3,
  kVideoFormatDefaultAlt = 16,
};

struct VideoSettings {
  uint32_t frameRate = 0;    // host frame-rate code: 0 = 1 fps, 0x7nnn = nnn fps, else ms per frame
  uint32_t width = 0;        // pixels
  uint32_t height = 0;       // pixels
  uint32_t quality = 0;      // the host's quality value
  uint32_t format = 0;       // VideoFormat
  uint32_t streamIndex = 0;  // 0 recording, 1 live, 2 remote
};

}  // namespace vantrel
