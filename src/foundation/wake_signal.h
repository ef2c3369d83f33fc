// An auto-reset wake-up between two threads of one process, in user mode: a slim reader/writer
// lock and a condition variable. A queue thread woken for every burst of packets uses it instead
// of a kernel event, whose Set and wait are each a call into the kernel (under Wine, a round trip
// to its server); an uncontended Set here costs no system call at all.
#pragma once

#include <cstdint>

namespace vantrel {

class CWakeSignal {
 public:
  CWakeSignal() = default;
  CWakeSignal(const CWakeSignal&) = delete;
  CWakeSignal& operator=(const CWakeSignal&) = delete;

  // Wakes one waiter, or the next Wait if none waits now.
  void Set();
  // True when woken by a Set (which it consumes), false on time-out.
  bool Wait(uint32_t timeoutMs);

 private:
  // An SRWLOCK and a CONDITION_VARIABLE, both one pointer initialised to null.
  void* lock_ = nullptr;
  void* condition_ = nullptr;
  bool signalled_ = false;  // under lock_
};

}  // namespace vantrel
