// The capability query: one thread per query loads a camera's properties and saves them into
// the host's result object, then reports the end through the host's callback.
//
// Start and the stop of the destructor are serialised by `lock_`; Terminate may come from any
// thread at any time and only aborts the properties object.
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

  // Terminates the query, waits for its thread (twice the time-out, then ends it by force) and
  // releases the properties. Safe to call again and from the query thread's callbacks.
  void Stop();

  static bool IsValidAddress(const std::string& address);

 protected:
  const uint8_t flag_;
  DEVICE_INFO device_;

 private:
  static unsigned __stdcall ThreadMain(void* self);
  void Fail(uint32_t status, const std::string& message);
  std::shared_ptr<CBaseCameraProperties> CurrentProperties();

  ipcapture::IIPCapabilityQueryCallback* const callback_;  // the host's
  ipcapture::IIPCapabilityResult* result_ = nullptr;       // the host's, per query
  std::shared_ptr<CBaseCameraProperties> properties_;      // guarded by lock_
  CRecursiveLock lock_;
  void* thread_ = nullptr;  // guarded by lock_
  uint32_t threadId_ = 0;
};

class CBoschCapabilityQueryModule : public CCapabilityQueryModule {
 public:
  using CCapabilityQueryModule::CCapabilityQueryModule;
  ~CBoschCapabilityQueryModule() override { Stop(); }
  std::shared_ptr<CBaseCameraProperties> CreateCameraProperties() override;
};

}  // namespace vantrel
