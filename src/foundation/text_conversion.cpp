#include "foundation/text_conversion.h"

#include <windows.h>

#include <climits>

namespace vantrel {

std::wstring Utf8ToWide(std::string_view text) {
  if (text.empty() || text.size() > INT_MAX) return {};
  const int inLen = static_cast<int>(text.size());
  // Lenient: an invalid sequence becomes U+FFFD, so one bad byte in a camera's text does not
  // blank the whole text.
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), inLen, nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  if (MultiByteToWideChar(CP_UTF8, 0, text.data(), inLen, out.data(), n) != n) return {};
  return out;
}

std::string WideToUtf8(std::wstring_view text) {
  if (text.empty() || text.size() > INT_MAX) return {};
  const int inLen = static_cast<int>(text.size());
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), inLen, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  if (WideCharToMultiByte(CP_UTF8, 0, text.data(), inLen, out.data(), n, nullptr, nullptr) != n) return {};
  return out;
}

}  // namespace vantrel
