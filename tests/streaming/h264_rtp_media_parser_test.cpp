#include "streaming/h264_rtp_media_parser.h"

#include <gtest/gtest.h>

#include "parser_test_support.h"
#include "streaming/base64.h"
#include "streaming/h264_sps_reader.h"

namespace vantrel {
namespace {

using testing::Concat;
using testing::MakePacket;
using testing::ParserHarness;
using Bytes = std::vector<uint8_t>;

// Baseline SPS of a 320x180 x264 stream (cropped from 320x192), with an emulation-prevention
// byte in its VUI.
Bytes Sps320x180() {
  Bytes sps;
  Base64Decode("Z0LAFdkBQZ+fAWoMDA1KAAADAAIAAAMAZR4sXJA=", sps);
  return sps;
}
const Bytes kPps = {0x68, 0xCB, 0x8C, 0xB2};
const Bytes kStart = {0, 0, 1};
const Bytes kAud = {0, 0, 1, 0x09, 0x30};

struct H264Harness : ParserHarness {
  H264Harness() { parser.SetClient(&client); }
  void Feed(uint16_t seq, bool marker, const Bytes& payload, uint32_t ts = 3000) {
    parser.ProcessPacket(MakePacket(seq, ts, marker, payload));
  }
  CH264RTPMediaParser parser{&driver};
};

TEST(H264SpsReaderTest, PictureSizes) {
  // clang-format off
  const struct {
    const char* name;
    Bytes annexB;
    bool ok;
    uint32_t width, height;
  } cases[] = {
      {"x264 baseline 320x180, cropped", Concat({kStart, Sps320x180()}), true, 320, 180},
      // profile 66, level 30, id 0, log2_max_frame_num 0, poc type 0, lsb 0, 1 ref, 22x18 MBs
      {"no emulation bytes, CIF", {0, 0, 1, 0x67, 0x42, 0x00, 0x1E, 0xF4, 0x0B, 0x04, 0xB2}, true, 352, 288},
      {"no start code", Sps320x180(), false, 0, 0},
      {"start code but PPS", Concat({kStart, kPps}), false, 0, 0},
      {"truncated after level", {0, 0, 1, 0x67, 0x42, 0xC0}, false, 0, 0},
      {"all zero bits", {0, 0, 1, 0x67, 0, 0, 0, 0, 0, 0, 0, 0}, false, 0, 0},
  };
  // clang-format on
  for (const auto& c : cases) {
    uint32_t w = 0, h = 0;
    EXPECT_EQ(CH264SpsReader::FindAndParse(c.annexB.data(), c.annexB.size(), w, h), c.ok) << c.name;
    if (c.ok) {
      EXPECT_EQ(w, c.width) << c.name;
      EXPECT_EQ(h, c.height) << c.name;
    }
  }
}

TEST(H264SpsReaderTest, High1088WithCroppingGives1080) {
  // High profile 1920x1088, chroma 4:2:0, no scaling matrix, poc 0, crop bottom 4.
  // Bits after level/id: chroma_format_idc=1 '010', bit depths '1' '1', bypass 0, matrix 0,
  // log2_max_frame_num '1', poc type '1', lsb '1', refs '011', gaps 0, width 119 ue, height 67 ue,
  // frame_mbs_only 1, direct8x8 1, cropping 1, 0 0 0 4.
  const Bytes sps = {0,    0,    1,    0x67, 0x64, 0x00, 0x28, 0xAC, 0xD9,
                     0x40, 0x78, 0x02, 0x27, 0xE5, 0xC0, 0x44, 0x00};
  uint32_t w = 0, h = 0;
  ASSERT_TRUE(CH264SpsReader::FindAndParse(sps.data(), sps.size(), w, h));
  EXPECT_EQ(w, 1920u);
  EXPECT_EQ(h, 1080u);
}

TEST(H264RTPMediaParserTest, FuAIdrWithSdpParameterSets) {
  H264Harness t;
  t.parser.SetParameterSets(Sps320x180(), kPps, {});
  EXPECT_EQ(t.parser.GetWidth(), 320u);
  // clang-format off
  t.Feed(10, false, {0x7C,        // FU indicator: F=0 NRI=3 type=28
                     0x85,        // FU header: S=1 E=0 type=5 (IDR)
                     0x88, 0x84});  // first_mb_in_slice=0 (top bit set)
  t.Feed(11, true,  {0x7C, 0x45,  // FU header: S=0 E=1 type=5
                     0x21, 0x22});
  // clang-format on
  ASSERT_EQ(t.client.frames.size(), 1u);
  const auto& f = t.client.frames[0];
  EXPECT_EQ(f.data,
            Concat({kAud, kStart, Sps320x180(), kStart, kPps, kStart, {0x65, 0x88, 0x84, 0x21, 0x22}}));
  EXPECT_EQ(f.fourcc, "H264");
  EXPECT_EQ(f.width, 320u);
  EXPECT_EQ(f.height, 180u);
  EXPECT_EQ(f.sizeClass, 2u);
  EXPECT_EQ(t.client.timestamps, std::vector<uint32_t>{3000});
  EXPECT_EQ(t.allocator.LiveCount(), 0u);
  EXPECT_EQ(t.allocator.releases, 1);
}

TEST(H264RTPMediaParserTest, StapAStoresSetsAndEmitsThemBeforeTheSlice) {
  H264Harness t;
  const Bytes sps = Sps320x180();
  Bytes stap = {0x78};  // STAP-A, NRI=3
  for (const Bytes& unit : {sps, kPps, Bytes{0x06, 0x05, 0x01}, Bytes{0x65, 0x88, 0x80}}) {
    stap.push_back(uint8_t(unit.size() >> 8));
    stap.push_back(uint8_t(unit.size()));
    stap.insert(stap.end(), unit.begin(), unit.end());
  }
  t.Feed(1, true, stap);
  ASSERT_EQ(t.client.frames.size(), 1u);
  EXPECT_EQ(t.client.frames[0].data, Concat({kAud, kStart, sps, kStart, kPps, kStart, {0x65, 0x88, 0x80}}))
      << "SEI dropped, sets in front of the IDR slice";
}

TEST(H264RTPMediaParserTest, WaitsForKeyFrameThenDeliversI264) {
  H264Harness t;
  t.parser.SetParameterSets(Sps320x180(), kPps, {});
  t.Feed(1, true, {0x41, 0x9A, 0x01});  // P slice while waiting: dropped
  EXPECT_TRUE(t.client.frames.empty());
  t.Feed(2, true, {0x65, 0x88, 0x80});
  t.Feed(3, true, {0x41, 0x9A, 0x02});
  ASSERT_EQ(t.client.frames.size(), 2u);
  EXPECT_EQ(t.client.frames[0].fourcc, "H264");
  EXPECT_EQ(t.client.frames[1].fourcc, "I264");
  EXPECT_EQ(t.client.frames[1].data, Concat({kAud, {0, 0, 1, 0x41, 0x9A, 0x02}}));
  EXPECT_EQ(t.client.frames[1].width, 320u);
}

TEST(H264RTPMediaParserTest, SequenceGapInsideIdrDropsUntilNextSps) {
  H264Harness t;
  t.parser.SetParameterSets(Sps320x180(), kPps, {});
  t.Feed(1, false, {0x7C, 0x85, 0x88});
  t.Feed(3, true, {0x7C, 0x45, 0x01});  // 2 lost
  t.Feed(4, true, {0x41, 0x9A});        // P slice: still waiting
  EXPECT_TRUE(t.client.frames.empty());
  EXPECT_TRUE(t.parser.IsWaitingForKeyFrame());
  t.Feed(5, true, {0x65, 0x88, 0x80});
  ASSERT_EQ(t.client.frames.size(), 1u);
  EXPECT_EQ(t.client.frames[0].fourcc, "H264");
}

TEST(H264RTPMediaParserTest, MalformedPayloadsDiscardTheFrame) {
  const struct {
    const char* name;
    Bytes payload;
  } cases[] = {
      {"empty", {}},
      {"single NAL of one byte", {0x41}},
      {"STAP-A too short", {0x78, 0x00}},
      {"STAP-A size past the end", {0x78, 0x00, 0x09, 0x65, 0x88}},
      {"FU-A too short", {0x7C, 0x85}},
      {"FU-A continuation without start", {0x7C, 0x05, 0x11}},
      {"type 0", {0x00, 0x11}},
      {"STAP-B", {0x19, 0x00, 0x01}},
      {"FU-B", {0x1D, 0x85, 0x01}},
  };
  for (const auto& c : cases) {
    H264Harness t;
    t.parser.SetParameterSets(Sps320x180(), kPps, {});
    t.Feed(1, false, {0x65, 0x88, 0x80});
    t.Feed(2, true, c.payload);
    EXPECT_TRUE(t.client.frames.empty()) << c.name;
    EXPECT_TRUE(t.parser.GetFrameBuffer().empty()) << c.name;
  }
}

TEST(H264RTPMediaParserTest, FragmentedSeiIsDroppedSoTheKeyFrameGetsItsSets) {
  H264Harness t;
  t.parser.SetParameterSets(Sps320x180(), kPps, {});
  t.Feed(1, false, {0x1C, 0x86, 0x05, 0xFF});  // FU-A start of an SEI
  t.Feed(2, false, {0x1C, 0x46, 0x80});        // its end
  t.Feed(3, true, {0x7C, 0xC5, 0x88, 0x80});   // whole IDR slice in one FU-A
  ASSERT_EQ(t.client.frames.size(), 1u);
  EXPECT_EQ(t.client.frames[0].data,
            Concat({kAud, kStart, Sps320x180(), kStart, kPps, kStart, {0x65, 0x88, 0x80}}));
}

TEST(H264RTPMediaParserTest, RefusedOrUncopyableFrameReturnsToWaiting) {
  for (bool failCopy : {false, true}) {
    H264Harness t;
    t.parser.SetParameterSets(Sps320x180(), kPps, {});
    t.client.accept = false;
    t.allocator.failGetData = failCopy;
    t.Feed(1, true, {0x65, 0x88, 0x80});
    EXPECT_TRUE(t.parser.IsWaitingForKeyFrame());
    EXPECT_EQ(t.allocator.LiveCount(), 0u) << "the frame is released either way";
    EXPECT_EQ(t.driver.HasLine(
                  1, "vantrel::CH264RTPMediaParser::ProcessFrame: Data copying error, device 127.0.0.1:80"),
              failCopy);
  }
}

// A failure in the middle of a frame (here the host's callback throws) must leave nothing of that
// frame behind: the next key frame comes out exactly as sent, and the host frame is returned.
TEST(H264RTPMediaParserTest, AnExceptionEmptiesTheFrameBuffer) {
  H264Harness t;
  t.parser.SetParameterSets(Sps320x180(), kPps, {});
  t.client.throwOnFrame = true;
  EXPECT_THROW(t.Feed(1, true, {0x65, 0x88, 0x80}), std::runtime_error);
  EXPECT_EQ(t.allocator.LiveCount(), 0u);
  EXPECT_TRUE(t.parser.IsWaitingForKeyFrame());
  t.Feed(2, false, {0x7C, 0x85, 0x88, 0x84});  // FU-A start of an IDR
  t.Feed(3, true, {0x7C, 0x45, 0x21});
  ASSERT_EQ(t.client.frames.size(), 1u);
  EXPECT_EQ(t.client.frames[0].data,
            Concat({kAud, kStart, Sps320x180(), kStart, kPps, kStart, {0x65, 0x88, 0x84, 0x21}}));
}

TEST(H264RTPMediaParserTest, MetadataPayloadTypeIsIgnoredAndNoAllocatorDropsTheFrame) {
  H264Harness t;
  t.parser.SetParameterSets(Sps320x180(), kPps, {});
  t.parser.ProcessPacket(MakePacket(1, 0, true, {0x65, 0x88, 0x80}, 97));
  EXPECT_TRUE(t.client.frames.empty());
  t.driver.allocator = nullptr;
  t.Feed(2, true, {0x65, 0x88, 0x80});
  EXPECT_TRUE(t.parser.GetFrameBuffer().empty()) << "no allocator must not let frames pile up";
}

TEST(H264RTPMediaParserTest, SmallSizeTakesTheRequestedSize) {
  H264Harness t;
  t.client.requestedWidth = 704;
  t.client.requestedHeight = 288;
  t.parser.SetParameterSets({0x67, 0x42}, {0x68}, {});  // unreadable SPS
  EXPECT_EQ(t.parser.GetWidth(), 704u);
  EXPECT_EQ(t.parser.GetHeight(), 288u);
}

TEST(H264RTPMediaParserTest, OverflowIsCappedAndLogged) {
  H264Harness t;
  t.parser.SetParameterSets(Sps320x180(), kPps, {});
  Bytes fragment(1400, 0x11);
  fragment[0] = 0x7C;
  fragment[1] = 0x05;
  t.Feed(0, false, {0x7C, 0x85, 0x88});
  for (uint16_t seq = 1; seq < 7600; ++seq) {
    t.Feed(seq, false, fragment);
    ASSERT_LE(t.parser.GetFrameBuffer().size(), CRTPMediaParser::kMaxFrameSize + fragment.size());
  }
  EXPECT_TRUE(t.driver.HasLine(
      1, "vantrel::CRTPMediaParser::CheckBufferSize: Frame buffer overflow detected, device 127.0.0.1:80"));
}

TEST(SizeClassTest, Rule) {
  const struct {
    uint32_t w, h, c;
  } cases[] = {{176, 144, 1}, {199, 100, 1}, {320, 240, 2},  {399, 300, 2},  {704, 288, 3},
               {704, 576, 4}, {640, 320, 4}, {1024, 100, 4}, {1920, 1080, 4}};
  for (const auto& c : cases) EXPECT_EQ(SizeClassOf(c.w, c.h), c.c) << c.w << "x" << c.h;
}

}  // namespace
}  // namespace vantrel
