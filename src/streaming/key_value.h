// The key-value extraction and small text helpers the RTSP response and SDP parsers share.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel {

// Finds `key` in `text` and returns the value of the first parameter that holds it: the
// parameter runs from just after the previous character of `delimiters` to just before the next
// one; its part before the first `separator` after the key, trimmed of blanks, must equal the key
// exactly (so "port" does not match "client_port=..."). The value is the rest of the parameter
// after that separator, untrimmed. No match gives an empty value.
std::string ExtractValue(std::string_view text, std::string_view key, char separator,
                         std::string_view delimiters);

// As ExtractValue, with the key matched without regard to case (RFC 3640 parameter names such as
// "sizeLength" are case-insensitive); the value keeps its case.
std::string ExtractValueNoCase(std::string_view text, std::string_view key, char separator,
                               std::string_view delimiters);

std::string_view TrimBlanks(std::string_view text);
std::string ToLower(std::string_view text);
bool StartsWith(std::string_view text, std::string_view prefix);
bool EqualsNoCase(std::string_view a, std::string_view b);

// Leading decimal digits of `text` (after blanks); nullopt without any digit or on overflow.
// A sign is not a digit: "-5" gives nullopt, never a huge unsigned value.
std::optional<uint32_t> ParseDecimal(std::string_view text);

}  // namespace vantrel
