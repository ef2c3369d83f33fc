#include "driver/debug_info.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "foundation/text_format.h"

namespace vantrel {

CDebugInfo::CDebugInfo(uint8_t level, const std::string& text) : level_(level) {
  if (!text.empty()) {
    text_.reset(new (std::nothrow) char[text.size() + 1]);
    if (text_) std::memcpy(text_.get(), text.c_str(), text.size() + 1);
  }
}

CDebugInfo::~CDebugInfo() = default;

void* CDebugInfo::ScalarDeletingDestructor(unsigned int flags) {
  if (flags & 1) {
    delete this;
  } else {
    this->~CDebugInfo();
  }
  return this;
}

std::string FormatLogText(const char* format, va_list args) { return FormatTextV(format, args); }

}  // namespace vantrel
