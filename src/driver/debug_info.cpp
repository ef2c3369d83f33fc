#include "driver/debug_info.h"

#include <cstdio>
#include <cstring>
#include <new>

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

std::string FormatLogText(const char* format, va_list args) {
  if (!format) return {};
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length <= 0) return {};
  std::string text(static_cast<size_t>(length), '\0');
  va_list fill;
  va_copy(fill, args);
  std::vsnprintf(text.data(), text.size() + 1, format, fill);
  va_end(fill);
  return text;
}

}  // namespace vantrel
