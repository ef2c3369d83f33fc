#include <cstddef>
#include <cstdint>
#include <string_view>

#include "streaming/rtsp_response_parser.h"

// First byte: the method (1 to 6); the rest: the response text. A DESCRIBE is followed by a
// SETUP on the same parser, as in a session.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint32_t method = data[0] % 7;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  vantrel::CRTSPResponseParser parser;
  parser.Parse(method, text);
  parser.Parse(vantrel::kRtspSetup, text);
  parser.Reset();
  return 0;
}
