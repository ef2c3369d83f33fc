#include "foundation/teardown_queue.h"

#include <process.h>
#include <windows.h>

#include <deque>

#include "foundation/callback_gate.h"

namespace vantrel {

namespace {

struct QueueState {
  SRWLOCK lock = SRWLOCK_INIT;
  CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
  std::deque<std::function<void()>> items;  // guarded by lock
  uint64_t posted = 0;                      // guarded by lock
  uint64_t done = 0;                        // guarded by lock
  bool ending = false;                      // guarded by lock
  bool exited = false;                      // the thread left its loop; guarded by lock
  HANDLE thread = nullptr;                  // guarded by lock
  DWORD threadId = 0;                       // guarded by lock
};

QueueState& State() {
  static QueueState state;
  return state;
}

unsigned __stdcall QueueProc(void*) {
  QueueState& s = State();
  AcquireSRWLockExclusive(&s.lock);
  for (;;) {
    while (s.items.empty() && !s.ending) SleepConditionVariableSRW(&s.changed, &s.lock, INFINITE, 0);
    if (s.items.empty()) {
      s.exited = true;
      break;
    }
    std::function<void()> item = std::move(s.items.front());
    s.items.pop_front();
    ReleaseSRWLockExclusive(&s.lock);
    // An exception escaping here would end the host's process; the item is dropped instead.
    try {
      item();
    } catch (...) {
    }
    item = nullptr;
    AcquireSRWLockExclusive(&s.lock);
    ++s.done;
    WakeAllConditionVariable(&s.changed);
  }
  ReleaseSRWLockExclusive(&s.lock);
  return 0;
}

// Waits under the lock until `done` reaches `target`; false after `timeoutMs`.
bool WaitDoneLocked(QueueState& s, uint64_t target, uint32_t timeoutMs) {
  const DWORD start = GetTickCount();
  while (s.done < target) {
    DWORD wait = INFINITE;
    if (timeoutMs != INFINITE) {
      const DWORD spent = GetTickCount() - start;
      if (spent >= timeoutMs) return false;
      wait = timeoutMs - spent;
    }
    SleepConditionVariableSRW(&s.changed, &s.lock, wait, 0);
  }
  return true;
}

}  // namespace

void CTeardownQueue::Post(std::function<void()> item) {
  QueueState& s = State();
  AcquireSRWLockExclusive(&s.lock);
  s.items.push_back(std::move(item));
  ++s.posted;
  // A thread that already left its loop for a Shutdown in progress cannot take the item; that
  // Shutdown closes its handle.
  if (!s.thread || s.exited) {
    s.ending = false;
    s.exited = false;
    unsigned id = 0;
    s.thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &QueueProc, nullptr, 0, &id));
    s.threadId = id;
    if (!s.thread) {
      // No thread can be made: run the item here rather than lose a tear-down.
      std::function<void()> now = std::move(s.items.back());
      s.items.pop_back();
      ++s.done;
      ReleaseSRWLockExclusive(&s.lock);
      try {
        now();
      } catch (...) {
      }
      return;
    }
  }
  ReleaseSRWLockExclusive(&s.lock);
  WakeAllConditionVariable(&s.changed);
}

bool CTeardownQueue::IsQueueThread() {
  QueueState& s = State();
  AcquireSRWLockShared(&s.lock);
  const bool mine = s.thread && s.threadId == GetCurrentThreadId();
  ReleaseSRWLockShared(&s.lock);
  return mine;
}

bool CTeardownQueue::Drain(uint32_t timeoutMs) {
  if (IsQueueThread() || CCallbackGate::IsInsideAnyCallback()) return false;
  QueueState& s = State();
  AcquireSRWLockExclusive(&s.lock);
  const bool drained = WaitDoneLocked(s, s.posted, timeoutMs);
  ReleaseSRWLockExclusive(&s.lock);
  return drained;
}

bool CTeardownQueue::Shutdown(uint32_t timeoutMs) {
  if (IsQueueThread()) return false;
  QueueState& s = State();
  AcquireSRWLockExclusive(&s.lock);
  HANDLE thread = s.thread;
  if (!thread) {
    ReleaseSRWLockExclusive(&s.lock);
    return true;
  }
  s.ending = true;
  ReleaseSRWLockExclusive(&s.lock);
  WakeAllConditionVariable(&s.changed);
  if (WaitForSingleObject(thread, timeoutMs) != WAIT_OBJECT_0) return false;
  AcquireSRWLockExclusive(&s.lock);
  if (s.thread == thread) {
    s.thread = nullptr;
    s.threadId = 0;
    s.exited = false;
  }
  ReleaseSRWLockExclusive(&s.lock);
  CloseHandle(thread);
  return true;
}

}  // namespace vantrel
