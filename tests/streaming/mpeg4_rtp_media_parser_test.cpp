#include "streaming/mpeg4_rtp_media_parser.h"

#include <gtest/gtest.h>

#include "parser_test_support.h"

namespace vantrel {
namespace {

using testing::Concat;
using testing::MakePacket;
using testing::ParserHarness;
using Bytes = std::vector<uint8_t>;

struct Mpeg4Harness : ParserHarness {
  Mpeg4Harness() { parser.SetClient(&client); }
  void Payload(uint16_t seq, const Bytes& p, bool end) {
    parser.ProcessPayload(p.data(), p.size(), seq, 3600, end);
  }
  CMpeg4RTPMediaParser parser{&driver};
};

// H.263 picture header: PSC, TR 0, PTYPE with the source format and picture coding type.
Bytes H263Picture(uint8_t format, bool intra) {
  return {0x00, 0x00, 0x80, 0x02, uint8_t((format << 2) | (intra ? 0 : 0x02)), 0x11, 0x22};
}

// MPEG-4 Visual VOL header for 176x144: simple object type, resolution 30, not fixed rate.
const Bytes kVol = {0x00, 0x00, 0x01, 0x20, 0x00, 0x84, 0x40, 0x07, 0xA8, 0x2C, 0x20, 0x90, 0xA2, 0x1F};

TEST(MP4ParserTest, VolPictureSize) {
  CMP4Parser parser;
  uint32_t w = 0, h = 0;
  const Bytes withVos = Concat({{0, 0, 1, 0xB0, 0x01, 0, 0, 1, 0xB5, 0x09}, {0, 0, 1, 0x00}, kVol});
  for (const Bytes& data : {kVol, withVos}) {
    ASSERT_TRUE(parser.GetPictureSize(data.data(), data.size(), w, h));
    EXPECT_EQ(w, 176u);
    EXPECT_EQ(h, 144u);
  }
  const Bytes truncated(kVol.begin(), kVol.end() - 3);
  EXPECT_FALSE(parser.GetPictureSize(truncated.data(), truncated.size(), w, h));
  const Bytes vopFirst = Concat({{0, 0, 1, 0xB6, 0x10}, kVol});
  EXPECT_FALSE(parser.GetPictureSize(vopFirst.data(), vopFirst.size(), w, h));
  EXPECT_FALSE(parser.GetPictureSize(nullptr, 0, w, h));
}

TEST(MP4ParserTest, IntraDetection) {
  const struct {
    const char* name;
    Bytes data;
    bool intra;
  } cases[] = {
      {"H.263 I", H263Picture(3, true), true},
      {"H.263 P", H263Picture(3, false), false},
      {"PLUSPTYPE with OPPTYPE, I", {0, 0, 0x80, 0x02, 0x1C, 0x80, 0x00, 0x00}, true},
      {"PLUSPTYPE with OPPTYPE, P", {0, 0, 0x80, 0x02, 0x1C, 0x80, 0x00, 0x04}, false},
      {"PLUSPTYPE without OPPTYPE, I", {0, 0, 0x80, 0x02, 0x1C, 0x00}, true},
      {"PLUSPTYPE without OPPTYPE, P", {0, 0, 0x80, 0x02, 0x1C, 0x10}, false},
      {"VOP I after VOL", Concat({kVol, {0, 0, 1, 0xB6, 0x10}}), true},
      {"VOP P", {0, 0, 1, 0xB6, 0x50}, false},
      {"truncated H.263", {0, 0, 0x80, 0x02}, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CMP4Parser::IsIntraPicture(c.data.data(), c.data.size()), c.intra) << c.name;
}

TEST(Mpeg4RTPMediaParserTest, InterAtStartIsDroppedFirstIntraDelivered) {
  Mpeg4Harness t;
  t.Payload(1, Concat({{0, 0, 0, 0}, H263Picture(3, false)}), true);
  EXPECT_TRUE(t.client.frames.empty());
  t.Payload(2, Concat({{0, 0, 0, 0}, H263Picture(3, true)}), true);
  t.Payload(3, Concat({{0, 0, 0, 0}, H263Picture(3, false)}), true);
  ASSERT_EQ(t.client.frames.size(), 2u);
  EXPECT_EQ(t.client.frames[0].fourcc, "DIVX");
  EXPECT_EQ(t.client.frames[0].width, 352u);
  EXPECT_EQ(t.client.frames[0].height, 288u);
  EXPECT_EQ(t.client.frames[0].sizeClass, 2u);
  EXPECT_EQ(t.client.frames[0].data, H263Picture(3, true));
  EXPECT_EQ(t.client.frames[1].fourcc, "DIVI");
  // 4CIF is wide: DIVD/DIVP and size class 4.
  t.Payload(4, Concat({{0, 0, 0, 0}, H263Picture(4, true)}), true);
  EXPECT_EQ(t.client.frames.back().fourcc, "DIVD");
  EXPECT_EQ(t.client.frames.back().sizeClass, 4u);
}

TEST(Mpeg4RTPMediaParserTest, PartialBytesAreMergedAcrossPackets) {
  Mpeg4Harness t;
  const Bytes picture = H263Picture(2, true);
  // clang-format off
  t.Payload(1, {0x03, 0, 0, 0,       // F=0 SBIT=0 EBIT=3
                0x00, 0x00, 0x87},   // last byte: top 5 bits (10000) belong to the picture
            false);
  t.Payload(2, {0x28, 0, 0, 0,       // SBIT=5 EBIT=0
                0xF8,                // only its low 3 bits (000) complete the shared byte
                0x02, 0x08, 0x11, 0x22},
            true);
  // clang-format on
  ASSERT_EQ(t.client.frames.size(), 1u);
  EXPECT_EQ(t.client.frames[0].data, picture);
  EXPECT_EQ(t.client.frames[0].width, 176u);
}

TEST(Mpeg4RTPMediaParserTest, HeaderLengthsAndShortPayloads) {
  const struct {
    const char* name;
    Bytes header;
  } cases[] = {{"mode A", {0x00, 0, 0, 0}},
               {"mode B", {0x80, 0, 0, 0, 0, 0, 0, 0}},
               {"mode C", {0xC0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}};
  for (const auto& c : cases) {
    Mpeg4Harness t;
    t.Payload(1, c.header, false);  // header only: nothing appended
    t.Payload(2, Concat({c.header, H263Picture(3, true)}), true);
    ASSERT_EQ(t.client.frames.size(), 1u) << c.name;
    EXPECT_EQ(t.client.frames[0].data, H263Picture(3, true)) << c.name;
  }
  Mpeg4Harness t;
  t.parser.ProcessPayload(nullptr, 5, 1, 0, true);
  t.Payload(2, {0x07}, true);
  EXPECT_TRUE(t.client.frames.empty());
}

TEST(Mpeg4RTPMediaParserTest, SequenceGapReturnsToWaiting) {
  Mpeg4Harness t;
  t.Payload(1, Concat({{0, 0, 0, 0}, H263Picture(3, true)}), true);
  t.Payload(3, Concat({{0, 0, 0, 0}, H263Picture(3, false)}), true);
  EXPECT_EQ(t.client.frames.size(), 1u);
  EXPECT_TRUE(t.parser.IsWaitingForKeyFrame());
}

TEST(Mpeg4RTPMediaParserTest, Rfc3016PacketsSplitVopsAndGetTheSdpConfig) {
  Mpeg4Harness t;
  t.parser.SetParameterSets({}, {}, kVol);
  const Bytes iVop = {0, 0, 1, 0xB6, 0x10, 0xAA};
  const Bytes pVop1 = {0, 0, 1, 0xB6, 0x50, 0xBB};
  const Bytes pVop2 = {0, 0, 1, 0xB6, 0x50, 0xCC};
  t.parser.ProcessPacket(MakePacket(1, 0, true, Concat({{0, 0, 1, 0xB3, 0, 0, 0}, iVop})));
  t.parser.ProcessPacket(MakePacket(2, 0, true, Concat({pVop1, pVop2})));
  ASSERT_EQ(t.client.frames.size(), 3u);
  EXPECT_EQ(t.client.frames[0].data, Concat({kVol, {0, 0, 1, 0xB3, 0, 0, 0}, iVop}));
  EXPECT_EQ(t.client.frames[0].fourcc, "DIVX");
  EXPECT_EQ(t.client.frames[0].width, 176u);
  EXPECT_EQ(t.client.frames[1].data, pVop1);
  EXPECT_EQ(t.client.frames[2].data, pVop2);
  EXPECT_EQ(t.client.frames[2].fourcc, "DIVI");
}

TEST(Mpeg4RTPMediaParserTest, IntraVopWithoutAnySizeInAMultiVopPacket) {
  // Fuzzer-found: the failed size lookup emptied the buffer while later VOPs still pointed into it.
  Mpeg4Harness t;
  t.parser.ProcessPacket(MakePacket(1, 0, true, {0, 0, 1, 0xB6, 0x10, 0, 0, 1, 0xB6, 0x10, 0xAA}));
  EXPECT_TRUE(t.client.frames.empty());
  EXPECT_TRUE(t.parser.IsWaitingForKeyFrame());
  EXPECT_TRUE(t.parser.GetFrameBuffer().empty());
}

}  // namespace
}  // namespace vantrel
