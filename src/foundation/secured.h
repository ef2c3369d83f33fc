// A value shared between threads, read and written whole under its own lock.
#pragma once

#include "foundation/recursive_lock.h"

namespace vantrel {

template <class T>
class TSecured {
 public:
  TSecured() : value_() {}
  explicit TSecured(const T& value) : value_(value) {}
  virtual ~TSecured() = default;

  TSecured(const TSecured&) = delete;
  TSecured& operator=(const TSecured&) = delete;

  T Get() const {
    CScopedLock guard(lock_);
    return value_;
  }

  void Set(const T& value) {
    CScopedLock guard(lock_);
    value_ = value;
  }

 private:
  mutable CRecursiveLock lock_;
  T value_;  // guarded by lock_
};

}  // namespace vantrel
