#include "channels/encoder_profiles.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>

namespace vantrel {

namespace {

struct ExactSize {
  uint32_t width;
  uint32_t height;
  uint32_t code;
};

constexpr ExactSize kH264ExactSizes[] = {
    {320, 240, 6},  {640, 480, 7},   {256, 144, 8},    {512, 288, 9},
    {768, 432, 10}, {1280, 720, 12}, {1920, 1080, 14}, {2592, 1944, 15},
};

constexpr ExactSize kJpegExactSizes[] = {
    {320, 240, 6},   {640, 480, 7},    {256, 144, 8},    {512, 288, 9},    {768, 432, 10},   {1280, 720, 12},
    {1280, 960, 16}, {1920, 1080, 14}, {2592, 1936, 15}, {2592, 1944, 15}, {1440, 1080, 17},
};

// Height 0: any height. A width listed with heights offers nothing for another height.
struct CandidateRow {
  uint32_t width;
  uint32_t height;
  std::initializer_list<uint8_t> codes;
};

const CandidateRow kCandidateRows[] = {
    {576, 1024, {18}},      {608, 0, {48}},         {640, 240, {49}},     {640, 480, {3}},
    {672, 0, {47}},         {768, 288, {44}},       {768, 432, {3}},      {768, 576, {50}},
    {768, 768, {43}},       {800, 600, {25}},       {800, 800, {33, 42}}, {1024, 768, {26}},
    {1024, 1024, {32}},     {1216, 0, {58}},        {1280, 480, {40}},    {1280, 720, {4, 5, 7, 8, 19}},
    {1280, 960, {15, 27}},  {1280, 1024, {17, 59}}, {1440, 0, {16}},      {1536, 864, {34}},
    {1536, 1536, {41}},     {1600, 0, {28}},        {1792, 0, {31, 56}},  {1824, 540, {39}},
    {1824, 1080, {38, 57}}, {1920, 0, {6, 9}},      {2048, 0, {45}},      {2560, 960, {36}},
    {2560, 1440, {35}},     {2592, 0, {11}},        {2640, 0, {30, 55}},  {2688, 0, {46}},
    {2704, 0, {20, 54}},    {2992, 1680, {21, 53}}, {3584, 504, {51}},    {3584, 2016, {24}},
    {3648, 1080, {37}},     {3648, 2160, {29}},     {3840, 0, {22}},      {4000, 0, {23}},
};

constexpr uint8_t kDefaultCandidates[] = {3, 1, 10, 12, 13, 14};

// Encoder codes 1, 3, 10, 12, 13 and 14 leave the resolution to 0x0608.
constexpr uint32_t kCodesNeedingResolution = 0x740A;

std::optional<uint32_t> FindExact(const ExactSize* begin, const ExactSize* end, uint32_t w, uint32_t h) {
  for (const ExactSize* s = begin; s != end; ++s)
    if (s->width == w && s->height == h) return s->code;
  return std::nullopt;
}

}  // namespace

uint32_t FramesPerSecond(uint32_t frameRateCode) {
  uint32_t fps;
  if (frameRateCode == 0)
    fps = 1;
  else if ((frameRateCode & 0xF000) == 0x7000)
    fps = frameRateCode & 0x0FFF;
  else
    fps = (1000 + frameRateCode / 2) / frameRateCode;
  return fps == 0 ? 1 : fps;
}

std::optional<uint32_t> ResolutionCode(uint32_t w, uint32_t h, bool mpeg4) {
  if (w == 704 && h == 480) return mpeg4 ? 1u : 3u;
  if (w < 177 && h < 145) return 0u;
  if (auto code = FindExact(std::begin(kH264ExactSizes), std::end(kH264ExactSizes), w, h)) return code;
  if (w == 512) {
    if (h < 289) return mpeg4 ? 3u : 2u;
    if (h > 576) return std::nullopt;
    return 3u;
  }
  if (w == 768 || w == 1280 || w == 1920 || w == 2592 || w > 704) return std::nullopt;
  if ((w == 320 || w == 256 || (w < 353 && w != 640)) && h < 289) return 1u;
  if (h < 289) return mpeg4 ? 3u : 2u;
  if (h > 576) return std::nullopt;
  return 3u;
}

uint32_t QuantizerForQuality(uint32_t quality) {
  auto q = static_cast<uint32_t>(quality / 3.225806451612903 + 4.0);
  if (q < 32)
    q = std::max<uint32_t>(q, 4);
  else
    q = 31;
  return 35 - q;
}

BitrateClass BitrateClassForSize(uint32_t width, uint32_t height) {
  if (width >= 2592) return BitrateClass::kUHD;
  if (width >= 1600) return BitrateClass::kFHD;
  if (width < 1024 && height < 768) return BitrateClass::kSD;
  return BitrateClass::kHD;
}

uint32_t MinimumBitrate(BitrateClass bitrateClass) {
  switch (bitrateClass) {
    case BitrateClass::kUHD:
      return 1024;
    case BitrateClass::kFHD:
    case BitrateClass::kHD:
      return 512;
    case BitrateClass::kSD:
      break;
  }
  return 256;
}

uint32_t BandwidthForQuality(BitrateClass bitrateClass, uint32_t maximum, uint32_t quality) {
  // Signed 64-bit: a configured maximum below the class minimum, or a large one times the
  // quality, must not wrap around into an arbitrary bit rate.
  const int64_t minimum = MinimumBitrate(bitrateClass);
  const int64_t max = maximum;
  const int64_t q = std::min<uint32_t>(quality, 100);
  const int64_t bandwidth = std::min(minimum + (max - minimum) * q / 100, max);
  return static_cast<uint32_t>(bandwidth);
}

CEncoderProfileList CEncoderProfileList::Parse(const std::string& text) {
  CEncoderProfileList list;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(':', start);
    if (end == std::string::npos) end = text.size();
    const std::string piece = text.substr(start, end - start);
    unsigned first = 0, second = 0;
    if (std::sscanf(piece.c_str(), "%2u,%2u", &first, &second) == 2) {
      list.pairs_.emplace_back(static_cast<uint8_t>(first), static_cast<uint8_t>(second));
      if (first == 0) list.zeroFirst_ = true;
      if (second == 0) list.zeroSecond_ = true;
    }
    start = end + 1;
  }
  return list;
}

