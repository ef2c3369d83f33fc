// The capability query: one thread per query loads a camera's properties and saves them into
// the host's result object, then reports the end through the host's callback.
//
// One query per module: Start is refused while the query's thread handle is held, and only the
// stop of the destructor (DeleteCapabilityQueryModule, UninitCapabilityQuery) releases it.
// Terminate may come from any thread at any time and aborts the properties object, which
// cancels the request in flight.
//
// The stop never terminates the thread and never waits out the network: it aborts the request
// in flight, gives the thread a moment to end with its failure report (on Windows closing the
// request breaks it at once), then closes the callback gate (a host callback already running is
// waited out, none starts later) and lets go of the thread. What the thread works on (the
// properties, the gate, the host's objects) is shared with it, and it holds a reference to this
// library, so a request the platform does not break at once (Wine's synchronous WinHTTP notices
// a closed request only at the reply or its time-out) finishes on the thread alone, which then
// releases the library. The same makes a delete from inside the query's own callback safe: the
// module goes, the callback returns into state the thread still owns.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "capabilities/camera_properties.h"
#include "core/device_info.h"
#include "foundation/recursive_lock.h"
#include "vantrel/ipcapture/capability_query.h"

namespace vantrel {

class CCapabilityQueryModule : public ipcapture::IIPCapabilityQuery {
 public:
  // The callback is the host's and must outlive the module. `flag` is handed to the properties
  // (the host takes high frame rates raw).
  CCapabilityQueryModule(ipcapture::IIPCapabilityQueryCallback* callback, uint8_t flag);
  virtual ~CCapabilityQueryModule();

  void* ScalarDeletingDestructor(unsigned int flags) override;  // slot 0
  uint32_t Start(const char* address, uint16_t port, const char* user, const char* password,
                 ipcapture::IIPCapabilityResult* result) override;              // slot 1
  void Terminate() override;                                                    // slot 2
  virtual std::shared_ptr<CBaseCameraProperties> CreateCameraProperties() = 0;  // slot 3
  virtual void QueryBody();                                                     // slot 4

  // Aborts the query, waits at most kStopGraceMs for its thread and then for a host callback in
  // flight, and releases the thread handle and the query's state. Safe to call again; on the
  // query thread it does not wait.
  void Stop();

  static constexpr uint32_t kStopGraceMs = 500;

  static bool IsValidAddress(const std::string& address);

 protected:
  const uint8_t flag_;
  DEVICE_INFO device_;

 private:
  struct Run;
  static unsigned __stdcall ThreadMain(void* run);
  static void Execute(Run& run);
  static void Fail(Run& run, uint32_t status, const std::string& message);
  std::shared_ptr<Run> CurrentRun();

  ipcapture::IIPCapabilityQueryCallback* const callback_;  // the host's
  CRecursiveLock lock_;
  std::shared_ptr<Run> run_;  // the current query, shared with its thread; guarded by lock_
  void* thread_ = nullptr;    // guarded by lock_
  uint32_t threadId_ = 0;     // guarded by lock_
};

class CBoschCapabilityQueryModule : public CCapabilityQueryModule {
 public:
  using CCapabilityQueryModule::CCapabilityQueryModule;
  ~CBoschCapabilityQueryModule() override { Stop(); }
  std::shared_ptr<CBaseCameraProperties> CreateCameraProperties() override;
};

}  // namespace vantrel
