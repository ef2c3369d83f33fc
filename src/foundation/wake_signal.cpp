#include "foundation/wake_signal.h"

#include <windows.h>

namespace vantrel {

static_assert(sizeof(SRWLOCK) == sizeof(void*) && sizeof(CONDITION_VARIABLE) == sizeof(void*),
              "CWakeSignal keeps the lock and the condition in one pointer each");

void CWakeSignal::Set() {
  auto* lock = reinterpret_cast<PSRWLOCK>(&lock_);
  AcquireSRWLockExclusive(lock);
  signalled_ = true;
  ReleaseSRWLockExclusive(lock);
  WakeConditionVariable(reinterpret_cast<PCONDITION_VARIABLE>(&condition_));
}

bool CWakeSignal::Wait(uint32_t timeoutMs) {
  auto* lock = reinterpret_cast<PSRWLOCK>(&lock_);
  const ULONGLONG start = GetTickCount64();
  AcquireSRWLockExclusive(lock);
  // Woken without a Set (a spurious wake-up) the wait goes on for what is left of the time-out.
  while (!signalled_) {
    const ULONGLONG waited = GetTickCount64() - start;
    if (timeoutMs != INFINITE && waited >= timeoutMs) break;
    const DWORD left = timeoutMs == INFINITE ? INFINITE : static_cast<DWORD>(timeoutMs - waited);
    if (!SleepConditionVariableSRW(reinterpret_cast<PCONDITION_VARIABLE>(&condition_), lock, left, 0) &&
        GetLastError() == ERROR_TIMEOUT)
      break;
  }
  const bool woken = signalled_;
  signalled_ = false;
  ReleaseSRWLockExclusive(lock);
  return woken;
}

}  // namespace vantrel
