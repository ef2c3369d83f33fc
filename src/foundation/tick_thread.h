// A thread that does periodic work until it is stopped. The period is measured from the end of
// the previous tick, so slow ticks stretch the interval instead of piling up.
#pragma once

#include <cstdint>

#include "foundation/base_thread.h"

namespace vantrel {

class CTickThread : public CBaseThread {
 public:
  explicit CTickThread(IDebugMessage* logger) : CBaseThread(logger) {}

  // Takes effect from the next wait; set before StartThread.
  void SetPeriod(uint32_t periodMs) { periodMs_ = periodMs; }
  uint32_t GetPeriod() const { return periodMs_; }
  void SetTickAtStart(bool tickAtStart) { tickAtStart_ = tickAtStart; }
  bool GetTickAtStart() const { return tickAtStart_; }

 protected:
  void ThreadProc() override;
  // Runs on the tick thread.
  virtual void OnTick() = 0;

 private:
  void Tick();

  uint32_t periodMs_ = 2000;
  bool tickAtStart_ = false;
};

// Ticks a member function of an object that holds the thread rather than deriving from it.
template <class T>
class TTickThread : public CTickThread {
 public:
  using Method = void (T::*)();

  explicit TTickThread(IDebugMessage* logger) : CTickThread(logger) {}
  ~TTickThread() override { StopThread(2000); }

  // Both must be set for a tick to do anything; bind before StartThread.
  void Bind(T* object, Method method) {
    object_ = object;
    method_ = method;
  }

 protected:
  void OnTick() override {
    if (object_ && method_) (object_->*method_)();
  }

 private:
  T* object_ = nullptr;  // borrowed: the object owns this thread
  Method method_ = nullptr;
};

}  // namespace vantrel
