#include "control/result_def.h"

#include <cstdarg>
#include <cstdio>

namespace vantrel {

void CResultDef::SetFormatted(uint32_t newSeverity, uint32_t newCode, const char* format, ...) {
  severity = newSeverity;
  code = newCode;
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  message.assign(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(message.data(), message.size() + 1, format, args);
  va_end(args);
}

}  // namespace vantrel
