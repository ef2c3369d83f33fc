// Wall-clock time as UTC FILETIME values (64-bit, 100 ns since 1601) and a stopwatch over it.
// The system clock can be set back; elapsed times never go negative, they read 0 instead.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/filetime_math.h"
#include "foundation/recursive_lock.h"
#include "vantrel/platform_types.h"

namespace vantrel {

// Now, UTC; 0 if the clock could not be read.
uint64_t GetCurrentFileTime();

// Milliseconds from `start` to now: 0 when `start` is not in the past, and saturated at
// 0xFFFFFFFF rather than wrapped for spans beyond 49.7 days.
uint32_t ElapsedMsSince(uint64_t start);

// 0 when the record is not a valid date.
uint64_t SystemTimeToFileTimeValue(const SYSTEMTIME& systemTime);
bool FileTimeToSystemTimeValue(uint64_t fileTime, SYSTEMTIME& systemTime);

// Local time as "YYYY/MM/DD hh:mm:ss.mmm" for log messages; empty for 0 or an invalid value.
std::string FormatLocalTime(uint64_t fileTime);

// A stopwatch shared between threads: the channel thread reads it while callback threads
// restart it.
class CTime {
 public:
  CTime() : start_(GetCurrentFileTime()) {}
  virtual ~CTime() = default;

  CTime(const CTime&) = delete;
  CTime& operator=(const CTime&) = delete;

  void Restart() {
    uint64_t now = GetCurrentFileTime();
    CScopedLock guard(lock_);
    start_ = now;
  }

  uint64_t GetStart() const {
    CScopedLock guard(lock_);
    return start_;
  }

  uint32_t ElapsedMs() const { return ElapsedMsSince(GetStart()); }

 private:
  mutable CRecursiveLock lock_;
  uint64_t start_;  // guarded by lock_
};

}  // namespace vantrel
