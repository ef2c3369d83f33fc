// The capability-query entry points. The Init/Start/Terminate/Uninit family works on one
// module kept for the whole process; the host may call them from any of its threads.
#include <mutex>
#include <new>

#include "driver/capability_query_module.h"
#include "vantrel/ipcapture/capability_query.h"

namespace ipc = vantrel::ipcapture;

namespace {

std::mutex slotLock;
vantrel::CCapabilityQueryModule* slot = nullptr;  // guarded by slotLock

}  // namespace

extern "C" {

uint32_t InitCapabilityQuery(ipc::IIPCapabilityQueryCallback* callback, uint8_t flag) {
  std::lock_guard<std::mutex> guard(slotLock);
  if (slot) return 0;
  slot = new (std::nothrow) vantrel::CBoschCapabilityQueryModule(callback, flag);
  return slot ? 1 : 0;
}

uint32_t StartCapabilityQuery(const char* address, uint16_t port, const char* user, const char* password,
                              ipc::IIPCapabilityResult* result) {
  if (!address || !user || !password) return 0;
  std::lock_guard<std::mutex> guard(slotLock);
  if (!slot) return 0;
  return slot->Start(address, port, user, password, result);
}

uint32_t TerminateCapabilityQuery() {
  std::lock_guard<std::mutex> guard(slotLock);
  if (slot) slot->Terminate();
  return 1;
}

uint32_t UninitCapabilityQuery() {
  vantrel::CCapabilityQueryModule* module = nullptr;
  {
    // Taken out first: the stop may wait for the query, whose callback may call in here.
    std::lock_guard<std::mutex> guard(slotLock);
    module = slot;
    slot = nullptr;
  }
  if (module) module->ScalarDeletingDestructor(1);
  return 1;
}

ipc::IIPCapabilityQuery* CreateCapabilityQueryModule(ipc::IIPCapabilityQueryCallback* callback,
                                                     uint8_t flag) {
  return new (std::nothrow) vantrel::CBoschCapabilityQueryModule(callback, flag);
}

void DeleteCapabilityQueryModule(ipc::IIPCapabilityQuery* module) {
  if (module) module->ScalarDeletingDestructor(1);
}

}  // extern "C"
