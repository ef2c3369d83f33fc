// Base for objects whose failures repeat (channel set-up, motion, audio, edge storage): a
// message equal to the previous one passed on is dropped, and a run of changing messages is
// thinned out ever more the longer it lasts, so a camera that flaps cannot flood the host.
#pragma once

#include <cstdint>
#include <string>

#include "core/driver_services.h"
#include "foundation/recursive_lock.h"

namespace vantrel {

class CLoggerInstance {
 public:
  // `owner` (the driver) outlives this object.
  explicit CLoggerInstance(IDebugMessage* owner);
  virtual ~CLoggerInstance();
  CLoggerInstance(const CLoggerInstance&) = delete;
  CLoggerInstance& operator=(const CLoggerInstance&) = delete;

  // printf-style. Any thread; callers are serialised and the lock is held while the owner logs.
  void Log(uint32_t level, const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 3, 4)))
#endif
      ;
  // Forgets the last message (the count stays), so the next failure after a success is seen.
  void Reset();

  // The thinning rule on its own: counts one more change and says whether it passes. Below 15
  // every change passes, then every 16th up to 254, every 256th up to 4094, every 4096th up to
  // 65534; at 65535 the count falls back to 4095 without passing.
  static bool CountChange(uint32_t& changeCount);

 private:
  IDebugMessage* const owner_;  // borrowed: the driver, which outlives every logger
  uint32_t changeCount_ = 0;    // guarded by lock_
  CRecursiveLock lock_;
  std::string lastText_;  // guarded by lock_
};

}  // namespace vantrel
