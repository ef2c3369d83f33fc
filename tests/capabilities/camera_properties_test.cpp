// The rules of the capability report: value texts, the property load against scripted camera
// answers (good, hostile and aborted), and the save into the host's result object.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "capabilities/camera_stream_list.h"
#include "capabilities/encoder_profile_records.h"
#include "capabilities/lumivar_camera_properties.h"
#include "channels/encoder_profiles.h"
#include "support/fake_capability_result.h"

namespace vantrel {
namespace {

using testing::FakeCapabilityResult;
using testing::ScriptedPropertySource;
using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v >> 8));
  b.push_back(static_cast<uint8_t>(v));
}
void Put32(Bytes& b, uint32_t v) {
  Put16(b, static_cast<uint16_t>(v >> 16));
  Put16(b, static_cast<uint16_t>(v));
}

// 0xFF10 reply: magic, version, two sections (video: mask1/mask2; audio: mask3/mask4).
Bytes CapabilityList(uint16_t mask1, uint16_t mask2, uint16_t audioIn = 0, uint16_t audioOut = 0) {
  Bytes b;
  Put16(b, 0xBABA), Put16(b, 1), Put16(b, 2);
  Put16(b, 1), Put16(b, 0), Put16(b, 1);  // video section, one element
  Put16(b, 1), Put16(b, 0), Put16(b, mask1), Put16(b, 0), Put16(b, mask2);
  Put16(b, 2), Put16(b, 0), Put16(b, 2);  // audio section, two elements
  Put16(b, 1), Put16(b, 0), Put16(b, audioIn);
  Put16(b, 2), Put16(b, 0), Put16(b, audioOut);
  return b;
}

Bytes RecordList(const std::vector<std::pair<uint32_t, uint32_t>>& sizes) {
  Bytes b;
  for (auto [w, h] : sizes) Put16(b, 1), Put16(b, 0), Put32(b, 30), Put32(b, w), Put32(b, h), Put32(b, 0);
  return b;
}

Bytes ProfileList(const std::vector<std::pair<uint8_t, uint8_t>>& pairs) {
  Bytes b;
  for (auto [first, second] : pairs) {
    Bytes record(12, 0);
    record[7] = first;
    record[11] = second;
    b.insert(b.end(), record.begin(), record.end());
  }
  return b;
}

// A 1080p camera at 30 fps with two encoders: the baseline every test changes a little.
std::unique_ptr<ScriptedPropertySource> GoodCamera() {
  auto s = std::make_unique<ScriptedPropertySource>();
  s->strings[{0x097C, 0}] = "Camsim Fixed HD 1080";
  s->strings[{0x028B, 2}] = "service";
  s->strings[{0x002F, 0}] = "7.80.0128";
  s->numbers = {{0x01D6, 1}, {0x0AD6, 30000}, {0x0504, 2}, {0x01DB, 1}, {0x01DC, 1}};
  s->bytes[{0xFF10, 0}] = CapabilityList(0x0004, 0x0140);
  s->bytes[{0x0C00, 1}] = RecordList({{1920, 1080}, {1280, 720}});
  s->bytes[{0x00BC, 0}] = {0x00, 0x1B, 0x2C, 0x03, 0x04, 0x05};
  s->bytes[{0x09D4, 0}] = {1, 0, 0, 0};
  s->exchangeReply = Bytes(8, 1);
  return s;
}

struct Loaded {
  std::unique_ptr<CLumivarCameraProperties> properties;
  ScriptedPropertySource* source;
  bool ok;
  uint32_t status;
};

Loaded Load(std::unique_ptr<ScriptedPropertySource> source, bool highRate = false) {
  ScriptedPropertySource* raw = source.get();
  auto properties = std::make_unique<CLumivarCameraProperties>(std::move(source), &ProfileCandidates,
                                                               &JpegExactResolutionCode, highRate);
  uint32_t status = 99;
  const bool ok = properties->Load(status);
  return {std::move(properties), raw, ok, status};
}

std::vector<std::string> Saved(CLumivarCameraProperties& properties) {
  FakeCapabilityResult result;
  EXPECT_TRUE(properties.Save(&result));
  return result.lines;
}

TEST(CameraValueTexts, FrameRateCodes) {
  struct Case {
    uint32_t rate;
    bool highRate;
    uint32_t code;
  } cases[] = {
      {0, false, 1000}, {1, false, 1000}, {25, false, 40},        {30, false, 33}, {7, false, 143},
      {6, false, 167},  {60, false, 17},  {60, true, 0x7000003C}, {30, true, 33},  {31, true, 0x7000001F},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FrameRateCode(c.rate, c.highRate), c.code) << c.rate << " " << c.highRate;
}

