#include "core/logger_instance.h"

#include <cstdarg>

#include "foundation/text_format.h"

namespace vantrel {

CLoggerInstance::CLoggerInstance(IDebugMessage* owner) : owner_(owner) {}

CLoggerInstance::~CLoggerInstance() = default;

bool CLoggerInstance::CountChange(uint32_t& changeCount) {
  const uint32_t c = ++changeCount;
  if (c < 15) return true;
  if (c < 255) return c % 16 == 0;
  if (c < 4095) return c % 256 == 0;
  if (c < 65535) return c % 4096 == 0;
  changeCount = 4095;
  return false;
}

void CLoggerInstance::Log(uint32_t level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatTextV(format, args);
  va_end(args);
  if (text.empty()) return;

  CScopedLock guard(lock_);
  if (text == lastText_) return;
  if (!CountChange(changeCount_)) return;
  lastText_ = text;
  // Handed on as finished text: a percent sign in it must reach the host unchanged.
  if (owner_) owner_->Log(level, "%s", lastText_.c_str());
}

void CLoggerInstance::Reset() {
  CScopedLock guard(lock_);
  lastText_.clear();
}

}  // namespace vantrel
