// The encoder tables: every code a camera is sent for a size, quality or profile list.
#include "channels/encoder_profiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

namespace vantrel {
namespace {

TEST(EncoderProfiles, FramesPerSecondFromHostCodes) {
  const struct {
    uint32_t code, fps;
  } cases[] = {{0, 1},   {0x7019, 25}, {0x7000, 1}, {0x7FFF, 4095}, {40, 25},
               {33, 30}, {1000, 1},    {3000, 1},   {2001, 1},      {1, 1000}};
  for (const auto& c : cases) EXPECT_EQ(FramesPerSecond(c.code), c.fps) << c.code;
}

TEST(EncoderProfiles, ResolutionCodeTable) {
  const struct {
    uint32_t w, h;
    bool mpeg4;
    std::optional<uint32_t> code;
  } cases[] = {
      {704, 480, true, 1},   {704, 480, false, 3},    {176, 144, false, 0},    {176, 145, false, 1},
      {320, 240, false, 6},  {640, 480, false, 7},    {256, 144, false, 8},    {512, 288, false, 9},
      {768, 432, false, 10}, {1280, 720, false, 12},  {1920, 1080, false, 14}, {2592, 1944, false, 15},
      {512, 200, false, 2},  {512, 200, true, 3},     {512, 577, false, {}},   {512, 400, false, 3},
      {768, 576, false, {}}, {1280, 1024, false, {}}, {2592, 1000, false, {}}, {800, 600, false, {}},
      {352, 288, false, 1},  {320, 480, false, 3},    {640, 288, false, 2},    {640, 288, true, 3},
      {704, 576, false, 3},  {704, 577, false, {}},   {353, 200, false, 2},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ResolutionCode(c.w, c.h, c.mpeg4), c.code) << c.w << "x" << c.h << (c.mpeg4 ? " mpeg4" : "");
}

TEST(EncoderProfiles, QuantizerRunsFromWorstToBest) {
  const struct {
    uint32_t quality, sent;
  } cases[] = {{0, 31}, {1, 31}, {50, 16}, {87, 5}, {88, 4}, {100, 4}, {65535, 4}};
  for (const auto& c : cases) EXPECT_EQ(QuantizerForQuality(c.quality), c.sent) << c.quality;
}

TEST(EncoderProfiles, BitrateClassesAndBandwidth) {
  const struct {
    uint32_t w, h;
    BitrateClass cls;
  } classes[] = {{2592, 1944, BitrateClass::kUHD}, {1600, 1200, BitrateClass::kFHD},
                 {1920, 1080, BitrateClass::kFHD}, {1023, 767, BitrateClass::kSD},
                 {1024, 576, BitrateClass::kHD},   {800, 768, BitrateClass::kHD}};
  for (const auto& c : classes) EXPECT_EQ(BitrateClassForSize(c.w, c.h), c.cls) << c.w << "x" << c.h;

  const struct {
    BitrateClass cls;
    uint32_t maximum, quality, bandwidth;
  } cases[] = {
      {BitrateClass::kSD, 4000, 0, 256},
      {BitrateClass::kSD, 4000, 100, 4000},
      {BitrateClass::kHD, 5000, 50, 2756},
      {BitrateClass::kUHD, 8000, 10, 1721},
      {BitrateClass::kFHD, 6000, 150, 6000},              // quality beyond 100 stays at the maximum
      {BitrateClass::kSD, 100, 50, 100},                  // a maximum below the class minimum wins
      {BitrateClass::kSD, 0, 80, 0},                      // 0 configured: nothing is invented
      {BitrateClass::kUHD, 0xFFFFFFFF, 100, 0xFFFFFFFF},  // no 32-bit overflow on the way
  };
  for (const auto& c : cases)
    EXPECT_EQ(BandwidthForQuality(c.cls, c.maximum, c.quality), c.bandwidth)
        << c.maximum << " q " << c.quality;
}

TEST(EncoderProfiles, ProfileListParsing) {
  const CEncoderProfileList list = CEncoderProfileList::Parse("4,3:6,3: 6,4:x:123,4:7:0,22:23,0:");
  const std::vector<ProfilePair> expected = {{4, 3}, {6, 3}, {6, 4}, {0, 22}, {23, 0}};
  EXPECT_EQ(list.Pairs(), expected);
  EXPECT_TRUE(list.HasZeroFirst());
  EXPECT_TRUE(list.HasZeroSecond());
  EXPECT_TRUE(CEncoderProfileList::Parse("").Empty());
  const CEncoderProfileList plain = CEncoderProfileList::Parse("4,3");
  EXPECT_FALSE(plain.HasZeroFirst());
  EXPECT_FALSE(plain.HasZeroSecond());
}

TEST(EncoderProfiles, CandidateTable) {
  using V = std::vector<uint8_t>;
  const V defaults = {3, 1, 10, 12, 13, 14};
  const struct {
    uint32_t w, h;
    V candidates;
  } cases[] = {
      {1280, 720, {4, 5, 7, 8, 19}},
      {1920, 1234, {6, 9}},
      {576, 1024, {18}},
      {576, 768, defaults},
      {1280, 800, {}},
      {704, 576, defaults},
      {3840, 1, {22}},
      {800, 800, {33, 42}},
  };
  for (const auto& c : cases) EXPECT_EQ(ProfileCandidates(c.w, c.h), c.candidates) << c.w << "x" << c.h;
}

TEST(EncoderProfiles, ChooseProfile) {
  const CEncoderProfileList list = CEncoderProfileList::Parse("4,3:6,3:6,4");
  const CEncoderProfileList zeros = CEncoderProfileList::Parse("23,0:0,22:20,3");
  const struct {
    const CEncoderProfileList* list;
    ProfilePair current;
    uint32_t stream, w, h;
    ProfilePair chosen;
  } cases[] = {
      {&list, {6, 3}, 0, 1280, 720, {4, 3}},      // first candidate that keeps the second value
      {&list, {6, 3}, 0, 640, 480, {6, 3}},       // nothing fits: current pair stays
      {&list, {6, 4}, 0, 1280, 720, {4, 3}},      // no candidate keeps 4: first pair with a candidate
      {&list, {6, 3}, 1, 704, 576, {6, 3}},       // live stream keeps the first value, 3 is a candidate
      {&list, {6, 0}, 1, 1280, 1024, {6, 0}},     // no candidate, no zero flag: current second stays
      {&zeros, {23, 5}, 1, 3840, 2160, {23, 0}},  // zero-second fallback
      {&zeros, {7, 22}, 0, 3840, 2160, {0, 22}},  // zero-first fallback
      {&zeros, {7, 9}, 0, 2704, 1520, {20, 3}},   // whole pair by candidate
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ChooseProfile(*c.list, c.current, c.stream, c.w, c.h), c.chosen)
        << int(c.current.first) << "," << int(c.current.second) << " stream " << c.stream << " " << c.w << "x"
        << c.h;
  }
  for (uint8_t code = 0; code < 64; ++code) {
    const bool needs = code == 1 || code == 3 || code == 10 || code == 12 || code == 13 || code == 14;
    EXPECT_EQ(ProfileNeedsResolution(code), needs) << int(code);
  }
}

TEST(EncoderProfiles, JpegResolutionMapParsing) {
  const JpegResolutionMap map =
      ParseJpegResolutions("20:640x480;0:320x240;5:0x100;21:800x600;22:640x480;300:1x1;junk");
  const JpegResolutionMap expected = {{{640, 480}, 22}, {{800, 600}, 21}};
  EXPECT_EQ(map, expected);
}

TEST(EncoderProfiles, JpegResolutionCodeTable) {
  const JpegResolutionMap map = {{{640, 480}, 20}, {{1280, 720}, 33}};
  const struct {
    uint32_t w, h;
    uint8_t mode;
    uint32_t group, code;
  } cases[] = {
      {640, 480, 0, 1, 20},   {1920, 1080, 4, 1, 33}, {1920, 1080, 3, 1, 14}, {320, 240, 0, 2, 8},
      {352, 288, 0, 3, 1},    {512, 288, 0, 2, 9},    {768, 480, 0, 2, 10},   {1920, 1080, 0, 2, 14},
      {2048, 1536, 0, 3, 7},  {1024, 720, 0, 2, 12},  {1024, 1200, 0, 2, 7},  {1024, 1000, 0, 2, 14},
      {176, 144, 0, 1, 0},    {320, 240, 0, 1, 6},    {1280, 960, 0, 1, 16},  {2592, 1936, 0, 1, 15},
      {1440, 1080, 0, 1, 17}, {2640, 2640, 0, 1, 18}, {1000, 1000, 0, 1, 18}, {3584, 2016, 0, 1, 18},
      {3584, 1000, 0, 1, 7},  {352, 288, 0, 1, 1},    {800, 600, 0, 1, 7},    {704, 240, 0, 1, 2},
      {704, 577, 0, 1, 7},    {704, 576, 0, 1, 3},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(JpegResolutionCode(c.w, c.h, c.mode, c.group, map), c.code)
        << c.w << "x" << c.h << " mode " << int(c.mode) << " group " << c.group;
  }
}

}  // namespace
}  // namespace vantrel
