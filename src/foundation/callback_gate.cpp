#include "foundation/callback_gate.h"

#include <windows.h>

#include <algorithm>

namespace vantrel {

namespace {
PSRWLOCK Srw(void*& p) { return reinterpret_cast<PSRWLOCK>(&p); }
PCONDITION_VARIABLE Cv(void*& p) { return reinterpret_cast<PCONDITION_VARIABLE>(&p); }
static_assert(sizeof(SRWLOCK) == sizeof(void*) && sizeof(CONDITION_VARIABLE) == sizeof(void*));
// Host callbacks of any gate the calling thread is inside now.
thread_local uint32_t callbackDepth = 0;
}  // namespace

bool CCallbackGate::IsInsideAnyCallback() { return callbackDepth != 0; }

CCallbackGate::CCallbackGate() {
  InitializeSRWLock(Srw(lock_));
  InitializeConditionVariable(Cv(drained_));
}

CCallbackGate::~CCallbackGate() = default;

bool CCallbackGate::Enter() {
  AcquireSRWLockExclusive(Srw(lock_));
  const bool entered = open_;
  if (entered) inFlight_.push_back(GetCurrentThreadId());
  ReleaseSRWLockExclusive(Srw(lock_));
  if (entered) ++callbackDepth;
  return entered;
}

void CCallbackGate::Leave() {
  AcquireSRWLockExclusive(Srw(lock_));
  auto it = std::find(inFlight_.begin(), inFlight_.end(), static_cast<uint32_t>(GetCurrentThreadId()));
  const bool left = it != inFlight_.end();
  if (left) inFlight_.erase(it);
  ReleaseSRWLockExclusive(Srw(lock_));
  if (left && callbackDepth) --callbackDepth;
  WakeAllConditionVariable(Cv(drained_));
}

bool CCallbackGate::WaitOthers(uint32_t timeoutMs) {
  const uint32_t self = GetCurrentThreadId();
  const DWORD start = GetTickCount();
  AcquireSRWLockExclusive(Srw(lock_));
  open_ = false;
  bool selfInside = false;
  bool timedOut = false;
  for (;;) {
    const auto mine = static_cast<size_t>(std::count(inFlight_.begin(), inFlight_.end(), self));
    selfInside = mine > 0;
    const bool othersInside = mine != inFlight_.size();
    if (!othersInside) break;
    DWORD wait = INFINITE;
    if (timeoutMs != INFINITE) {
      const DWORD spent = GetTickCount() - start;
      if (spent >= timeoutMs) {
        timedOut = true;
        break;
      }
      wait = timeoutMs - spent;
    }
    SleepConditionVariableSRW(Cv(drained_), Srw(lock_), wait, 0);
  }
  ReleaseSRWLockExclusive(Srw(lock_));
  return !selfInside && !timedOut;
}

bool CCallbackGate::Close() { return WaitOthers(INFINITE); }

bool CCallbackGate::CloseFor(uint32_t timeoutMs) { return WaitOthers(timeoutMs); }

void CCallbackGate::Open() {
  AcquireSRWLockExclusive(Srw(lock_));
  open_ = true;
  ReleaseSRWLockExclusive(Srw(lock_));
}

bool CCallbackGate::IsOpen() const {
  auto* self = const_cast<CCallbackGate*>(this);
  AcquireSRWLockShared(Srw(self->lock_));
  const bool open = open_;
  ReleaseSRWLockShared(Srw(self->lock_));
  return open;
}

bool CCallbackGate::IsInsideCallback() const {
  auto* self = const_cast<CCallbackGate*>(this);
  AcquireSRWLockShared(Srw(self->lock_));
  const bool inside = std::find(inFlight_.begin(), inFlight_.end(),
                                static_cast<uint32_t>(GetCurrentThreadId())) != inFlight_.end();
  ReleaseSRWLockShared(Srw(self->lock_));
  return inside;
}

uint32_t CCallbackGate::InFlight() const {
  auto* self = const_cast<CCallbackGate*>(this);
  AcquireSRWLockShared(Srw(self->lock_));
  const auto n = static_cast<uint32_t>(inFlight_.size());
  ReleaseSRWLockShared(Srw(self->lock_));
  return n;
}

}  // namespace vantrel
