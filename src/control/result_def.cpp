#include "control/result_def.h"

#include <cstdarg>

#include "foundation/text_format.h"

namespace vantrel {

void CResultDef::SetFormatted(uint32_t newSeverity, uint32_t newCode, const char* format, ...) {
  severity = newSeverity;
  code = newCode;
  va_list args;
  va_start(args, format);
  message = FormatTextV(format, args);
  va_end(args);
}

}  // namespace vantrel
