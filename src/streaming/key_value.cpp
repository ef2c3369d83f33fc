#include "streaming/key_value.h"

#include <utility>

namespace vantrel {

namespace {

// Offset and length of the value in `text`, or npos.
std::pair<size_t, size_t> FindValue(std::string_view text, std::string_view key, char separator,
                                    std::string_view delimiters) {
  constexpr auto kNone = std::pair<size_t, size_t>{std::string_view::npos, 0};
  if (key.empty()) return kNone;
  size_t at = text.find(key);
  while (at != std::string_view::npos) {
    size_t begin = text.find_last_of(delimiters, at == 0 ? std::string_view::npos : at - 1);
    begin = (at == 0 || begin == std::string_view::npos) ? 0 : begin + 1;
    size_t end = text.find_first_of(delimiters, at + key.size());
    if (end == std::string_view::npos) end = text.size();
    const std::string_view parameter = text.substr(begin, end - begin);
    const size_t separatorAt = parameter.find(separator, at - begin + key.size());
    if (separatorAt != std::string_view::npos && TrimBlanks(parameter.substr(0, separatorAt)) == key)
      return {begin + separatorAt + 1, parameter.size() - separatorAt - 1};
    at = text.find(key, at + 1);
  }
  return kNone;
}

}  // namespace

std::string ExtractValue(std::string_view text, std::string_view key, char separator,
                         std::string_view delimiters) {
  const auto [offset, length] = FindValue(text, key, separator, delimiters);
  return offset == std::string_view::npos ? std::string() : std::string(text.substr(offset, length));
}

std::string ExtractValueNoCase(std::string_view text, std::string_view key, char separator,
                               std::string_view delimiters) {
  const std::string lowerText = ToLower(text), lowerKey = ToLower(key);
  const auto [offset, length] = FindValue(lowerText, lowerKey, separator, delimiters);
  return offset == std::string_view::npos ? std::string() : std::string(text.substr(offset, length));
}

std::string_view TrimBlanks(std::string_view text) {
  const size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return {};
  const size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

std::string ToLower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::optional<uint32_t> ParseDecimal(std::string_view text) {
  text = TrimBlanks(text);
  uint64_t value = 0;
  size_t digits = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > 0xFFFFFFFFull) return std::nullopt;
    ++digits;
  }
  if (digits == 0) return std::nullopt;
  return static_cast<uint32_t>(value);
}

}  // namespace vantrel
