// What a depacketizer calls on its owner (the video channels and the edge-storage replay).
// Internal interface: an ordinary virtual destructor occupies slot 0.
#pragma once

#include <cstdint>
#include <string>

#include "vantrel/platform_types.h"

namespace vantrel {

namespace ipcapture {
class IIPFrame;
}

class IMediaParserClient {
 public:
  virtual ~IMediaParserClient() = default;
  // Called on the parser's packet thread with a filled frame; true when the client took it.
  // The parser releases the frame to the allocator after the call either way.
  virtual bool OnFrame(ipcapture::IIPFrame* frame) = 0;
  // Width and height to use when the stream does not tell (both may be written as 0).
  virtual void GetRequestedSize(uint32_t& width, uint32_t& height) = 0;
  // Owner name passed to the host's frame allocator.
  virtual std::string GetStreamName() = 0;
  // Capture time (UTC) of the frame carrying this RTP timestamp.
  virtual void GetFrameTime(uint32_t rtpTimestamp, SYSTEMTIME* time) = 0;
};

}  // namespace vantrel
