#include "streaming/time_stamp_converter.h"

#include <windows.h>

#include <algorithm>

#include "foundation/time_value.h"

namespace vantrel {

namespace {

constexpr uint64_t kMinStep = 10000;              // 1 ms
constexpr uint64_t kBackwardStep = 10000;         // 1 ms when a timestamp repeats or goes back
constexpr uint64_t kCatchUpStep = 50000;          // 5 ms after an implausibly large step
constexpr uint64_t kMaxPlausibleStep = 10000000;  // 1 s beyond the lead
constexpr uint64_t kLeadWorthKeeping = 2500000;   // 0.25 s
constexpr uint64_t kStepWorthCorrecting = 40000;  // 4 ms
constexpr uint64_t kResyncTicks90k = 90000;       // 1 s at 90 kHz
constexpr size_t kLearningSamples = 100;          // RTP deltas before the measured ratio is used

// 90 kHz ticks to 100 ns units.
uint64_t TicksToFileTime(uint64_t ticks) { return ticks * 1000 / 9; }

}  // namespace

CTimeStampConverter::CTimeStampConverter() : CTimeStampConverter(&GetCurrentFileTime) {}

CTimeStampConverter::CTimeStampConverter(Clock clock) : clock_(clock ? clock : &GetCurrentFileTime) {}

void CTimeStampConverter::Reset() {
  current_ = 0;
  lastTimestamp_ = 0;
  lead_ = 0;
  lastWallTime_ = 0;
  rtpDeltas_.Clear();
  wallDeltas_.Clear();
  smoothing_ = true;
}

void CTimeStampConverter::Start(uint64_t baseFileTime) {
  Reset();
  if (baseFileTime != 0) {
    current_ = baseFileTime;
    smoothing_ = false;
  }
}

uint64_t CTimeStampConverter::Convert(uint32_t rtpTimestamp) {
  return smoothing_ ? ConvertSmoothed(rtpTimestamp) : ConvertPlain(rtpTimestamp);
}

uint64_t CTimeStampConverter::ConvertPlain(uint32_t rtpTimestamp) {
  if (current_ == 0 || rtpTimestamp == 0) return 0;
  if (lastTimestamp_ == 0) {
    lastTimestamp_ = rtpTimestamp;
  } else if (rtpTimestamp > lastTimestamp_) {
    current_ += TicksToFileTime(rtpTimestamp - lastTimestamp_);
    lastTimestamp_ = rtpTimestamp;
  }
  return current_;
}

uint64_t CTimeStampConverter::ConvertSmoothed(uint32_t rtpTimestamp) {
  const uint64_t now = clock_();
  if (now == 0 || current_ == 0 || lastTimestamp_ == 0) {
    current_ = now;
    lead_ = 0;
  } else {
    bool adjusted = false;
    if (rtpTimestamp <= lastTimestamp_) {
      current_ = std::max(current_ + kBackwardStep, now);
      adjusted = true;
    } else {
      const uint32_t delta = rtpTimestamp - lastTimestamp_;
      rtpDeltas_.AddSample(delta);
      if (now >= lastWallTime_) {
        wallDeltas_.AddSample(static_cast<uint32_t>(now) - static_cast<uint32_t>(lastWallTime_));
      }
      if (rtpDeltas_.GetCount() <= kLearningSamples) {
        if (delta >= kResyncTicks90k) {
          // A second or more between two frames while still learning: the stream restarted
          // or stalled, so start again from the wall clock.
          current_ = now;
          lead_ = 0;
          lastTimestamp_ = rtpTimestamp;
          lastWallTime_ = now;
          return current_;
        }
        current_ += TicksToFileTime(delta);
        adjusted = rtpDeltas_.GetCount() == kLearningSamples;
      } else {
        uint64_t step = static_cast<uint64_t>(delta * wallDeltas_.GetMean() / rtpDeltas_.GetMean() + 0.5);
        if (step >= lead_ + kMaxPlausibleStep) {
          current_ = std::max(now, current_ + kCatchUpStep);
          adjusted = true;
        } else {
          bool done = false;
          if (lead_ > kMinStep && step > kStepWorthCorrecting) {
            if (step / 10 >= kMinStep && lead_ < step / 10) {
              current_ += step - lead_;
              lead_ = 0;
              done = true;
            } else {
              // Give back at most a tenth of each step so frame spacing stays even.
              const uint64_t correction = step / 10 >= kMinStep ? step / 10 : kMinStep;
              step -= correction;
              lead_ -= correction;
            }
          }
          if (!done) current_ += step;
        }
      }
    }
    if (now < current_) {
      if (adjusted || current_ - now > kLeadWorthKeeping) lead_ = current_ - now;
    } else {
      current_ = now;
      lead_ = 0;
    }
  }
  lastTimestamp_ = rtpTimestamp;
  lastWallTime_ = now;
  return current_;
}

void CTimeStampConverter::GetSystemTime(SYSTEMTIME& out) {
  if (current_ != 0 && lastTimestamp_ != 0 && FileTimeToSystemTimeValue(current_, out)) return;
  ::GetSystemTime(&out);
}

}  // namespace vantrel
