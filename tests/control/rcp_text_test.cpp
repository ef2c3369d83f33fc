#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "control/rcp_reply_text.h"
#include "control/rcp_request_line.h"

namespace vantrel {
namespace {

TEST(RcpReplyTextTest, Numbers) {
  struct Case {
    const char* text;
    uint32_t hex;
    uint32_t dec;
  };
  const Case cases[] = {
      {"", 0, 0},
      {"  0x1F\r\n", 0x1F, 0},
      {"0X0a", 0x0A, 0},
      {"1f", 0x1F, 1},
      {"  42 ", 0x42, 42},
      {"4294967295", 0xFFFFFFFF, 4294967295u},
      {"ffffffffff", 0xFFFFFFFF, 0},
      {"99999999999", 0xFFFFFFFF, 0xFFFFFFFF},
      {"-1", 0xFFFFFFFF, 0xFFFFFFFF},
      {"12abc", 0x12ABC, 12},
      {"xyz", 0, 0},
      {"0x", 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseRcpHexText(c.text), c.hex) << '"' << c.text << '"';
    EXPECT_EQ(ParseRcpDecText(c.text), c.dec) << '"' << c.text << '"';
  }
}

TEST(RcpReplyTextTest, ByteLists) {
  struct Case {
    const char* text;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {"00 1b 2c 03 04 05", {0x00, 0x1B, 0x2C, 0x03, 0x04, 0x05}},
      {"\r\n  ff\t0\n7 ", {0xFF, 0x00, 0x07}},
      {"000f", {0x0F}},
      {"", {}},
      {"   ", {}},
      {"00 1B", {}},    // upper case is not a byte list
      {"0x01 02", {}},  // nor is a prefix
      {"12 345", {}},   // a token past one byte is refused, not truncated
      {"CAMSIM", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseRcpByteText(c.text), c.bytes) << '"' << c.text << '"';
}

TEST(RcpRequestLineTest, ExactFormats) {
  const std::pair<std::string, std::string> cases[] = {
      {BuildRcpReadLine(0x97C, kRcpTypeString, 0), "/rcp.xml?command=0x097C&type=P_STRING&direction=READ"},
      {BuildRcpReadLine(0x0807, kRcpTypeOctets, 2),
       "/rcp.xml?command=0x0807&type=P_OCTET&direction=READ&num=2"},
      {BuildRcpWriteLine(0x0607, kRcpTypeDword, "1500", 0),
       "/rcp.xml?command=0x0607&type=T_DWORD&direction=WRITE&payload=1500"},
      {BuildRcpWriteLine(0x01C1, kRcpTypeFlag, "1", 3),
       "/rcp.xml?command=0x01C1&type=F_FLAG&direction=WRITE&num=3&payload=1"},
      {BuildRcpWriteLine(0xFFDD, kRcpTypeOctets, "", 1),
       "/rcp.xml?command=0xFFDD&type=P_OCTET&direction=WRITE&num=1&payload="},
      {BuildRcpSessionReadLine(kRcpTypeOctets, "0x00960FA00000099900000000", 4096),
       "/rcp.xml?command=0x0901&type=P_OCTET&direction=READ&payload=0x00960FA00000099900000000&sessionid="
       "4096"},
      {BuildRcpSessionReadLine(kRcpTypeOctets, "", 0), "/rcp.xml?command=0x0901&type=P_OCTET&direction=READ"},
      {BuildRcpSessionWriteLine(0x0902, kRcpTypeInt, "0x00000064", 7),
       "/rcp.xml?command=0x0902&type=T_INT&direction=WRITE&payload=0x00000064&sessionid=7"},
      {BuildRcpSessionWriteLine(0x0902, kRcpTypeInt, "", 0),
       "/rcp.xml?command=0x0902&type=T_INT&direction=WRITE"},
      {BuildRcpExchangeLine("0x810004030001", 1),
       "/rcp.xml?command=0x09A5&type=P_OCTET&direction=WRITE&num=1&payload=0x810004030001"},
      {BuildRcpExchangeLine("", 0, "123456789123456789"),
       "/rcp.xml?command=0x09A5&type=P_OCTET&direction=WRITE&rnd=123456789123456789"},
  };
  for (const auto& [line, expected] : cases) EXPECT_EQ(line, expected);
}

TEST(RcpRequestLineTest, ShuffledDigitsKeepTheirMultiset) {
  std::minstd_rand engine(7);
  std::string sorted = "123456789123456789";
  std::sort(sorted.begin(), sorted.end());
  const std::string first = ShuffledRcpDigits(engine);
  bool changed = false;
  for (int i = 0; i < 20; ++i) {
    std::string digits = ShuffledRcpDigits(engine);
    changed |= digits != first;
    std::sort(digits.begin(), digits.end());
    EXPECT_EQ(digits, sorted);
  }
  EXPECT_TRUE(changed);
}

}  // namespace
}  // namespace vantrel
