// Win32 event wrappers. Threads of the driver stop cooperatively on a manual-reset event and
// queue threads wake on an auto-reset one; both are plain unnamed kernel events.
#pragma once

#include <atomic>
#include <cstdint>

namespace vantrel {

class CEvent {
 public:
  explicit CEvent(bool manualReset = false);
  virtual ~CEvent();

  CEvent(const CEvent&) = delete;
  CEvent& operator=(const CEvent&) = delete;

  // False only when the event could not be created (no handle) or the call fails.
  virtual bool Set();
  virtual bool Reset();
  // True when signalled or abandoned within the time-out (0xFFFFFFFF waits without limit).
  bool Wait(uint32_t timeoutMs);
  // A zero-time wait: the event is signalled now (and, for auto-reset, consumed).
  bool IsSet() { return Wait(0); }

  // The raw HANDLE, for callers that wait on it together with handles of their own.
  void* GetHandle() const { return handle_; }

  // Waits for any of `count` events (1 to 63). Returns the index of the event that ended the
  // wait, or -1 on time-out, failure, a bad count, or a null or handle-less event in the array.
  static int WaitForEvents(CEvent* const* events, uint32_t count, uint32_t timeoutMs);

 private:
  void* handle_ = nullptr;
};

class CManualEvent : public CEvent {
 public:
  CManualEvent() : CEvent(true) {}
};

// A manual-reset event set from a hot path (every packet, every frame) and waited on or reset
// seldom: a Set while it is already set skips the kernel call, which under Wine is a round trip
// to its server. Waiters see exactly what they would see with a plain event, as long as the
// handle is changed only through this object.
class CLatchedEvent : public CManualEvent {
 public:
  bool Set() override;
  bool Reset() override;

 private:
  // True from a Set until the next Reset; may lag the kernel state by one racing Set, which only
  // costs that Set its kernel call, never a lost signal.
  std::atomic<bool> latched_{false};
};

inline int WaitForEvents(CEvent* const* events, uint32_t count, uint32_t timeoutMs) {
  return CEvent::WaitForEvents(events, count, timeoutMs);
}

inline constexpr uint32_t kWaitInfinite = 0xFFFFFFFFu;

}  // namespace vantrel
