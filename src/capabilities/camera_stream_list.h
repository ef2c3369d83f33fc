// What one stream of a camera offers (codecs, sizes with their own top rate, frame rates), and
// the text forms the host stores for it. Portable: unit-tested natively.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace vantrel {

struct CameraResolution {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t rate = 0;  // frames per second; 0 = none of its own
};

// Codec codes of the capability report (not the video settings record's formats): the host
// reads 1 as "h264", 2 as "mpeg", 3 as "jpeg".
enum CameraCodec : uint32_t { kCodecH264 = 1, kCodecMpeg4 = 2, kCodecJpeg = 3 };

struct CameraStreamList {
  std::set<uint32_t> codecs;
  std::vector<CameraResolution> resolutions;  // in the order they were learnt
  std::set<uint32_t> rates;
  uint32_t defaultRate = 0;
  // Set when the camera's own list of sizes described this stream; standard sizes then stay out.
  bool described = false;

  // A size already listed only has its rate raised; a width or height of 0 adds nothing.
  void AddResolution(uint32_t width, uint32_t height, uint32_t rate);
};

// Frame-rate code the host understands for a rate in frames per second: the frame period in
// milliseconds, rounded half up; 1000 for 0. Rates above 30 are sent raw with 0x70000000 when
// the host asked for that (high-rate flag).
uint32_t FrameRateCode(uint32_t rate, bool highRate);

// "h264,mpeg,jpeg" in code order; unknown codes are left out.
std::string CodecListText(const CameraStreamList& list);
// "values=C1,C2,...;default=D"; empty for a stream without rates.
std::string FrameRateListText(const CameraStreamList& list, bool highRate);
// The code the host should pre-select: the smallest rate not below the stream's default rate
// (without one: not below half the highest rate); 1000 when there is none.
uint32_t DefaultFrameRateCode(const CameraStreamList& list, bool highRate);
// "WxH:code" entries joined by ","; the code is of the size's own rate, else of the stream's
// highest rate, else 40.
std::string ResolutionListText(const CameraStreamList& list, bool highRate);

}  // namespace vantrel
