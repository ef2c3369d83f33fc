#include "streaming/base64.h"

namespace vantrel {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t kLineLength = 76;

int DecodeChar(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::string Base64Encode(const uint8_t* data, size_t size) {
  std::string out;
  if (data == nullptr) return out;
  const size_t encoded = (size + 2) / 3 * 4;
  out.reserve(encoded + encoded / kLineLength * 2);
  size_t column = 0;
  auto put = [&out, &column](char c) {
    if (column == kLineLength) {
      out += "\r\n";
      column = 0;
    }
    out += c;
    ++column;
  };
  for (size_t i = 0; i < size; i += 3) {
    const uint32_t b0 = data[i];
    const uint32_t b1 = i + 1 < size ? data[i + 1] : 0;
    const uint32_t b2 = i + 2 < size ? data[i + 2] : 0;
    const uint32_t triple = (b0 << 16) | (b1 << 8) | b2;
    put(kAlphabet[(triple >> 18) & 0x3F]);
    put(kAlphabet[(triple >> 12) & 0x3F]);
    put(i + 1 < size ? kAlphabet[(triple >> 6) & 0x3F] : '=');
    put(i + 2 < size ? kAlphabet[triple & 0x3F] : '=');
  }
  return out;
}

std::string Base64Encode(std::string_view text) {
  return Base64Encode(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

bool Base64Decode(std::string_view text, std::vector<uint8_t>& out) {
  out.clear();
  uint32_t accumulator = 0;
  size_t count = 0;    // significant characters in the current quantum
  size_t padding = 0;  // '=' seen; only more '=' or line breaks may follow
  for (char c : text) {
    if (c == '\r' || c == '\n') continue;
    if (c == '=') {
      if (count < 2 || count + padding >= 4) return out.clear(), false;
      ++padding;
      continue;
    }
    const int value = DecodeChar(c);
    if (value < 0 || padding > 0) return out.clear(), false;
    accumulator = (accumulator << 6) | static_cast<uint32_t>(value);
    if (++count == 4) {
      out.push_back(static_cast<uint8_t>(accumulator >> 16));
      out.push_back(static_cast<uint8_t>(accumulator >> 8));
      out.push_back(static_cast<uint8_t>(accumulator));
      accumulator = 0;
      count = 0;
    }
  }
  if (padding > 0 && count + padding != 4) return out.clear(), false;
  if (count == 1) return out.clear(), false;
  if (count == 2) {
    out.push_back(static_cast<uint8_t>(accumulator >> 4));
  } else if (count == 3) {
    out.push_back(static_cast<uint8_t>(accumulator >> 10));
    out.push_back(static_cast<uint8_t>(accumulator >> 2));
  }
  return true;
}

}  // namespace vantrel
