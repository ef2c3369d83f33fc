#include "streaming/jpeg_rtp_media_parser.h"

#include <gtest/gtest.h>

#include "parser_test_support.h"
#include "streaming/jpeg_header_builder.h"

namespace vantrel {
namespace {

using testing::Concat;
using testing::MakePacket;
using testing::ParserHarness;
using Bytes = std::vector<uint8_t>;

struct JpegHarness : ParserHarness {
  JpegHarness() { parser.SetClient(&client); }
  void Feed(uint16_t seq, bool marker, const Bytes& payload) {
    parser.ProcessPacket(MakePacket(seq, 9000, marker, payload, 26));
  }
  CJpegRTPMediaParser parser{&driver};
};

// RTP/JPEG main header.
Bytes Main(uint32_t offset, uint8_t type, uint8_t q, uint8_t width8, uint8_t height8) {
  return {0, uint8_t(offset >> 16), uint8_t(offset >> 8), uint8_t(offset), type, q, width8, height8};
}

// Offset of the first occurrence of a two-byte marker, or npos.
size_t Find(const Bytes& data, uint8_t a, uint8_t b, size_t from = 0) {
  for (size_t i = from; i + 1 < data.size(); ++i)
    if (data[i] == a && data[i + 1] == b) return i;
  return std::string::npos;
}

TEST(JpegHeaderBuilderTest, TablesFromQFollowAppendixA) {
  uint8_t t[128];
  MakeQuantizationTables(50, t);  // factor 100: the Annex K tables themselves, zig-zag order
  EXPECT_EQ(t[0], 16);
  EXPECT_EQ(t[1], 11);
  EXPECT_EQ(t[2], 12);
  EXPECT_EQ(t[63], 99);
  EXPECT_EQ(t[64], 17);
  MakeQuantizationTables(80, t);  // factor 40
  EXPECT_EQ(t[0], (16 * 40 + 50) / 100);
  MakeQuantizationTables(1, t);  // factor 5000: clamped to 255
  EXPECT_EQ(t[63], 255);
  MakeQuantizationTables(0, t);  // clamped to Q 1
  EXPECT_EQ(t[63], 255);
  MakeQuantizationTables(100, t);  // clamped to Q 99, factor 2
  EXPECT_EQ(t[0], 1);
}

TEST(JpegRTPMediaParserTest, Type1Q80BuildsA623ByteHeader) {
  JpegHarness t;
  const Bytes scan = {0x12, 0x34, 0x56, 0x78};
  t.Feed(1, false, Concat({Main(0, 1, 80, 80, 60), scan}));
  t.Feed(2, true, Concat({Main(4, 1, 80, 80, 60), {0x9A, 0xBC}}));
  ASSERT_EQ(t.client.frames.size(), 1u);
  const auto& f = t.client.frames[0];
  EXPECT_EQ(f.fourcc, "JPEG");
  EXPECT_EQ(f.width, 640u);
  EXPECT_EQ(f.height, 480u);
  EXPECT_EQ(f.sizeClass, 4u);
  ASSERT_EQ(f.data.size(), 623u + 6 + 2);
  EXPECT_EQ(Bytes(f.data.end() - 8, f.data.end()), (Bytes{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xFF, 0xD9}));
  const size_t sof = Find(f.data, 0xFF, 0xC0);
  ASSERT_NE(sof, std::string::npos);
  EXPECT_EQ(f.data[sof + 5], 480 >> 8);
  EXPECT_EQ(f.data[sof + 7], 640 >> 8);
  EXPECT_EQ(f.data[sof + 11], 0x22) << "type 1 is 4:2:0";
  const size_t dqt2 = Find(f.data, 0xFF, 0xDB, Find(f.data, 0xFF, 0xDB) + 2);
  ASSERT_NE(dqt2, std::string::npos) << "two DQT segments";
  EXPECT_EQ(f.data[dqt2 + 4], 1);
  EXPECT_EQ(f.data[Find(f.data, 0xFF, 0xDB) + 5], (16 * 40 + 50) / 100);
}

TEST(JpegRTPMediaParserTest, HeaderVariants) {
  Bytes tables(128);
  for (size_t i = 0; i < 128; ++i) tables[i] = uint8_t(i + 1);
  Bytes oneTable(tables.begin(), tables.begin() + 64);
  const struct {
    const char* name;
    Bytes first;
    bool delivered;
    uint32_t width, height;
    uint8_t ySampling;
    bool dri;
  } cases[] = {
      {"width byte 0 is 2048", Concat({Main(0, 0, 50, 0, 1), {1, 2}}), true, 2048, 8, 0x21, false},
      {"restart markers", Concat({Main(0, 65, 50, 10, 10), {0, 4, 0xFF, 0xFF}, {1, 2}}), true, 80, 80, 0x22,
       true},
      {"in-band tables", Concat({Main(0, 1, 255, 10, 10), {0, 0, 0, 128}, tables, {1, 2}}), true, 80, 80,
       0x22, false},
      {"in-band single table", Concat({Main(0, 1, 255, 10, 10), {0, 0, 0, 64}, oneTable, {1, 2}}), true, 80,
       80, 0x22, false},
      {"MBZ set: tables from Q", Concat({Main(0, 1, 200, 10, 10), {1, 0, 0, 128}, {1, 2}}), true, 80, 80,
       0x22, false},
      {"tables not adding up to their length", Concat({Main(0, 1, 255, 10, 10), {0, 0, 0, 100}, tables, {1}}),
       false, 0, 0, 0, false},
      {"four tables", Concat({Main(0, 1, 255, 10, 10), {0, 0, 1, 0}, tables, tables, {1}}), false, 0, 0, 0,
       false},
      {"tables cut short", Concat({Main(0, 1, 255, 10, 10), {0, 0, 0, 128}, oneTable}), false, 0, 0, 0,
       false},
      {"restart header cut", Concat({Main(0, 64, 50, 10, 10), {0}}), false, 0, 0, 0, false},
  };
  for (const auto& c : cases) {
    JpegHarness t;
    t.Feed(1, true, c.first);
    ASSERT_EQ(t.client.frames.size(), c.delivered ? 1u : 0u) << c.name;
    if (!c.delivered) continue;
    const auto& f = t.client.frames[0];
    EXPECT_EQ(f.width, c.width) << c.name;
    EXPECT_EQ(f.height, c.height) << c.name;
    const size_t sof = Find(f.data, 0xFF, 0xC0);
    EXPECT_EQ(f.data[sof + 11], c.ySampling) << c.name;
    EXPECT_EQ(Find(f.data, 0xFF, 0xDD) != std::string::npos, c.dri) << c.name;
    // Every component names a table that the header defines.
    const bool twoTables = Find(f.data, 0xFF, 0xDB, Find(f.data, 0xFF, 0xDB) + 2) < sof;
    EXPECT_EQ(f.data[sof + 18], twoTables ? 1 : 0) << c.name;
  }
}

// A picture beyond 2040 pixels: the header's size bytes are 0 and the session's SDP
// ("a=x-dimensions") gives the size; the SOF must say it, or decoders read a 2048x2048 picture.
TEST(JpegRTPMediaParserTest, SessionSizeBeyondTheHeader) {
  JpegHarness t;
  t.parser.SetSessionSize(2592, 1944);
  t.Feed(1, true, Concat({Main(0, 1, 50, 0, 0), {1, 2}}));
  ASSERT_EQ(t.client.frames.size(), 1u);
  const auto& f = t.client.frames[0];
  EXPECT_EQ(f.width, 2592u);
  EXPECT_EQ(f.height, 1944u);
  const size_t sof = Find(f.data, 0xFF, 0xC0);
  ASSERT_NE(sof, std::string::npos);
  EXPECT_EQ((f.data[sof + 5] << 8) | f.data[sof + 6], 1944);
  EXPECT_EQ((f.data[sof + 7] << 8) | f.data[sof + 8], 2592);
}

// Tables of 16 bits and a third table for Cr each get a DQT segment of their own that the frame
// header points to; a Q that only names tables sent before reuses them.
TEST(JpegRTPMediaParserTest, WideAndThirdTablesAndTablesNamedByQ) {
  Bytes tables(384);
  for (size_t i = 0; i < tables.size(); ++i) tables[i] = uint8_t(i % 200 + 1);
  struct Segment {
    uint8_t pqTq;
    size_t length;
  };
  const struct {
    const char* name;
    uint8_t precision;
    uint16_t length;
    std::vector<Segment> dqt;
    uint8_t sofMarker, cb, cr;
  } cases[] = {
      {"three 8-bit tables", 0, 192, {{0x00, 67}, {0x01, 67}, {0x02, 67}}, 0xC0, 1, 2},
      {"two 16-bit tables", 3, 256, {{0x10, 131}, {0x11, 131}}, 0xC1, 1, 1},
      {"16-bit luma, 8-bit chroma", 1, 192, {{0x10, 131}, {0x01, 67}}, 0xC1, 1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    JpegHarness t;
    Bytes inBand(tables.begin(), tables.begin() + c.length);
    t.Feed(1, true,
           Concat({Main(0, 1, 255, 10, 10),
                   {0, c.precision, uint8_t(c.length >> 8), uint8_t(c.length)},
                   inBand,
                   {1, 2}}));
    // The next frame names Q 255 only; a Q never given tables is dropped, with one log line.
    t.Feed(2, true, Concat({Main(0, 1, 255, 10, 10), {0, 0, 0, 0}, {3, 4}}));
    t.Feed(3, true, Concat({Main(0, 1, 254, 10, 10), {0, 0, 0, 0}, {5, 6}}));
    t.Feed(4, true, Concat({Main(0, 1, 253, 10, 10), {0, 0, 0, 0}, {5, 6}}));
    ASSERT_EQ(t.client.frames.size(), 2u);
    const Bytes& data = t.client.frames[0].data;
    size_t at = 0;
    for (const Segment& segment : c.dqt) {
      at = Find(data, 0xFF, 0xDB, at);
      ASSERT_NE(at, std::string::npos);
      EXPECT_EQ(size_t{data[at + 2]} << 8 | data[at + 3], segment.length);
      EXPECT_EQ(data[at + 4], segment.pqTq);
      at += 2;
    }
    EXPECT_EQ(Find(data, 0xFF, 0xDB, at), std::string::npos) << "no further table";
    const size_t sof = Find(data, 0xFF, c.sofMarker);
    ASSERT_NE(sof, std::string::npos);
    EXPECT_EQ(data[sof + 15], c.cb);
    EXPECT_EQ(data[sof + 18], c.cr);
    // Same header, only the scan differs.
    const Bytes& second = t.client.frames[1].data;
    EXPECT_EQ(Bytes(second.begin(), second.end() - 4), Bytes(data.begin(), data.end() - 4));
    int logged = 0;
    for (const auto& line : t.driver.Lines())
      if (line.text.find("JPEG frame of device") != std::string::npos) ++logged;
    EXPECT_EQ(logged, 1);
  }
}

TEST(JpegRTPMediaParserTest, FragmentsAndEndMarker) {
  JpegHarness t;
  t.Feed(1, true, Concat({Main(100, 1, 50, 10, 10), {1, 2, 3}}));  // no start: ignored
  EXPECT_TRUE(t.client.frames.empty());
  t.Feed(2, false, Concat({Main(0, 1, 50, 10, 10), {1, 2}}));
  t.Feed(3, true, Concat({Main(2, 1, 50, 10, 10), {0xFF, 0xD9}}));
  ASSERT_EQ(t.client.frames.size(), 1u);
  const auto& data = t.client.frames[0].data;
  EXPECT_EQ(Bytes(data.end() - 4, data.end()), (Bytes{1, 2, 0xFF, 0xD9})) << "no second end marker";
}

TEST(JpegRTPMediaParserTest, SequenceGapDropsTheFrame) {
  JpegHarness t;
  t.Feed(1, false, Concat({Main(0, 1, 50, 10, 10), {1, 2}}));
  t.Feed(3, true, Concat({Main(2, 1, 50, 10, 10), {3, 4}}));
  EXPECT_TRUE(t.client.frames.empty());
  t.Feed(4, true, Concat({Main(0, 1, 50, 10, 10), {5, 6}}));
  EXPECT_EQ(t.client.frames.size(), 1u);
}

TEST(JpegRTPMediaParserTest, HeaderInExtension) {
  JpegHarness t;
  // JPEG header after SOI: a minimal SOF0 for 352x240 (the rest of a real header omitted).
  const Bytes header = {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0xF0, 0x01, 0x60, 0x03, 0x01, 0x22};
  CRTPPacket first = MakePacket(1, 0, false, Main(0, 1, 255, 44, 30), 26);
  first.SetExtension(0xFFD8, header.data(), header.size());
  t.parser.ProcessPacket(first);
  const Bytes more = {0xFF, 0xDA, 0x00, 0x02};
  CRTPPacket cont = MakePacket(2, 0, false, {}, 26);
  cont.SetExtension(0xFFFF, more.data(), more.size());
  t.parser.ProcessPacket(cont);
  t.Feed(3, false, Concat({Main(0, 1, 255, 44, 30), {0, 0, 0, 0}, {0xAB}}));
  t.Feed(4, true, Concat({Main(1, 1, 255, 44, 30), {0xCD}}));
  ASSERT_EQ(t.client.frames.size(), 1u);
  const auto& f = t.client.frames[0];
  EXPECT_EQ(f.width, 352u);
  EXPECT_EQ(f.height, 240u);
  EXPECT_EQ(f.data, Concat({{0xFF, 0xD8}, header, more, {0xAB, 0xCD, 0xFF, 0xD9}}))
      << "RTP/JPEG headers of an extension frame are not image bytes";
}

TEST(JpegRTPMediaParserTest, AllocationFailureIsLoggedAndRefusalResets) {
  JpegHarness t;
  t.allocator.failAllocate = true;
  t.Feed(1, true, Concat({Main(0, 1, 50, 10, 10), {1, 2}}));
  EXPECT_TRUE(t.driver.HasLine(
      1, "vantrel::CJpegRTPMediaParser::ProcessFrame: Frame allocation error, device 127.0.0.1:80"));
  t.allocator.failAllocate = false;
  t.client.accept = false;
  t.Feed(2, true, Concat({Main(0, 1, 50, 10, 10), {1, 2}}));
  EXPECT_EQ(t.client.frames.size(), 1u);
  EXPECT_TRUE(t.parser.GetFrameBuffer().empty());
  EXPECT_EQ(t.allocator.LiveCount(), 0u);
}

TEST(JpegRTPMediaParserTest, TruncatedPackets) {
  for (const Bytes& payload :
       {Bytes{}, Bytes{0}, Bytes{0, 0, 0}, Bytes{0, 0, 0, 0}, Main(0, 1, 50, 10, 10)}) {
    JpegHarness t;
    t.Feed(1, true, payload);
    EXPECT_TRUE(t.client.frames.empty()) << payload.size();
  }
}

}  // namespace
}  // namespace vantrel
