#include "events/motion_state.h"

namespace vantrel {

std::optional<uint8_t> ReadMotionState(std::span<const uint8_t> reply) {
  if (reply.empty()) return std::nullopt;
  return (reply[0] & 0x80) != 0 ? kMotionStateMotion : kMotionStateNone;
}

void FillMotionFrameData(uint8_t state, std::span<uint8_t, kMotionFrameDataSize> out) {
  out[0] = 1;
  // The host knows only 0 and 1; anything else would be read as a third state.
  out[1] = state != kMotionStateNone ? kMotionStateMotion : kMotionStateNone;
}

}  // namespace vantrel
