// Guards one object's calls into the host against that object's stop.
//
// Every thread of an object that calls the host (frame, audio, I/O, motion, status, PTZ and
// query callbacks) does so inside a Scope. A stop first closes the gate, so no callback starts
// after Close returned, and then waits for the callbacks already in flight: a count, not a
// sleep. A stop the host makes from inside one of this gate's callbacks (StopChannel from
// OnFrame) cannot wait for that callback, which is further up its own stack: Close then waits
// for the others only and reports false, and the owner defers its tear-down (CTeardownQueue)
// instead of freeing what the callback's thread still runs on.
//
// No driver lock may be held while a Scope is open around the host call or while Close waits.
#pragma once

#include <cstdint>
#include <vector>

namespace vantrel {

class CCallbackGate {
 public:
  CCallbackGate();
  ~CCallbackGate();

  CCallbackGate(const CCallbackGate&) = delete;
  CCallbackGate& operator=(const CCallbackGate&) = delete;

  // True when the gate is open; the caller then calls the host and must call Leave afterwards.
  bool Enter();
  void Leave();

  // Closes the gate and waits, without limit, for the callbacks in flight on other threads:
  // the host's own thread time, which the driver must not cut short. False when the calling
  // thread is itself inside a callback of this gate (that one is still in flight on return).
  bool Close();
  // As Close, but gives up waiting after `timeoutMs` (false then, the gate stays closed).
  bool CloseFor(uint32_t timeoutMs);
  // Opens a closed gate again (a channel resumed or started anew).
  void Open();

  bool IsOpen() const;
  // True when the calling thread is inside a callback of this gate.
  bool IsInsideCallback() const;
  // True when the calling thread is inside a callback of any gate (the host's code is further up
  // its stack).
  static bool IsInsideAnyCallback();
  // Callbacks in flight now, on any thread.
  uint32_t InFlight() const;

  // Holds the gate for one host call: `if (CCallbackGate::Scope s(gate); s) host->OnFrame(...)`.
  class Scope {
   public:
    explicit Scope(CCallbackGate& gate) : gate_(gate), entered_(gate.Enter()) {}
    ~Scope() {
      if (entered_) gate_.Leave();
    }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
    explicit operator bool() const { return entered_; }

   private:
    CCallbackGate& gate_;
    const bool entered_;
  };

 private:
  bool WaitOthers(uint32_t timeoutMs);

  // SRWLOCK and CONDITION_VARIABLE, each one pointer wide, kept opaque so that this header
  // needs no windows.h.
  void* lock_ = nullptr;
  void* drained_ = nullptr;
  bool open_ = true;                // guarded by lock_
  std::vector<uint32_t> inFlight_;  // thread id per callback in flight; guarded by lock_
};

}  // namespace vantrel
