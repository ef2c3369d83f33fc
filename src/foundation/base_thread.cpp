#include "foundation/base_thread.h"

#include <process.h>
#include <windows.h>

#include "foundation/debug_message.h"

namespace vantrel {

CBaseThread::CBaseThread(IDebugMessage* logger) : logger_(logger) {}

CBaseThread::~CBaseThread() { StopThread(2000); }

bool CBaseThread::IsRunning() const { return handle_ && WaitForSingleObject(handle_, 0) == WAIT_TIMEOUT; }

bool CBaseThread::IsCurrentThread() const {
  uint32_t id = threadId_.load();
  return id != 0 && id == GetCurrentThreadId();
}

bool CBaseThread::StartThread(const std::string& name) {
  stopEvent_.Reset();
  if (IsRunning()) return false;
  if (handle_) {
    CloseHandle(handle_);
    handle_ = nullptr;
  }
  threadId_.store(0);
  name_ = name;
  unsigned id = 0;
  uintptr_t h = _beginthreadex(nullptr, 0, &CBaseThread::Trampoline, this, 0, &id);
  if (h == 0) return false;
  // The new thread also records its id first thing, so a JoinThread it makes on itself is
  // recognised even if it runs before this line.
  threadId_.store(id);
  handle_ = reinterpret_cast<void*>(h);
  return true;
}

unsigned __stdcall CBaseThread::Trampoline(void* param) {
  auto* self = static_cast<CBaseThread*>(param);
  self->threadId_.store(GetCurrentThreadId());
  // An exception escaping a thread would end the host's process; the thread ends instead.
  try {
    self->ThreadProc();
  } catch (...) {
  }
  return 0;
}

bool CBaseThread::JoinThread(uint32_t timeoutMs) { return WaitForEnd(timeoutMs, false); }

bool CBaseThread::StopThread(uint32_t timeoutMs) { return WaitForEnd(timeoutMs, true); }

bool CBaseThread::WaitForEnd(uint32_t timeoutMs, bool terminate) {
  stopEvent_.Set();
  if (!handle_) return true;
  if (IsCurrentThread()) return false;
  const char* method = terminate ? "vantrel::CBaseThread::StopThread" : "vantrel::CBaseThread::JoinThread";
  if (WaitForSingleObject(handle_, timeoutMs) == WAIT_TIMEOUT) {
    const unsigned id = threadId_.load();
    // A thread that overruns its bound is waited out, never terminated: it may be inside a
    // host callback or hold a lock (of the driver, the host or the C runtime), and killing it
    // would leave those held for the life of the process.
    if (logger_)
      logger_->Log(kLogWarning, "%s: Thread (id=%u, name\"%s\") was not stopped during %lu milliseconds",
                   method, id, name_.c_str(), static_cast<unsigned long>(timeoutMs));
    WaitForSingleObject(handle_, INFINITE);
    if (logger_)
      logger_->Log(kLogInfo, "%s: Thread (id=%u, name\"%s\") was stopped correctly", method, id,
                   name_.c_str());
  }
  CloseHandle(handle_);
  handle_ = nullptr;
  return true;
}

}  // namespace vantrel
