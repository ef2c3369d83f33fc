// Version of the host's core library, which decides the level the host expects for a message:
// older hosts know no level 100 and treat information as noise.
#pragma once

#include <cstdint>

namespace vantrel {

struct HostVersion {
  uint16_t major = 5;  // 5.12.0.0 stands in when the version cannot be read
  uint16_t minor = 12;
  uint16_t build = 0;
  uint16_t revision = 0;
};

// Level as the host of `version` expects it: below 5.12 levels 3 and 100 become 2; from 5.12
// up to 6.3 level 100 becomes 3; from 6.3 on nothing changes. Level 4 is never delivered and
// is not the mapping's business.
uint8_t MapLogLevel(uint32_t level, const HostVersion& version);

#ifdef _WIN32
// Product version of `fileName` (the host core library "pellith.dll" when null), located the
// way the loader would; the 5.12.0.0 default when any step fails.
HostVersion ReadHostCoreVersion(const char* fileName = nullptr);
#endif

}  // namespace vantrel
