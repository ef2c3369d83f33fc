// The capability query: one thread per query loads a camera's properties and saves them into
// the host's result object, then reports the end through the host's callback.
//
// One query per module: Start is refused while the query's thread handle is held, and only the
// stop of the destructor (DeleteCapabilityQueryModule, UninitCapabilityQuery) releases it.
// Terminate may come from any thread at any time and aborts the properties object, which
// cancels the request in flight.
//
// The stop never terminates the thread: it aborts the network, closes the callback gate (the
// host's callback already running is waited out, none starts later) and waits for the thread,
// which the abort ends within one request time-out. A delete from inside the query's own
// callback unlinks nothing the thread still uses: it is handed to the tear-down queue, which
// frees the module once the callback has returned and the thread has ended.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "capabilities/camera_properties.h"
#include "core/device_info.h"
#include "foundation/callback_gate.h"
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

  // Aborts the query, waits for a host callback in flight and for the thread, and releases the
  // thread handle and the properties. Safe to call again; on the query thread it does not wait.
  void Stop();

  static bool IsValidAddress(const std::string& address);

 protected:
  const uint8_t flag_;
  DEVICE_INFO device_;

 private:
  static unsigned __stdcall ThreadMain(void* self);
  void Fail(uint32_t status, const std::string& message);
  std::shared_ptr<CBaseCameraProperties> CurrentProperties();
  bool OnQueryThread();

  ipcapture::IIPCapabilityQueryCallback* const callback_;  // the host's
  ipcapture::IIPCapabilityResult* result_ = nullptr;       // the host's, per query
  std::shared_ptr<CBaseCameraProperties> properties_;      // guarded by lock_
  CRecursiveLock lock_;
  CCallbackGate gate_;      // every call into the host's callback and result object
  void* thread_ = nullptr;  // guarded by lock_
  uint32_t threadId_ = 0;   // guarded by lock_
};

class CBoschCapabilityQueryModule : public CCapabilityQueryModule {
 public:
  using CCapabilityQueryModule::CCapabilityQueryModule;
  ~CBoschCapabilityQueryModule() override { Stop(); }
  std::shared_ptr<CBaseCameraProperties> CreateCameraProperties() override;
};

}  // namespace vantrel
