// Linear mapping of an integer range onto another, rounded to nearest; maps the host's PTZ
// speeds (1 to 16) onto the speed range of a camera protocol.
#pragma once

#include <cstdint>

namespace vantrel {

class CScaleConverter {
 public:
  CScaleConverter() = default;
  virtual ~CScaleConverter() = default;

  // The bounds may come in either order.
  void SetTargetRange(uint32_t a, uint32_t b);
  void ResetSourceRange();
  // Taken as given: a minimum above the maximum turns the clamping off.
  void SetSourceRange(uint32_t minimum, uint32_t maximum);
  uint32_t Convert(uint32_t value) const;

  uint32_t GetSourceMin() const { return sourceMin_; }
  uint32_t GetSourceMax() const { return sourceMax_; }
  uint32_t GetTargetMin() const { return targetMin_; }
  uint32_t GetTargetMax() const { return targetMax_; }

 private:
  uint32_t sourceMin_ = 1;
  uint32_t sourceMax_ = 16;
  uint32_t targetMin_ = 0;
  uint32_t targetMax_ = 0;
};

}  // namespace vantrel
