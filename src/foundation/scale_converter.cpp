#include "foundation/scale_converter.h"

#include <algorithm>

namespace vantrel {

void CScaleConverter::SetTargetRange(uint32_t a, uint32_t b) {
  targetMin_ = std::min(a, b);
  targetMax_ = std::max(a, b);
}

void CScaleConverter::ResetSourceRange() {
  sourceMin_ = 1;
  sourceMax_ = 16;
}

void CScaleConverter::SetSourceRange(uint32_t minimum, uint32_t maximum) {
  sourceMin_ = minimum;
  sourceMax_ = maximum;
}

uint32_t CScaleConverter::Convert(uint32_t value) const {
  uint32_t v = value;
  if (sourceMin_ < sourceMax_)
    v = std::clamp(v, sourceMin_, sourceMax_);
  else if (sourceMin_ == sourceMax_)
    v = sourceMin_;
  const uint32_t sourceSpan = sourceMax_ - sourceMin_;
  const uint32_t targetSpan = targetMax_ - targetMin_;
  if (sourceSpan == 0 || targetSpan == 0) {
    // Summed in 64 bits: the midpoint of a range near the top of u32 must not wrap.
    return static_cast<uint32_t>((uint64_t{targetMin_} + targetMax_) / 2);
  }
  const double scaled = static_cast<double>(v - sourceMin_) * targetSpan / sourceSpan;
  return targetMin_ + static_cast<uint32_t>(std::min<double>(targetSpan, scaled) + 0.5);
}

}  // namespace vantrel
