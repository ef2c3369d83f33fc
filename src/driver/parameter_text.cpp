#include "driver/parameter_text.h"

#include <cctype>

#include "capabilities/audio_capabilities.h"
#include "core/driver_services.h"

namespace vantrel {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Reads decimal digits at `pos` into `value`, failing on none or on more than 32 bits.
bool ReadUnsigned(std::string_view text, size_t& pos, uint64_t limit, uint64_t& value) {
  size_t start = pos;
  value = 0;
  while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
    value = value * 10 + static_cast<uint64_t>(text[pos] - '0');
    if (value > limit) return false;
    ++pos;
  }
  return pos > start;
}

}  // namespace

std::string ParameterText(std::optional<std::string_view> raw) {
  if (!raw || *raw == "(none)") return {};
  return std::string(*raw);
}

int32_t ParameterInt(std::optional<std::string_view> raw) {
  if (!raw) return kParameterMissing;
  std::string_view text = *raw;
  size_t pos = 0;
  while (pos < text.size() && IsBlank(text[pos])) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
  uint64_t magnitude = 0;
  const uint64_t limit = negative ? 0x80000000ull : 0x7FFFFFFFull;
  if (!ReadUnsigned(text, pos, limit, magnitude)) return kParameterMissing;
  while (pos < text.size() && IsBlank(text[pos])) ++pos;
  if (pos != text.size()) return kParameterMissing;
  int64_t value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  return static_cast<int32_t>(value);
}

std::optional<AudioCapability> ParseAudioCapability(std::string_view text) {
  CAudioCapabilities caps;
  if (!caps.FromText(std::string(text))) return std::nullopt;
  return AudioCapability{caps.count, caps.stereo};
}

AudioStepPlan PlanAudioStep(const char* audioInput, const char* audioOutput) {
  AudioStepPlan plan;
  plan.anyParameter = audioInput != nullptr || audioOutput != nullptr;
  if (audioInput) {
    if (auto cap = ParseAudioCapability(audioInput)) plan.captureCount = cap->count;
  }
  if (audioOutput) {
    if (auto cap = ParseAudioCapability(audioOutput)) plan.senderCount = cap->count;
  }
  return plan;
}

}  // namespace vantrel
