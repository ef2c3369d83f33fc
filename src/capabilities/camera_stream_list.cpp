#include "capabilities/camera_stream_list.h"

#include <cstdio>

namespace vantrel {

void CameraStreamList::AddResolution(uint32_t width, uint32_t height, uint32_t rate) {
  if (width == 0 || height == 0) return;
  for (CameraResolution& r : resolutions) {
    if (r.width == width && r.height == height) {
      if (rate > r.rate) r.rate = rate;
      return;
    }
  }
  resolutions.push_back({width, height, rate});
}

uint32_t FrameRateCode(uint32_t rate, bool highRate) {
  if (rate == 0) return 1000;
  if (rate <= 30 || !highRate) return (1000 + rate / 2) / rate;
  return rate | 0x70000000u;
}

std::string CodecListText(const CameraStreamList& list) {
  std::string text;
  for (uint32_t codec : list.codecs) {
    const char* name = codec == kCodecH264    ? "h264"
                       : codec == kCodecMpeg4 ? "mpeg"
                       : codec == kCodecJpeg  ? "jpeg"
                                              : nullptr;
    if (!name) continue;
    if (!text.empty()) text += ',';
    text += name;
  }
  return text;
}

uint32_t DefaultFrameRateCode(const CameraStreamList& list, bool highRate) {
  uint32_t floor = list.defaultRate;
  if (floor == 0 && !list.rates.empty()) floor = *list.rates.rbegin() / 2;
  for (uint32_t rate : list.rates) {
    if (rate != 0 && rate >= floor) return FrameRateCode(rate, highRate);
  }
  return 1000;
}

std::string FrameRateListText(const CameraStreamList& list, bool highRate) {
  std::string values;
  for (uint32_t rate : list.rates) {
    if (rate == 0) continue;
    if (!values.empty()) values += ',';
    values += std::to_string(FrameRateCode(rate, highRate));
  }
  if (values.empty()) return {};
  return "values=" + values + ";default=" + std::to_string(DefaultFrameRateCode(list, highRate));
}

std::string ResolutionListText(const CameraStreamList& list, bool highRate) {
  const uint32_t fallback = list.rates.empty() ? 0 : *list.rates.rbegin();
  std::string text;
  for (const CameraResolution& r : list.resolutions) {
    if (r.width == 0 || r.height == 0) continue;
    const uint32_t rate = r.rate ? r.rate : fallback;
    const uint32_t code = rate ? FrameRateCode(rate, highRate) : 40;
    char entry[48];
    std::snprintf(entry, sizeof(entry), "%ux%u:%u", r.width, r.height, code);
    if (!text.empty()) text += ',';
    text += entry;
  }
  return text;
}

}  // namespace vantrel
