#include "foundation/recursive_lock.h"

#include <windows.h>

namespace vantrel {
namespace {

static_assert(sizeof(long) == sizeof(LONG), "the state words are interlocked as LONG");

// Spinning only pays when the owner can run on another processor at the same time.
uint32_t SpinCountForThisMachine() {
  static const uint32_t spin = [] {
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors == 1 ? 0u : 4000u;
  }();
  return spin;
}

}  // namespace

CRecursiveLock::CRecursiveLock() {
  event_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  state_ = new State{SpinCountForThisMachine(), 0, 0, 0};
}

CRecursiveLock::~CRecursiveLock() {
  if (event_) CloseHandle(event_);
  delete state_;
}

void CRecursiveLock::TakeOwnership(uint32_t threadId) {
  state_->ownerThreadId = threadId;
  state_->recursionCount = 1;
}

void CRecursiveLock::Lock() {
  const uint32_t me = GetCurrentThreadId();
  const uint32_t spins = state_->spinCount;
  for (uint32_t attempt = 0; attempt <= spins; ++attempt) {
    if (InterlockedCompareExchange(&state_->lockCount, 1, 0) == 0) {
      TakeOwnership(me);
      return;
    }
    if (state_->ownerThreadId == me) {
      InterlockedIncrement(&state_->lockCount);
      ++state_->recursionCount;
      return;
    }
    YieldProcessor();
  }
  // Counting ourselves in makes the owner's Unlock hand the lock over through the event.
  if (InterlockedIncrement(&state_->lockCount) == 1) {
    TakeOwnership(me);
    return;
  }
  if (state_->ownerThreadId == me) {
    ++state_->recursionCount;
    return;
  }
  WaitForSingleObject(event_, INFINITE);
  TakeOwnership(me);
}

void CRecursiveLock::Unlock() {
  if (state_->ownerThreadId != GetCurrentThreadId() || state_->recursionCount <= 0) return;
  if (--state_->recursionCount > 0) {
    InterlockedDecrement(&state_->lockCount);
    return;
  }
  state_->ownerThreadId = 0;
  // Above 0 after our decrement: someone counted itself in and waits (or is about to) on the
  // event; the lock count never drops to 0 in between, so the handover is to exactly one waiter.
  if (InterlockedDecrement(&state_->lockCount) > 0) SetEvent(event_);
}

}  // namespace vantrel
