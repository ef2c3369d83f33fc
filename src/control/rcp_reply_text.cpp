#include "control/rcp_reply_text.h"

namespace vantrel {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

int DigitValue(char c, uint32_t base) {
  int v = -1;
  if (c >= '0' && c <= '9') {
    v = c - '0';
  } else if (c >= 'a' && c <= 'f') {
    v = c - 'a' + 10;
  } else if (c >= 'A' && c <= 'F') {
    v = c - 'A' + 10;
  }
  return v >= 0 && static_cast<uint32_t>(v) < base ? v : -1;
}

uint32_t ParseNumber(std::string_view text, uint32_t base) {
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (base == 16 && i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
      i + 2 < text.size() && DigitValue(text[i + 2], 16) >= 0) {
    i += 2;
  }
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const int d = DigitValue(text[i], base);
    if (d < 0) break;
    value = value * base + static_cast<uint32_t>(d);
    if (value > 0xFFFFFFFFull) return 0xFFFFFFFFu;
  }
  const uint32_t v = static_cast<uint32_t>(value);
  return negative ? 0u - v : v;
}

}  // namespace

uint32_t ParseRcpHexText(std::string_view text) { return ParseNumber(text, 16); }

uint32_t ParseRcpDecText(std::string_view text) { return ParseNumber(text, 10); }

std::vector<uint8_t> ParseRcpByteText(std::string_view text) {
  std::vector<uint8_t> bytes;
  for (char c : text) {
    const bool lowerHex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
    if (!lowerHex && c != ' ' && c != '\t' && c != '\r' && c != '\n') return {};
  }
  bytes.reserve(text.size() / 3 + 1);
  size_t i = 0;
  while (i < text.size()) {
    if (IsSpace(text[i])) {
      ++i;
      continue;
    }
    uint32_t value = 0;
    for (; i < text.size() && !IsSpace(text[i]); ++i) {
      value = value * 16 + static_cast<uint32_t>(DigitValue(text[i], 16));
      if (value > 0xFF) return {};
    }
    bytes.push_back(static_cast<uint8_t>(value));
  }
  return bytes;
}

}  // namespace vantrel
