// The motion poll's answer from the camera's reply text to the frame handed to the host.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "control/rcp_reply_text.h"
#include "events/motion_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto bytes = vantrel::ParseRcpByteText(text);
  const auto state = vantrel::ReadMotionState(bytes);
  if (state.has_value() == bytes.empty()) __builtin_trap();
  if (!state) return 0;
  std::array<uint8_t, vantrel::kMotionFrameDataSize> frame{};
  vantrel::FillMotionFrameData(*state, frame);
  // The host only knows version 1 with the states 0 and 1.
  if (frame[0] != 1 || frame[1] > 1 || frame[1] != ((bytes[0] >> 7) & 1)) __builtin_trap();
  return 0;
}
