// Reading the camera's answer to the motion poll. Portable, so that whatever a camera sends is
// checked under the sanitizers and fuzzed.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace vantrel {

constexpr uint8_t kMotionStateNone = 0;
constexpr uint8_t kMotionStateMotion = 1;

// The motion state (bit 7 of the first byte), or nothing for an empty answer.
std::optional<uint8_t> ReadMotionState(std::span<const uint8_t> reply);

// Payload of the 2-byte motion frame handed to the host: a version byte 1, then the state.
constexpr uint32_t kMotionFrameDataSize = 2;
void FillMotionFrameData(uint8_t state, std::span<uint8_t, kMotionFrameDataSize> out);

}  // namespace vantrel
