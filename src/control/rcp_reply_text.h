// Conversions of the element texts of an RCP+ reply ("rcp/result/hex", "dec", "err", "str").
// Portable, so that the rules are tested under the sanitizers and fuzzed.
//
// Grammar accepted, and the leniency we allow cameras:
//   hex  := ws* ["0x" | "0X"] hexdigit* ...   digits stop at the first other character; no
//                                              digits reads 0; values past 32 bits saturate.
//   dec  := ws* ["+" | "-"] digit* ...         as hex, base 10; "-n" wraps like strtoul does.
//   err  := the hex rule; the caller reports 255 itself when it has no document at all.
//   str bytes := (hexbyte | ws)*  with hexbyte = LOWER-case hex digits worth at most 0xff, ws = " \t\r\n".
//     Firmware writes lower case; any other character (upper-case digits included) means the
//     text is not a byte list and yields no bytes. A token too long for one byte ("123") also
//     yields no bytes instead of being truncated into a wrong value.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace vantrel {

uint32_t ParseRcpHexText(std::string_view text);
uint32_t ParseRcpDecText(std::string_view text);
// Empty when the text is not a byte list.
std::vector<uint8_t> ParseRcpByteText(std::string_view text);

}  // namespace vantrel
