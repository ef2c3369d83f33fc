// What the video-capture and audio objects use to have the driver make their channels; the
// driver decides the class from the stream format and its parameters. Internal interfaces.
#pragma once

#include <cstdint>

#include "core/audio_channel_creator.h"
#include "core/video_settings.h"

namespace vantrel {

namespace ipcapture {
class IIPVideoCallback;
}
class ICameraChannel;
class IMotionChannel;
class IEdgeStorageHandler;

// Which camera channel class serves a stream.
enum class VideoChannelKind {
  kNone,           // unknown format: no channel
  kMJPEGOverRTSP,  // CMJPEGChannelRTSP
  kMJPEGOverHTTP,  // CMJPEGChannelHTTP
  kMPEG4OverRCP,   // CMPEGChannelRTP
  kH264OverRTSP,   // CH264ChannelRTSP
};

class IVideoChannelCreator {
 public:
  virtual ~IVideoChannelCreator() = default;
  // A new channel (owned by the caller), or null for a null callback or an unknown format. A
  // format of 0 or 16 in `settings` is replaced by the device's default format first, so the
  // caller starts the channel with the format that chose its class.
  virtual ICameraChannel* CreateVideoChannel(uint32_t channel, ipcapture::IIPVideoCallback* callback,
                                             VideoSettings& settings) = 0;
  // Owned by the caller; null when none could be made.
  virtual IMotionChannel* CreateMotionChannel(uint32_t channel, ipcapture::IIPVideoCallback* callback) = 0;
  // Owned by the caller. The first successful call also makes the device's edge-storage task,
  // linked to the handler.
  virtual IEdgeStorageHandler* CreateEdgeStorageHandler() = 0;
};

}  // namespace vantrel
