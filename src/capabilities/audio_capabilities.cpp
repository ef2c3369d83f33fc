#include "capabilities/audio_capabilities.h"

#include <cctype>
#include <string_view>

#include "foundation/text_format.h"

namespace vantrel {
namespace {

// Decimal digits at `pos`, failing on none or on more than 32 bits (sscanf's %u would take "-1"
// as 4294967295 and wrap silently on overflow).
bool ReadUnsigned(const std::string& text, size_t& pos, uint32_t& value) {
  const size_t start = pos;
  uint64_t v = 0;
  while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
    v = v * 10 + static_cast<uint64_t>(text[pos] - '0');
    if (v > 0xFFFFFFFFull) return false;
    ++pos;
  }
  value = static_cast<uint32_t>(v);
  return pos > start;
}

bool Expect(const std::string& text, size_t& pos, const char* literal) {
  const std::string_view lit(literal);
  if (text.compare(pos, lit.size(), lit) != 0) return false;
  pos += lit.size();
  return true;
}

}  // namespace

bool CAudioCapabilities::FromText(const std::string& text) {
  size_t pos = 0;
  uint32_t c = 0;
  uint32_t s = 0;
  if (!Expect(text, pos, "Count=") || !ReadUnsigned(text, pos, c)) return false;
  if (!Expect(text, pos, ";")) return false;
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
  if (!Expect(text, pos, "IsStereo=") || !ReadUnsigned(text, pos, s)) return false;
  count = c;
  stereo = (s == 1);
  return true;
}

std::string CAudioCapabilities::ToText() const {
  return FormatText("Count=%u; IsStereo=%u", count, stereo ? 1u : 0u);
}

}  // namespace vantrel
