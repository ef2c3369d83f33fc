#include "foundation/event.h"

#include <windows.h>

namespace vantrel {

CEvent::CEvent(bool manualReset) {
  handle_ = CreateEventA(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr);
}

CEvent::~CEvent() {
  if (handle_) CloseHandle(handle_);
}

bool CEvent::Set() { return handle_ && SetEvent(handle_); }

bool CEvent::Reset() { return handle_ && ResetEvent(handle_); }

bool CLatchedEvent::Set() {
  if (latched_.load(std::memory_order_acquire)) return true;
  latched_.store(true, std::memory_order_release);
  return CEvent::Set();
}

bool CLatchedEvent::Reset() {
  // The kernel event first: a Set racing with this either finds the latch still up (and its
  // signal is the one this Reset clears) or sets the event again after the latch falls.
  const bool ok = CEvent::Reset();
  latched_.store(false, std::memory_order_release);
  return ok;
}

bool CEvent::Wait(uint32_t timeoutMs) {
  if (!handle_) return false;
  DWORD r = WaitForSingleObject(handle_, timeoutMs);
  return r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
}

int CEvent::WaitForEvents(CEvent* const* events, uint32_t count, uint32_t timeoutMs) {
  if (!events || count < 1 || count > 63) return -1;
  HANDLE handles[63];
  for (uint32_t i = 0; i < count; ++i) {
    // A missing handle would make the whole wait fail in the kernel anyway; refusing early keeps
    // the caller from waiting on garbage.
    if (!events[i] || !events[i]->handle_) return -1;
    handles[i] = events[i]->handle_;
  }
  DWORD r = WaitForMultipleObjects(count, handles, FALSE, timeoutMs);
  if (r < WAIT_OBJECT_0 + count) return static_cast<int>(r - WAIT_OBJECT_0);
  if (r >= WAIT_ABANDONED_0 && r < WAIT_ABANDONED_0 + count) return static_cast<int>(r - WAIT_ABANDONED_0);
  return -1;
}

}  // namespace vantrel