TEST(CameraValueTexts, StreamLists) {
  CameraStreamList list;
  EXPECT_EQ(CodecListText(list), "");
  EXPECT_EQ(FrameRateListText(list, false), "");
  list.AddResolution(640, 0, 5);  // no size: nothing
  list.AddResolution(640, 480, 0);
  EXPECT_EQ(ResolutionListText(list, false), "640x480:40");  // a stream without rates
  list.codecs = {3, 9, 1, 2};
  EXPECT_EQ(CodecListText(list), "h264,mpeg,jpeg");  // the report's codes: 1 H.264, 3 JPEG
  list.rates = {1, 5, 25};
  list.AddResolution(640, 480, 5);  // raises the rate
  list.AddResolution(640, 480, 1);  // does not lower it
  list.AddResolution(320, 240, 0);
  EXPECT_EQ(ResolutionListText(list, false), "640x480:200,320x240:40");
  EXPECT_EQ(FrameRateListText(list, false), "values=1000,200,40;default=40");  // half of 25 -> 25
  list.defaultRate = 5;
  EXPECT_EQ(FrameRateListText(list, false), "values=1000,200,40;default=200");
  list.defaultRate = 26;
  EXPECT_EQ(DefaultFrameRateCode(list, false), 1000u);
}

TEST(CameraValueTexts, CameraTextsAndMac) {
  EXPECT_EQ(CLumivarCameraProperties::MacText({0x00, 0x1B, 0x2C, 0x03, 0x04, 0x05}), "01B2C345");
  EXPECT_EQ(CLumivarCameraProperties::MacText({0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), "");
  EXPECT_EQ(CLumivarCameraProperties::CleanCameraText("Dome\xC3\xA9\r\n"), "Dome????");
  EXPECT_EQ(CLumivarCameraProperties::CleanCameraText(std::string(5000, 'x')).size(), 256u);
}

TEST(EncoderProfileRecords, ReadsBytesSevenAndEleven) {
  Bytes bytes = ProfileList({{4, 3}, {0, 22}, {23, 0}});
  EncoderProfileRecords r = ParseEncoderProfileRecords(bytes);
  ASSERT_EQ(r.pairs.size(), 3u);
  EXPECT_TRUE(r.zeroFirst && r.zeroSecond && !r.truncated);
  EXPECT_EQ(EncoderCapabilityText(r), "4,3:0,22:23,0");
  bytes.resize(bytes.size() - 1);  // a cut last record is dropped, and said so
  r = ParseEncoderProfileRecords(bytes);
  EXPECT_EQ(r.pairs.size(), 2u);
  EXPECT_TRUE(r.truncated);
  r = ParseEncoderProfileRecords(Bytes(12 * 1000, 7));  // absurd count
  EXPECT_EQ(r.pairs.size(), kMaxProfileRecords);
  EXPECT_TRUE(r.truncated);
  EXPECT_TRUE(ParseEncoderProfileRecords({}).pairs.empty());
}

TEST(CameraPropertiesLoad, FixedCameraReport) {
  Loaded l = Load(GoodCamera());
  ASSERT_TRUE(l.ok);
  EXPECT_EQ(l.status, 0u);
  const std::vector<std::string> expected = {
      "device vendor = Bosch",
      "device model = Camsim Fixed HD 1080",
      "device video lines = 1",
      "device streams = 3",
      "framerate = 1000",
      "framerate = 500",
      "framerate = 333",
      "framerate = 250",
      "framerate = 200",
      "framerate = 167",
      "framerate = 143",
      "framerate = 100",
      "framerate = 67",
      "framerate = 33",
      "framerate default = 33",
      "5 = 1",
      "11 = 1",
      "12 = 1",
      "2 = 1",
      "3 = 1",
      "13 = 4",
      "14 = 1",
      "17 = 0",
      "27 = 2",
      "120 [Live Stream: Supported Codecs] = h264",
      "121 [Live Stream: Supported Resolutions] = 640x480:33,1920x1080:33",
      "122 [Live Stream: Supported Framerates] = values=1000,500,333,250,200,167,143,100,67,33;default=33",
      "124 [Remote Stream: Supported Codecs] = jpeg",
      "125 [Remote Stream: Supported Resolutions] = 1280x720:33,1920x1080:33",
      "126 [Remote Stream: Supported Framerates] = values=1000,500,333,250,200,167,143,100,67,33;default=33",
      "28 = 1",
      "1 [Video standard] = 1",
      "2 [Firmware version] = 7.80.0128",
      "3 [MAC address] = 01B2C345",
      "4 [PTZ Protocol] = 1",
      "5 [Camera group] = 3",
      "6 [Max Frame Rate] = 30",
      "7 [Encoder capabilities] = (none)",
      "8 [Fish Eye Video Line] = 0",
      "9 [De-warp mode] = 0",
      "10 [Mjpeg Resolutions] = 12:1280x720;14:1920x1080"};
  EXPECT_EQ(Saved(*l.properties), expected);
}

// Sizes from profile pairs: (a, 0) and (0, b) serve both streams, (a, b) one each. A standard
// size reaches a stream when a pair can serve it (176x144 through code 3 of the pair (3, 60),
// for the live stream by the zero-second rule), and 2592x1944, which no pair serves, only the
// remote stream. Code 60 is out of the table and adds nothing.
TEST(CameraPropertiesLoad, ProfilePairsDecideTheSizes) {
  auto s = GoodCamera();
  s->numbers[0x0AD6] = 25000;
  s->numbers[0x0504] = 4;  // > 2 encoders, 25 is no multiple of 30: PAL
  s->bytes[{0xFF10, 0}] = CapabilityList(0x0004, 0x1001);
  s->bytes[{0x0AF9, 1}] = ProfileList({{23, 0}, {0, 22}, {31, 33}, {3, 60}});
  s->bytes.erase({0x0C00, 1});
  Loaded l = Load(std::move(s));
  ASSERT_TRUE(l.ok);
  const CameraStreamList& live = l.properties->Stream(CBaseCameraProperties::kLive);
  const CameraStreamList& rec = l.properties->Stream(CBaseCameraProperties::kRecording);
  const CameraStreamList& remote = l.properties->Stream(CBaseCameraProperties::kRemote);
  EXPECT_EQ(ResolutionListText(rec, false), "176x144:40,4000x3000:40,3840x2160:40,1792x1792:40");
  EXPECT_EQ(ResolutionListText(live, false), "176x144:40,4000x3000:40,3840x2160:40,800x800:40");
  EXPECT_EQ(ResolutionListText(remote, false), "176x144:40,2592x1944:40");
  EXPECT_EQ(FrameRateListText(live, false), "values=1000,500,333,250,200,167,125,83,40;default=40");
  EXPECT_EQ(l.properties->CameraGroup(), 4u);
}

TEST(CameraPropertiesLoad, ProfileSupportsFallsBackOnZeroPairs) {
  struct Case {
    std::vector<std::pair<uint8_t, uint8_t>> pairs;
    uint32_t width, height, stream;
    bool supported;
  } cases[] = {
      {{}, 1234, 567, 0, true},         // no list: everything
      {{{4, 3}}, 1280, 720, 0, true},   // first value is a 720p code
      {{{4, 3}}, 1280, 720, 1, false},  // second value is not
      {{{0, 4}}, 1280, 720, 0, true},   // zero-first: second values count for stream 0
      {{{4, 0}}, 1280, 720, 1, true},   // zero-second: first values count for stream 1
      {{{6, 9}}, 1280, 720, 1, false},
  };
  for (const Case& c : cases) {
    auto s = GoodCamera();
    s->bytes[{0x0AF9, 1}] = ProfileList(c.pairs);
    Loaded l = Load(std::move(s));
    EXPECT_EQ(l.properties->ProfileSupports(c.width, c.height, c.stream), c.supported)
        << c.width << "x" << c.height << " stream " << c.stream;
  }
}

// Mask 1: bit 0x04 is the camera's H.264 encoder (an H.264-only camera must not report Motion
// JPEG as its live codec), bit 0x02 MPEG-4; the remote stream is Motion JPEG.
TEST(CameraPropertiesLoad, CodecsOfTheStreams) {
  struct Case {
    uint16_t mask1;
    const char* live;
  } cases[] = {{0x0004, "h264"}, {0x0002, "mpeg"}, {0x0006, "h264,mpeg"}, {0x0000, "(none)"}};
  for (const Case& c : cases) {
    auto s = GoodCamera();
    s->bytes[{0xFF10, 0}] = CapabilityList(c.mask1, 0x0140);
    Loaded l = Load(std::move(s));
    ASSERT_TRUE(l.ok);
    const std::vector<std::string> lines = Saved(*l.properties);
    auto has = [&](const std::string& line) {
      return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    EXPECT_TRUE(has(std::string("120 [Live Stream: Supported Codecs] = ") + c.live)) << c.mask1;
    EXPECT_TRUE(has("124 [Remote Stream: Supported Codecs] = jpeg")) << c.mask1;
  }
}

// Entry 10 is read back by Open as host parameter 10: each Motion JPEG size that has a code of
// its own must come back as that code, and nothing Open would misread may be in it.
TEST(CameraPropertiesLoad, MjpegResolutionsReadBackByOpen) {
  auto s = GoodCamera();
  // 1280x960, 640x480 and 1440x1080 have codes; 1234x567 has none and is left to Open's rules.
  s->bytes[{0x0C00, 1}] = RecordList({{1280, 960}, {640, 480}, {1234, 567}, {1440, 1080}});
  Loaded l = Load(std::move(s));
  ASSERT_TRUE(l.ok);
  const std::string text = l.properties->MjpegResolutionText();
  EXPECT_EQ(text, "7:640x480;16:1280x960;17:1440x1080");
  const JpegResolutionMap map = ParseJpegResolutions(text);
  EXPECT_EQ(map.size(), 3u);
  // A group-3 camera would otherwise get the code of 768x432 for 640x480.
  EXPECT_EQ(JpegResolutionCode(640, 480, 0, 3, {}), 10u);
  EXPECT_EQ(JpegResolutionCode(640, 480, 0, 3, map), 7u);
  EXPECT_EQ(JpegResolutionCode(1280, 960, 0, 3, map), 16u);
}

TEST(CameraPropertiesLoad, OlderCameraGroupZeroWithoutJpeg) {
  auto s = GoodCamera();
  s->numbers[0x0504] = 1;  // one encoder: PAL heights
  s->bytes[{0xFF10, 0}] = CapabilityList(0x0002, 0x0003);
  s->bytes.erase({0x0C00, 1});
  s->bytes[{0x09D4, 0}] = {0, 0, 0, 0};
  Loaded l = Load(std::move(s));
  ASSERT_TRUE(l.ok);
  const std::vector<std::string> lines = Saved(*l.properties);
  auto has = [&](const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  };
  EXPECT_TRUE(has("120 [Live Stream: Supported Codecs] = mpeg"));
  EXPECT_TRUE(has("121 [Live Stream: Supported Resolutions] = 176x144:33,352x288:33"));
  EXPECT_TRUE(has("5 [Camera group] = 0"));
  EXPECT_TRUE(has("10 [Mjpeg Resolutions] = (none)"));
  EXPECT_FALSE(has("28 = 1"));  // no storage
}

TEST(CameraPropertiesLoad, AudioAndHighRates) {
  auto s = GoodCamera();
  s->numbers[0x0AD6] = 59940;  // 59.94 rounds to 60
  s->bytes[{0xFF10, 0}] = CapabilityList(0x0004, 0x0080, 1, 1);
  Loaded l = Load(std::move(s), true);
  ASSERT_TRUE(l.ok);
  const std::vector<std::string> lines = Saved(*l.properties);
  auto has = [&](const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  };
  EXPECT_TRUE(has("4 = 1"));
  EXPECT_TRUE(has("101 [Audio Input Parameters] = Count=1; IsStereo=0"));
  EXPECT_TRUE(has("102 [Audio Output Parameters] = Count=1; IsStereo=0"));
  EXPECT_TRUE(has("framerate default = 1879048252"));  // 60 | 0x70000000
  EXPECT_TRUE(has("6 [Max Frame Rate] = 60"));
  EXPECT_FALSE(has("framerate = 1000"));  // above 30 fps a camera offers no 1 fps step
}

// What the camera answers wrongly, and how the load must end.
TEST(CameraPropertiesLoad, FailuresAndHostileAnswers) {
  struct Case {
    const char* name;
    void (*spoil)(ScriptedPropertySource&);
    bool ok;
    uint32_t status;
    const char* detail;
  } cases[] = {
      {"no answer at all", [](ScriptedPropertySource& s) { s.strings.clear(), s.httpStatus = 0; }, false, 2,
       ""},
      {"credentials refused", [](ScriptedPropertySource& s) { s.strings.clear(), s.httpStatus = 401; }, false,
       1, ""},
      {"empty model",
       [](ScriptedPropertySource& s) {
         s.strings[{0x097C, 0}] = "";
       },
       false, 3, "the camera did not name its model"},
      {"login check empty",
       [](ScriptedPropertySource& s) {
         s.strings.erase({0x028B, 2});
       },
       false, 1, ""},
      {"capability list cut short",
       [](ScriptedPropertySource& s) {
         s.bytes[{0xFF10, 0}].resize(13);
       },
       false, 3, "the camera's capability list is missing or unreadable"},
      {"capability list wrong magic",
       [](ScriptedPropertySource& s) {
         s.bytes[{0xFF10, 0}][0] = 0;
       },
       false, 3, "the camera's capability list is missing or unreadable"},
      {"no video line", [](ScriptedPropertySource& s) { s.numbers[0x01D6] = 0; }, false, 3,
       "the camera reports no video line"},
      {"no frame rate", [](ScriptedPropertySource& s) { s.numbers.erase(0x0AD6); }, false, 3,
       "the camera does not report its frame rate"},
      {"absurd counts and rates",
       [](ScriptedPropertySource& s) {
         s.numbers[0x01DB] = 0xFFFFFFFF, s.numbers[0x01DC] = 100000, s.numbers[0x0AD6] = 0xFFFFFFFF;
         s.numbers[0x01D6] = 0xFFFFFFFF;
       },
       true, 0, ""},
      {"record list with wrong length and absurd sizes",
       [](ScriptedPropertySource& s) {
         Bytes& r = s.bytes[{0x0C00, 1}];
         r = RecordList({{0xFFFFFFFF, 0xFFFFFFFF}});
         r.resize(r.size() + 7, 0xEE);
       },
       true, 0, ""},
      {"record list of 16 MB of distinct sizes",
       [](ScriptedPropertySource& s) {
         std::vector<std::pair<uint32_t, uint32_t>> sizes;
         for (uint32_t i = 1; i <= (16u << 20) / 20; ++i) sizes.emplace_back(i, i);
         s.bytes[{0x0C00, 1}] = RecordList(sizes);
       },
       true, 0, ""},
      {"profile list of garbage",
       [](ScriptedPropertySource& s) {
         s.bytes[{0x0AF9, 1}] = Bytes(100000, 0xFF);
       },
       true, 0, ""},
      {"non-ASCII strings",
       [](ScriptedPropertySource& s) {
         s.strings[{0x097C, 0}] = "\xFF\xFE\x01Dome";
         s.strings[{0x002F, 0}] = std::string(100000, '\x80');
       },
       true, 0, ""},
  };
  for (const Case& c : cases) {
    auto s = GoodCamera();
    c.spoil(*s);
    Loaded l = Load(std::move(s));
    EXPECT_EQ(l.ok, c.ok) << c.name;
    EXPECT_EQ(l.status, c.status) << c.name;
    EXPECT_EQ(l.properties->GetFailureDetail(), c.detail) << c.name;
    if (l.ok) {
      FakeCapabilityResult result;
      EXPECT_TRUE(l.properties->Save(&result)) << c.name;
      for (const std::string& line : result.lines) {
        EXPECT_LT(line.size(), 2000u) << c.name;
        EXPECT_EQ(line.find("BAD ENTRY"), std::string::npos) << c.name;
        for (char ch : line) EXPECT_TRUE(ch >= 0x20 && ch < 0x7F) << c.name << ": " << line;
      }
    }
  }
}

TEST(CameraPropertiesLoad, AbortEndsTheLoadAtTheNextStep) {
  for (int after = 1; after <= 14; ++after) {
    auto s = GoodCamera();
    CLumivarCameraProperties* target = nullptr;
    s->onRequest = [&](int n) {
      if (n == after) target->Abort();
    };
    ScriptedPropertySource* raw = s.get();
    CLumivarCameraProperties properties(std::move(s), &ProfileCandidates, &JpegExactResolutionCode, false);
    target = &properties;
    uint32_t status = 0;
    EXPECT_FALSE(properties.Load(status)) << after;
    EXPECT_EQ(status, 3u) << after;
    EXPECT_EQ(properties.GetFailureDetail(), "the query was terminated") << after;
    EXPECT_TRUE(raw->cancelled);
    EXPECT_EQ(raw->requests, after) << "no request may start after the abort";
  }
}

TEST(CameraPropertiesSave, RefusedWriteEndsTheSave) {
  Loaded l = Load(GoodCamera());
  FakeCapabilityResult result;
  result.refuseAfter = 2;
  EXPECT_FALSE(l.properties->Save(&result));
  EXPECT_EQ(result.lines.back(), "12 = 1");  // the third number was the last write
}

}  // namespace
}  // namespace vantrel