bool CEncoderProfileList::Contains(ProfilePair pair) const {
  return std::find(pairs_.begin(), pairs_.end(), pair) != pairs_.end();
}

std::vector<uint8_t> ProfileCandidates(uint32_t width, uint32_t height) {
  bool widthListed = false;
  for (const CandidateRow& row : kCandidateRows) {
    if (row.width != width) continue;
    widthListed = true;
    if (row.height == 0 || row.height == height) return std::vector<uint8_t>(row.codes);
  }
  // 576 is listed only for its portrait 576x1024 mode; any other 576-wide picture is ordinary.
  if (widthListed && width != 576) return {};
  return std::vector<uint8_t>(std::begin(kDefaultCandidates), std::end(kDefaultCandidates));
}

ProfilePair ChooseProfile(const CEncoderProfileList& profiles, ProfilePair current, uint32_t streamIndex,
                          uint32_t width, uint32_t height) {
  const std::vector<uint8_t> candidates =
      ProfileCandidates(static_cast<uint16_t>(width), static_cast<uint16_t>(height));
  if (streamIndex != 0) {
    for (uint8_t c : candidates)
      if (profiles.Contains({current.first, c})) return {current.first, c};
    if (profiles.HasZeroSecond() && profiles.Contains({current.first, 0})) return {current.first, 0};
    return current;
  }
  for (uint8_t c : candidates)
    if (profiles.Contains({c, current.second})) return {c, current.second};
  if (profiles.HasZeroFirst() && profiles.Contains({0, current.second})) return {0, current.second};
  for (uint8_t c : candidates) {
    for (const ProfilePair& pair : profiles.Pairs())
      if (pair.first == c) return pair;
  }
  return current;
}

bool ProfileNeedsResolution(uint8_t code) { return code < 15 && (kCodesNeedingResolution >> code) & 1; }

JpegResolutionMap ParseJpegResolutions(const std::string& text) {
  JpegResolutionMap map;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    const std::string entry = text.substr(start, end - start);
    unsigned code = 0, width = 0, height = 0;
    // The code travels as one byte; a larger one would reach the camera as a different code.
    if (std::sscanf(entry.c_str(), "%u:%ux%u", &code, &width, &height) == 3 && code != 0 && width != 0 &&
        height != 0 && code <= 0xFF)
      map[{width, height}] = code;
    start = end + 1;
  }
  return map;
}

std::optional<uint32_t> JpegExactResolutionCode(uint32_t width, uint32_t height) {
  return FindExact(std::begin(kJpegExactSizes), std::end(kJpegExactSizes), width, height);
}

uint32_t JpegResolutionCode(uint32_t w, uint32_t h, uint8_t encoderMode, uint32_t cameraGroup,
                            const JpegResolutionMap& map) {
  // These encoder modes cap the JPEG stream at 720p.
  if ((encoderMode == 4 || encoderMode == 5 || encoderMode == 7 || encoderMode == 8) && w > 1280) {
    w = 1280;
    h = 720;
  }
  if (auto it = map.find({w, h}); it != map.end()) return it->second;

  const bool beyondFullHd = w > 1920 || h > 1080;
  if (cameraGroup == 2 || cameraGroup == 3) {
    if (w <= 320 && h <= 240) return 8;
    if (w <= 352 && h <= 288) return 1;
    if (w <= 512 && h <= 288) return 9;
    if (w <= 768 && h <= 480) return 10;
    if (w > 1280) return beyondFullHd ? 7 : 14;
    if (h <= 720) return 12;
    return beyondFullHd ? 7 : 14;
  }

  if (w <= 176 && h <= 144) return 0;
  if (auto code = FindExact(std::begin(kJpegExactSizes), std::end(kJpegExactSizes), w, h)) return *code;
  if (w >= 2640 && h >= 2640) return 18;
  if (w == h) return 18;
  if (w == 3584) return h == 2016 ? 18 : 7;
  if (w <= 352 && h < 289) return 1;
  if (w > 704) return 7;
  if (h < 289) return 2;
  if (h > 576) return 7;
  return 3;
}

}  // namespace vantrel
