// A camera's WWW-Authenticate value, parsed and answered.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "control/http_digest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view header(reinterpret_cast<const char*>(data), size);
  if (auto challenge = Web::ParseDigestChallenge(header)) {
    Web::BuildDigestAuthorization(*challenge, "user", "password", "GET", "/rcp.xml", 1, "cnonce", header);
  }
  return 0;
}
