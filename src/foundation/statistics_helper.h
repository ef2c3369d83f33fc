// A moving window of the latest samples with their running sum, for smoothing clock deltas.
// Used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

namespace vantrel {

template <class T>
class TStatisticsHelper {
 public:
  TStatisticsHelper() = default;
  virtual ~TStatisticsHelper() = default;

  // The oldest samples leave the window (and the sum) once it is full.
  void AddSample(T value) {
    while (!samples_.empty() && samples_.size() >= windowSize_) {
      sum_ -= static_cast<double>(samples_.front());
      samples_.pop_front();
    }
    sum_ += static_cast<double>(value);
    samples_.push_back(value);
  }

  void Clear() {
    samples_.clear();
    sum_ = 0.0;
  }

  size_t GetCount() const { return samples_.size(); }
  double GetSum() const { return sum_; }
  // 0 when there are no samples.
  double GetMean() const { return samples_.empty() ? 0.0 : sum_ / static_cast<double>(samples_.size()); }

  // A window of 0 behaves as 1: the newest sample is always kept.
  void SetWindowSize(uint64_t size) { windowSize_ = size; }
  uint64_t GetWindowSize() const { return windowSize_; }

 private:
  std::deque<T> samples_;
  double sum_ = 0.0;
  uint64_t windowSize_ = 1000;
};

}  // namespace vantrel
