// Request lines of RCP+ over HTTP. Cameras match these texts literally (the query is sent
// unescaped), so the formats are fixed to the character.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <string_view>

namespace vantrel {

// RCP+ data type names as they travel in "type=".
inline constexpr const char* kRcpTypeFlag = "F_FLAG";
inline constexpr const char* kRcpTypeOctet = "T_OCTET";
inline constexpr const char* kRcpTypeInt = "T_INT";
inline constexpr const char* kRcpTypeDword = "T_DWORD";
inline constexpr const char* kRcpTypeOctets = "P_OCTET";
inline constexpr const char* kRcpTypeString = "P_STRING";
inline constexpr const char* kRcpTypeULong = "P_ULONG";

inline constexpr uint16_t kRcpCommandSessionRead = 0x0901;
inline constexpr uint16_t kRcpCommandDataExchange = 0x09A5;

// "/rcp.xml?command=0x%.4X&type=%s&direction=READ" [&num=%u]
std::string BuildRcpReadLine(uint16_t command, std::string_view type, uint32_t num);
// "...&direction=WRITE" [&num=%u] "&payload=" payload (always present).
std::string BuildRcpWriteLine(uint16_t command, std::string_view type, std::string_view payload,
                              uint32_t num);
// Read of 0x0901: read line [&payload=] [&sessionid=].
std::string BuildRcpSessionReadLine(std::string_view type, std::string_view payload, uint32_t session);
// Write without a number: [&payload=] [&sessionid=].
std::string BuildRcpSessionWriteLine(uint16_t command, std::string_view type, std::string_view payload,
                                     uint32_t session);
// 0x09A5 "P_OCTET": [&num=] [&payload=] and, when `random` is given, "&rnd=" + the digits.
std::string BuildRcpExchangeLine(std::string_view payload, uint32_t num, std::string_view random = {});

// The 18 digits of "123456789123456789" in a fresh order. A repeated GET may be answered from a
// cache on the way; head commands must reach the camera every time, so their lines never repeat.
std::string ShuffledRcpDigits(std::minstd_rand& engine);

}  // namespace vantrel
