#include <cstddef>
#include <cstdint>
#include <string_view>

#include "streaming/base64.h"
#include "streaming/sdp_response_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  vantrel::CSDPResponseParser parser;
  parser.Parse(text);
  std::vector<uint8_t> out;
  vantrel::Base64Decode(text, out);
  if (vantrel::Base64Decode(vantrel::Base64Encode(text), out) && out.size() != size) __builtin_trap();
  return 0;
}
