// Capability list of a camera (reply of RCP+ 0xFF10), read into six 16-bit masks.
//
// Every field is a 16-bit big-endian word:
//
//   magic 0xBABA | version 1 | section count N
//   N sections:  type | (skipped) | element count M | M elements
//     type 1: id; id 1: (skipped) mask1 (skipped) mask2; other ids: 8 bytes skipped
//     type 2: id; id 1: (skipped) mask3; id 2: (skipped) mask4; other ids: nothing more
//     type 3: mask5 (skipped)
//     type 4: mask6 (skipped)
//     type 5: 4 bytes skipped
//     other types: the elements carry nothing we read
//
// The masks are OR-ed over every element, so repeated elements add bits. A list that ends
// inside an element is refused as a whole.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace vantrel {

struct RcpCapabilityMasks {
  // mask[0] is "mask 1" of the list (video codecs), mask[1] "mask 2" (resolutions), ...
  std::array<uint16_t, 6> mask{};
};

// True when magic and version match and every read stayed inside the data; `out` is reset
// first and holds whatever was read even on failure.
bool ParseRcpCapabilityList(std::span<const uint8_t> bytes, RcpCapabilityMasks& out);

}  // namespace vantrel
