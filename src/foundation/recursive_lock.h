// A process-local recursive lock that spins briefly before it blocks. Cheaper than a kernel
// mutex for the short critical sections of the queues and shared values.
#pragma once

#include <cstdint>

namespace vantrel {

class CRecursiveLock {
 public:
  CRecursiveLock();
  ~CRecursiveLock();

  CRecursiveLock(const CRecursiveLock&) = delete;
  CRecursiveLock& operator=(const CRecursiveLock&) = delete;

  void Lock();
  // Ignored when the calling thread does not own the lock, so a stray unlock cannot hand the
  // lock to a second thread or drive the counts negative.
  void Unlock();

  // Lowercase aliases so std::lock_guard / std::unique_lock can hold it.
  void lock() { Lock(); }
  void unlock() { Unlock(); }

 private:
  // Laid out as the four 32-bit words the interlocked operations work on; heap-allocated so
  // the words keep their alignment whatever object embeds the lock.
  struct State {
    volatile uint32_t spinCount;
    volatile long lockCount;  // owner's recursion + threads waiting or about to
    volatile uint32_t ownerThreadId;
    long recursionCount;  // touched only by the owner
  };

  void TakeOwnership(uint32_t threadId);

  void* event_ = nullptr;
  State* state_ = nullptr;
};

// Holds a CRecursiveLock for one scope.
class CScopedLock {
 public:
  explicit CScopedLock(CRecursiveLock& lock) : lock_(lock) { lock_.Lock(); }
  ~CScopedLock() { lock_.Unlock(); }
  CScopedLock(const CScopedLock&) = delete;
  CScopedLock& operator=(const CScopedLock&) = delete;

 private:
  CRecursiveLock& lock_;
};

}  // namespace vantrel
