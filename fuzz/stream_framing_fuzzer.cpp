// Feeds the streaming connection's framing parser with the input split at points the input
// chooses, checking that frames come out whole and within their type's bounds, and that an
// error is final.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "rcpplus/stream_framing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t step = 1 + data[0] % 64;
  std::span<const uint8_t> input(data + 1, size - 1);
  rcpplus::FrameParser parser;
  rcpplus::Frame frame;
  bool failed = false;
  for (size_t at = 0; at < input.size(); at += step) {
    parser.Feed(input.subspan(at, std::min(step, input.size() - at)));
    for (;;) {
      const auto result = parser.Next(frame);
      if (result == rcpplus::FrameParser::Result::kNeedMore) break;
      if (result == rcpplus::FrameParser::Result::kError) {
        failed = true;
        break;
      }
      if (failed) std::abort();  // nothing may come out after an error
      const auto bounds = rcpplus::BoundsOf(static_cast<uint8_t>(frame.type));
      if (!bounds || frame.payload.size() < bounds->min || frame.payload.size() > bounds->max) std::abort();
      if (frame.type == rcpplus::FrameType::kConnected) (void)rcpplus::ParseConnected(frame.payload);
    }
  }
  rcpplus::StreamUrl url;
  (void)rcpplus::ParseStreamUrl(std::string(reinterpret_cast<const char*>(data), size), url);
  (void)rcpplus::ParseStatusLine(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
