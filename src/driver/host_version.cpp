#include "driver/host_version.h"

#include "core/driver_services.h"

namespace vantrel {

uint8_t MapLogLevel(uint32_t level, const HostVersion& version) {
  const uint32_t v = (uint32_t{version.major} << 16) | version.minor;
  if (v < ((5u << 16) | 12u)) {
    if (level == kLogInfo || level == kLogDriverOpened) return kLogWarning;
  } else if (v < ((6u << 16) | 3u)) {
    if (level == kLogDriverOpened) return kLogInfo;
  }
  return static_cast<uint8_t>(level);
}

}  // namespace vantrel
