// How many audio channels a camera offers in one direction, and whether they are stereo. The
// host hands these over as text (open parameters 101 and 102) and the capability query
// reports them in the same form, "Count=%u; IsStereo=%u".
#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

class CAudioCapabilities {
 public:
  CAudioCapabilities() = default;
  CAudioCapabilities(uint32_t count, bool stereo) : count(count), stereo(stereo) {}

  // Both numbers must be present and whole; otherwise (an empty text included) nothing
  // changes and false is returned. Stereo only for the value 1.
  bool FromText(const std::string& text);
  std::string ToText() const;

  uint32_t count = 0;
  bool stereo = false;
};

}  // namespace vantrel
