// One log message as the host's debug sink receives it. It lives only for the Post call; the
// sink copies what it keeps.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <memory>
#include <string>

#include "vantrel/ipcapture/host_objects.h"

namespace vantrel {

class CDebugInfo final : public ipcapture::CDebugInfoIf {
 public:
  // An empty text is handed to the host as null, which the host reads as "no text".
  CDebugInfo(uint8_t level, const std::string& text);
  ~CDebugInfo();
  CDebugInfo(const CDebugInfo&) = delete;
  CDebugInfo& operator=(const CDebugInfo&) = delete;

  // Behaves like the host compiler's scalar deleting destructor: destroys, and frees the
  // memory when bit 0 of flags is set (only for an object made with new).
  void* ScalarDeletingDestructor(unsigned int flags) override;
  uint8_t GetLevel() override { return level_; }
  const char* GetText() override { return text_.get(); }

 private:
  uint8_t level_;
  std::unique_ptr<char[]> text_;  // includes the terminating zero; null for an empty message
};

// printf-style formatting into a string; a format the C library rejects yields an empty text.
std::string FormatLogText(const char* format, va_list args);

}  // namespace vantrel
