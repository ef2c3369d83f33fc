// Element texts of RCP+ replies: numbers and byte lists.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "control/rcp_reply_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  vantrel::ParseRcpHexText(text);
  vantrel::ParseRcpDecText(text);
  // Every byte needs at least one digit, so the list can never outgrow the text.
  if (vantrel::ParseRcpByteText(text).size() > size) __builtin_trap();
  return 0;
}
