// UTF-8 <-> UTF-16 conversions for the Win32 and COM calls that take wide text.
#pragma once

#include <string>
#include <string_view>

namespace vantrel {

// Empty for empty input or when the conversion fails; invalid sequences become U+FFFD.
std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);

}  // namespace vantrel
