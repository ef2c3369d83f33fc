// The log sink every long-lived object writes to. It sits at the bottom so that threads and locks
// can report their own trouble; the driver implements it and forwards into the host.
#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

// Log levels: 1 error, 2 warning, 3 information, 4 detail (never delivered), 100 driver opened.
enum LogLevel : uint32_t {
  kLogError = 1,
  kLogWarning = 2,
  kLogInfo = 3,
  kLogDetail = 4,
  kLogDriverOpened = 100,
};

class IDebugMessage {
 public:
  virtual ~IDebugMessage() = default;
  // Address followed by ":%hu" and the port.
  virtual std::string GetDeviceAddress() = 0;
  // printf-style; formats begin "%s: " with the fully qualified method name first. Re-entrant.
  virtual void Log(uint32_t level, const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 3, 4)))
#endif
      = 0;
};

}  // namespace vantrel
