#include "channels/rcp_stream_packet.h"

#include <gtest/gtest.h>

#include <vector>

namespace vantrel {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(RcpStreamPacket, ExpectedPayloadTypeByMode) {
  EXPECT_EQ(ExpectedPayloadType(true, 2), 0);
  EXPECT_EQ(ExpectedPayloadType(false, 1), 26);
  EXPECT_EQ(ExpectedPayloadType(false, 2), 34);
  EXPECT_EQ(ExpectedPayloadType(false, 3), 35);
  EXPECT_EQ(ExpectedPayloadType(false, 0), 255);
  EXPECT_EQ(ExpectedPayloadType(false, 4), 255);
}

TEST(RcpStreamPacket, HeaderRules) {
  struct Case {
    const char* what;
    Bytes packet;
    uint8_t expected;
    bool accepted;
    size_t offset = 0;  // payload start
    size_t size = 0;
  };
  // clang-format off
  const Case cases[] = {
      {"two CSRC entries and a one-word extension: 28-byte header",
       {0x92, 0xA2, 0x12, 0x34, 0, 0, 0x10, 0, 1, 2, 3, 4,  // V=2 X CC=2; M PT=34; seq; ts; SSRC
        0, 0, 0, 1, 0, 0, 0, 2,                              // CSRC list
        0xBE, 0xDE, 0x00, 0x01, 9, 9, 9, 9,                  // extension header, one word
        0xAA, 0xBB}, 34, true, 28, 2},
      {"plain 12-byte header", {0x80, 34, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0xAA}, 34, true, 12, 1},
      {"payload type 96 on an MPEG-4 connection", {0x80, 96, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0xAA}, 34, false},
      {"header only", {0x80, 34, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}, 34, false},
      {"version 1", {0x40, 34, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0xAA}, 34, false},
      {"CSRC list beyond the packet", {0x8F, 34, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0xAA}, 34, false},
      {"extension header cut off", {0x90, 34, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0xBE, 0xDE, 0}, 34, false},
      {"extension longer than the packet",
       {0x90, 34, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0xBE, 0xDE, 0xFF, 0xFF, 0xAA}, 34, false},
      {"padding of two", {0xA0, 34, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0xAA, 0xBB, 0, 2}, 34, true, 12, 2},
      {"padding that eats the whole payload", {0xA0, 34, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0xAA, 2}, 34, true, 12, 0},
      {"padding beyond the payload", {0xA0, 34, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0xAA, 0xFF}, 34, false},
      {"sending expects payload type 0", {0x80, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0xAA}, 0, true, 12, 1},
      {"255 matches nothing", {0x80, 0x7F, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0xAA}, 255, false},
  };
  // clang-format on
  for (const Case& c : cases) {
    auto payload = ParseStreamedRtpPacket(c.packet, c.expected);
    ASSERT_EQ(payload.has_value(), c.accepted) << c.what;
    if (!payload) continue;
    EXPECT_EQ(payload->data, c.packet.data() + c.offset) << c.what;
    EXPECT_EQ(payload->size, c.size) << c.what;
  }
}

TEST(RcpStreamPacket, FieldsAreBigEndian) {
  const Bytes packet = {0x80, 0x80 | 34, 0xAB, 0xCD, 0x01, 0x02, 0x03, 0x04, 0, 0, 0, 0, 0xAA};
  auto payload = ParseStreamedRtpPacket(packet, 34);
  ASSERT_TRUE(payload);
  EXPECT_EQ(payload->sequenceNumber, 0xABCD);
  EXPECT_EQ(payload->timestamp, 0x01020304u);
  EXPECT_TRUE(payload->marker);
}

}  // namespace
}  // namespace vantrel
