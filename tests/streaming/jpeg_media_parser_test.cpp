#include "streaming/jpeg_media_parser.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "parser_test_support.h"

namespace vantrel {
namespace {

using testing::Concat;
using testing::ParserHarness;
using Bytes = std::vector<uint8_t>;

Bytes Image(uint16_t width, uint16_t height, uint8_t fill) {
  return {0xFF,
          0xD8,
          0xFF,
          0xC0,
          0x00,
          0x11,
          0x08,
          uint8_t(height >> 8),
          uint8_t(height),
          uint8_t(width >> 8),
          uint8_t(width),
          0x03,
          fill,
          0xFF,
          0x00,
          fill,
          0xFF,
          0xD9};
}

Bytes Part(const std::string& boundary, const Bytes& image) {
  const std::string head = "--" + boundary +
                           "\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(image.size()) +
                           "\r\n\r\n";
  return Concat({Bytes(head.begin(), head.end()), image, {'\r', '\n'}});
}

struct HttpHarness : ParserHarness {
  HttpHarness() { parser.SetClient(&client); }
  CJpegMediaParser parser{&driver};
};

Bytes Body() {
  // An EOI before any SOI, then three images in a multipart body.
  return Concat({{'x', 0xFF, 0xD9},
                 Part("b", Image(640, 480, 1)),
                 Part("b", Image(320, 240, 2)),
                 Part("b", Image(176, 144, 3))});
}

void ExpectThreeImages(const testing::RecordingClient& client) {
  ASSERT_EQ(client.frames.size(), 3u);
  EXPECT_EQ(client.frames[0].data, Image(640, 480, 1));
  EXPECT_EQ(client.frames[0].sizeClass, 4u);
  EXPECT_EQ(client.frames[1].data, Image(320, 240, 2));
  EXPECT_EQ(client.frames[1].width, 320u);
  EXPECT_EQ(client.frames[1].sizeClass, 2u);
  EXPECT_EQ(client.frames[2].height, 144u);
  EXPECT_EQ(client.frames[2].fourcc, "JPEG");
  EXPECT_EQ(client.timestamps, (std::vector<uint32_t>{0, 0, 0}));
}

TEST(JpegMediaParserTest, WholeBody) {
  HttpHarness t;
  const Bytes body = Body();
  t.parser.ProcessData(body.data(), body.size());
  ExpectThreeImages(t.client);
}

TEST(JpegMediaParserTest, OneByteAtATime) {
  HttpHarness t;
  for (uint8_t b : Body()) t.parser.ProcessData(&b, 1);
  ExpectThreeImages(t.client);
}

TEST(JpegMediaParserTest, RandomSplits) {
  const Bytes body = Body();
  std::mt19937 rng(std::random_device{}());
  for (int round = 0; round < 200; ++round) {
    HttpHarness t;
    for (size_t at = 0; at < body.size();) {
      const size_t n = std::min<size_t>(body.size() - at, 1 + rng() % 30);
      t.parser.ProcessData(body.data() + at, n);
      at += n;
    }
    ExpectThreeImages(t.client);
    if (::testing::Test::HasFailure()) FAIL() << "round " << round;
  }
}

// A camera's JPEG with an EXIF thumbnail: the thumbnail's own SOI, SOF0 and EOI sit inside the
// APP1 segment and must be stepped over; the picture is the main image, at its own size.
TEST(JpegMediaParserTest, ExifThumbnailIsNotThePicture) {
  const Bytes thumbnail = Image(160, 120, 9);
  const Bytes main = Image(1280, 720, 4);
  const size_t app1Length = 2 + 6 + thumbnail.size();
  const Bytes exif = Concat({{0xFF, 0xD8, 0xFF, 0xE1, uint8_t(app1Length >> 8), uint8_t(app1Length)},
                             {'E', 'x', 'i', 'f', 0, 0},
                             thumbnail,
                             {0xFF, 0xFE, 0x00, 0x04, 0xFF, 0xD9},  // a comment holding an EOI
                             Bytes(main.begin() + 2, main.end())});
  const Bytes body = Concat({Part("b", exif), Part("b", Image(320, 240, 2))});
  for (size_t chunk : {body.size(), size_t{1}, size_t{5}}) {
    SCOPED_TRACE(chunk);
    HttpHarness t;
    for (size_t at = 0; at < body.size(); at += chunk)
      t.parser.ProcessData(body.data() + at, std::min(chunk, body.size() - at));
    ASSERT_EQ(t.client.frames.size(), 2u);
    EXPECT_EQ(t.client.frames[0].data, exif);
    EXPECT_EQ(t.client.frames[0].width, 1280u);
    EXPECT_EQ(t.client.frames[0].height, 720u);
    EXPECT_EQ(t.client.frames[1].width, 320u);
  }
}

TEST(JpegMediaParserTest, ImagesBeforeTheFirstSof0AreDropped) {
  HttpHarness t;
  const Bytes noSof = {0xFF, 0xD8, 0x01, 0x02, 0xFF, 0xD9};
  const Bytes body = Concat({noSof, Image(320, 240, 1), noSof});
  t.parser.ProcessData(body.data(), body.size());
  ASSERT_EQ(t.client.frames.size(), 2u) << "the size stays known for later images";
  EXPECT_EQ(t.client.frames[1].data, noSof);
}

TEST(JpegMediaParserTest, OversizedImageIsDroppedAndScanningResumes) {
  HttpHarness t;
  const Bytes start = Image(320, 240, 1);
  t.parser.ProcessData(start.data(), start.size() - 2);  // open image
  const Bytes chunk(1 << 20, 0x55);
  for (int i = 0; i < 11; ++i) t.parser.ProcessData(chunk.data(), chunk.size());
  EXPECT_TRUE(t.driver.HasLine(
      1, "vantrel::CHttpMediaParser::CheckBufferSize: Frame buffer overflow detected, device 127.0.0.1:80"));
  const Bytes next = Image(176, 144, 2);
  t.parser.ProcessData(next.data(), next.size());
  ASSERT_EQ(t.client.frames.size(), 1u);
  EXPECT_EQ(t.client.frames[0].data, next);
}

TEST(JpegMediaParserTest, NoAllocatorOrClientDeliversNothing) {
  HttpHarness t;
  t.driver.allocator = nullptr;
  const Bytes body = Body();
  t.parser.ProcessData(body.data(), body.size());
  EXPECT_TRUE(t.client.frames.empty());
  t.parser.ProcessData(nullptr, 10);
}

}  // namespace
}  // namespace vantrel
