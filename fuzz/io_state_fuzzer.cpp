// An alarm input's reply texts ("dec" and "err") to the state the host is told.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "control/rcp_reply_text.h"
#include "events/io_states.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const size_t split = text.find('|');
  const std::string_view dec = text.substr(0, split);
  const std::string_view err = split == std::string_view::npos ? std::string_view() : text.substr(split + 1);
  const bool answered = vantrel::ParseRcpHexText(err) == 0;
  const uint32_t value = vantrel::ParseRcpDecText(dec);
  const vantrel::IOState state = vantrel::InputStateFromFlag(answered, value);
  if (state > vantrel::kIOStateOn) __builtin_trap();
  if (!answered && state != vantrel::kIOStateUnknown) __builtin_trap();
  // Whatever the host asks for, a relay is only ever told 0 or 1.
  if (vantrel::OutputFlagForState(value) > 1) __builtin_trap();
  return 0;
}
