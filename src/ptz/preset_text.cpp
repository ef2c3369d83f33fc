#include "ptz/preset_text.h"

#include <cstdio>

namespace vantrel {

bool IsValidPresetName(std::wstring_view name) {
  if (name.empty()) return false;
  return name.find_first_of(L"&!<>'\"") == std::wstring_view::npos;
}

std::optional<uint32_t> ParsePresetSlot(std::string_view text) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > 0xFFFFFFFFull) return std::nullopt;
  }
  return static_cast<uint32_t>(value);
}

std::string PresetChannelElement(uint32_t channel) {
  char text[32];
  std::snprintf(text, sizeof(text), "%s%.2u", "PtzChannel", channel + 1);
  return text;
}

std::string PresetPositionElement(uint32_t position) {
  char text[32];
  std::snprintf(text, sizeof(text), "%s%.3u", "Preposition", position);
  return text;
}

std::string MakePresetFileName(std::string_view maker, std::string_view deviceText) {
  auto clean = [](std::string_view in) {
    static constexpr std::string_view kRemoved = "\\/:*?\"<>!' -";
    std::string out;
    for (char c : in)
      if (kRemoved.find(c) == std::string_view::npos) out.push_back(c);
    return out;
  };
  const std::string a = clean(maker);
  const std::string b = clean(deviceText);
  if (a.empty() || b.empty()) return {};
  return a + "_" + b + ".preset";
}

}  // namespace vantrel
