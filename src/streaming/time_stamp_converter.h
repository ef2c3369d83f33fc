// Turns the 90 kHz RTP timestamps of a video stream into UTC FILETIME values (100 ns units).
// The camera's clock and ours drift apart and packets arrive in bursts, so the smoothed
// conversion advances by the RTP delta scaled with the measured ratio of wall-clock to RTP
// deltas, stays close to the wall clock, and works off any lead over it in small steps rather
// than making frame times jump.
#pragma once

#include <cstdint>

#include "foundation/statistics_helper.h"
#include "vantrel/platform_types.h"

namespace vantrel {

class CTimeStampConverter {
 public:
  // Now as a FILETIME value; 0 when the clock cannot be read.
  using Clock = uint64_t (*)();

  CTimeStampConverter();
  // For tests that drive the wall clock themselves.
  explicit CTimeStampConverter(Clock clock);
  virtual ~CTimeStampConverter() = default;

  void Reset();
  // As Reset; a non-zero base becomes the current time and switches smoothing off.
  void Start(uint64_t baseFileTime);
  uint64_t ConvertSmoothed(uint32_t rtpTimestamp);
  // ConvertSmoothed while smoothing is on, else plain 90 kHz extrapolation from the base.
  uint64_t Convert(uint32_t rtpTimestamp);
  // The current time as UTC; the system's time when there is none yet.
  void GetSystemTime(SYSTEMTIME& out);

  uint64_t GetCurrentTime() const { return current_; }
  uint64_t GetLead() const { return lead_; }
  bool IsSmoothing() const { return smoothing_; }

 private:
  uint64_t ConvertPlain(uint32_t rtpTimestamp);

  Clock clock_;
  uint64_t current_ = 0;  // 0: not started
  uint32_t lastTimestamp_ = 0;
  uint64_t lead_ = 0;  // how far current_ is ahead of the wall clock
  TStatisticsHelper<unsigned int> rtpDeltas_;
  TStatisticsHelper<unsigned int> wallDeltas_;
  uint64_t lastWallTime_ = 0;
  bool smoothing_ = true;
};

}  // namespace vantrel
