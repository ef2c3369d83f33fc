#include "streaming/rtp_packet.h"

#include <gtest/gtest.h>

#include <vector>

namespace vantrel {
namespace {

bool Parse(CRTPPacket& packet, const std::vector<uint8_t>& bytes) {
  return packet.Parse(bytes.data(), bytes.size());
}

TEST(RTPPacketTest, ParsesFixedHeaderCsrcExtensionAndPadding) {
  // clang-format off
  const std::vector<uint8_t> bytes = {
      0xB1,                    // V=2 P=1 X=1 CC=1
      0xE0,                    // M=1 PT=96
      0x12, 0x34,              // sequence number
      0x00, 0x01, 0x5F, 0x90,  // timestamp 90000
      0xDE, 0xAD, 0xBE, 0xEF,  // SSRC
      0x01, 0x02, 0x03, 0x04,  // CSRC 1
      0xFF, 0xD8, 0x00, 0x01,  // extension profile 0xFFD8, 1 word
      0xAA, 0xBB, 0xCC, 0xDD,  // extension data
      0x65, 0x88,              // payload
      0x00, 0x02,              // padding, count 2
  };
  // clang-format on
  CRTPPacket p;
  ASSERT_TRUE(Parse(p, bytes));
  EXPECT_TRUE(p.GetMarker());
  EXPECT_TRUE(p.GetPadding());
  EXPECT_EQ(p.GetPayloadType(), 96);
  EXPECT_EQ(p.GetSequenceNumber(), 0x1234);
  EXPECT_EQ(p.GetTimestamp(), 90000u);
  EXPECT_EQ(p.GetSsrc(), 0xDEADBEEFu);
  ASSERT_EQ(p.GetCsrcCount(), 1);
  EXPECT_EQ(p.GetCsrcList()[0], 0x01020304u);
  EXPECT_EQ(p.GetExtensionProfile(), 0xFFD8);
  EXPECT_EQ(p.GetExtensionLength(), 1);
  EXPECT_EQ(p.GetExtensionData(), (std::vector<uint8_t>{0xAA, 0xBB, 0xCC, 0xDD}));
  ASSERT_EQ(p.GetPayloadLength(), 2u);
  EXPECT_EQ(p.GetPayload()[0], 0x65);
  EXPECT_EQ(p.GetPayload()[1], 0x88);
}

TEST(RTPPacketTest, AcceptanceByShape) {
  const std::vector<uint8_t> header = {0x80, 0x60, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1};
  auto with = [&header](std::vector<uint8_t> tail, uint8_t first = 0x80) {
    std::vector<uint8_t> v = header;
    v[0] = first;
    v.insert(v.end(), tail.begin(), tail.end());
    return v;
  };
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    bool ok;
    uint32_t payload;
  } cases[] = {
      {"header only", header, false, 0},
      {"one payload byte", with({0x41}), true, 1},
      {"version 1", with({0x41}, 0x40), false, 0},
      {"version 3", with({0x41}, 0xC0), false, 0},
      {"CSRC list fills the rest", with({1, 2, 3, 4}, 0x81), false, 0},
      {"CSRC list and one byte", with({1, 2, 3, 4, 9}, 0x81), true, 1},
      {"CSRC count past the end", with({1, 2, 3, 4, 5}, 0x8F), false, 0},
      {"extension header cut", with({0xBE, 0xDE, 0}, 0x90), false, 0},
      {"extension data cut", with({0xBE, 0xDE, 0, 2, 1, 2, 3, 4}, 0x90), false, 0},
      {"extension, empty payload", with({0xBE, 0xDE, 0, 1, 1, 2, 3, 4}, 0x90), true, 0},
      {"padding count beyond packet", with({1, 2, 9}, 0xA0), false, 0},
      {"padding eats the payload", with({1, 2, 3}, 0xA0), true, 0},
      {"padding count 0", with({1, 2, 0}, 0xA0), true, 3},
  };
  for (const auto& c : cases) {
    CRTPPacket p;
    EXPECT_EQ(Parse(p, c.bytes), c.ok) << c.name;
    EXPECT_EQ(p.GetPayloadLength(), c.payload) << c.name;
  }
}

TEST(RTPPacketTest, FailedParseLeavesNoStaleContents) {
  CRTPPacket p;
  ASSERT_TRUE(Parse(p, {0x90, 0xE0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0xBE, 0xDE, 0, 1, 1, 2, 3, 4, 0x41}));
  EXPECT_FALSE(Parse(p, {0x80, 0x60}));
  EXPECT_EQ(p.GetPayloadLength(), 0u);
  EXPECT_FALSE(p.HasExtension());
  EXPECT_FALSE(p.GetMarker());
  EXPECT_FALSE(p.Parse(nullptr, 100));
}

TEST(RTPPacketTest, SerializeRoundTrips) {
  CRTPPacket p;
  p.SetSequenceNumber(65535);
  p.SetTimestamp(0xFFFFFFFF);
  p.SetMarker(true);
  p.SetPayloadType(26);
  p.SetSsrc(7);
  p.SetCsrcList({1, 2});
  const uint8_t ext[] = {9, 8, 7};
  p.SetExtension(0xFFFF, ext, sizeof(ext));
  const uint8_t payload[] = {1, 2, 3};
  p.SetPayload(payload, sizeof(payload));
  const auto bytes = p.Serialize();
  CRTPPacket q;
  ASSERT_TRUE(Parse(q, bytes));
  EXPECT_EQ(q.GetSequenceNumber(), 65535);
  EXPECT_EQ(q.GetTimestamp(), 0xFFFFFFFFu);
  EXPECT_EQ(q.GetPayloadType(), 26);
  EXPECT_EQ(q.GetCsrcList(), (std::vector<uint32_t>{1, 2}));
  EXPECT_EQ(q.GetExtensionData(), (std::vector<uint8_t>{9, 8, 7, 0}));
  EXPECT_EQ(q.GetPayloadLength(), 3u);
}

}  // namespace
}  // namespace vantrel
