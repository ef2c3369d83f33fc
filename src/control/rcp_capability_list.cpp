#include "control/rcp_capability_list.h"

#include "rcpplus/rcp_input_stream.h"

namespace vantrel {
namespace {

constexpr uint16_t kMagic = 0xBABA;
constexpr uint16_t kVersion = 1;

void ReadElement(rcpplus::RcpInputStream& in, uint16_t sectionType, RcpCapabilityMasks& out) {
  switch (sectionType) {
    case 1: {
      if (in.readUShort() == 1) {
        in.skip(2);
        out.mask[0] |= in.readUShort();
        in.skip(2);
        out.mask[1] |= in.readUShort();
      } else {
        in.skip(8);
      }
      break;
    }
    case 2: {
      const uint16_t id = in.readUShort();
      if (id == 1) {
        in.skip(2);
        out.mask[2] |= in.readUShort();
      } else if (id == 2) {
        in.skip(2);
        out.mask[3] |= in.readUShort();
      }
      break;
    }
    case 3:
      out.mask[4] |= in.readUShort();
      in.skip(2);
      break;
    case 4:
      out.mask[5] |= in.readUShort();
      in.skip(2);
      break;
    case 5:
      in.skip(4);
      break;
    default:
      break;
  }
}

}  // namespace

bool ParseRcpCapabilityList(std::span<const uint8_t> bytes, RcpCapabilityMasks& out) {
  out = RcpCapabilityMasks{};
  rcpplus::RcpInputStream in(bytes);
  try {
    if (in.readUShort() != kMagic) return false;
    if (in.readUShort() != kVersion) return false;
    const uint16_t sections = in.readUShort();
    for (uint16_t s = 0; s < sections; ++s) {
      const uint16_t type = in.readUShort();
      in.skip(2);
      const uint16_t elements = in.readUShort();
      // Elements of unknown sections read nothing: walking up to 65535 x 65535 of them would
      // only burn time on a hostile list.
      if (type < 1 || type > 5) continue;
      for (uint16_t e = 0; e < elements; ++e) ReadElement(in, type, out);
    }
  } catch (...) {
    // The reader's only way to report the end of the data.
    return false;
  }
  return true;
}

}  // namespace vantrel
