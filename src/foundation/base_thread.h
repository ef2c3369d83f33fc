// Base of every long-running activity of the driver. A thread stops cooperatively when its
// manual-reset stop event is set; JoinThread and StopThread wait a bounded time, log a thread
// that overruns it and wait it out. A thread is never terminated: it may be in host code.
//
// StartThread, JoinThread and StopThread are meant to be called by the object's owner, one
// call at a time. A derived class must stop its thread in its own destructor: by the time this
// base destructor runs, the derived part that ThreadProc uses is already gone.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "foundation/event.h"

namespace vantrel {

class IDebugMessage;

class CBaseThread {
 public:
  // `logger` may be null (nothing is logged); it must outlive this object.
  explicit CBaseThread(IDebugMessage* logger);
  virtual ~CBaseThread();

  CBaseThread(const CBaseThread&) = delete;
  CBaseThread& operator=(const CBaseThread&) = delete;

  // False while a previous thread still runs, or when no thread could be created.
  virtual bool StartThread(const std::string& name);
  // Sets the stop event and waits for the thread, without limit once `timeoutMs` has passed.
  // False when called from the thread itself (it cannot wait for its own end).
  virtual bool JoinThread(uint32_t timeoutMs);
  // As JoinThread (kept for the callers that name the stop of their own thread).
  virtual bool StopThread(uint32_t timeoutMs);

  bool IsRunning() const;
  const std::string& GetThreadName() const { return name_; }
  uint32_t GetThreadId() const { return threadId_.load(); }
  bool IsCurrentThread() const;

  // Set or abandoned now: the thread is asked to end.
  bool IsStopRequested() { return stopEvent_.Wait(0); }
  CManualEvent& GetStopEvent() { return stopEvent_; }

 protected:
  // Runs on the new thread; returning ends it.
  virtual void ThreadProc() = 0;

  IDebugMessage* GetLogger() const { return logger_; }

 private:
  static unsigned __stdcall Trampoline(void* self);
  bool WaitForEnd(uint32_t timeoutMs, bool terminate);

  std::string name_;
  void* handle_ = nullptr;
  std::atomic<uint32_t> threadId_{0};
  IDebugMessage* const logger_;  // borrowed: the driver outlives its threads
  CManualEvent stopEvent_;
};

}  // namespace vantrel
