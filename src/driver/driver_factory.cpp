#include "driver/driver_factory.h"

#include <windows.h>

#include <new>

#include "driver/lumivar_ip_capture_driver.h"
#include "foundation/teardown_queue.h"
#include "rcpplus/rcpplus_system.h"

namespace vantrel {
namespace {

int32_t instanceCount = 0;
// Every item is a stop that its driver's Close already waited for; this only ends the thread.
constexpr uint32_t kShutdownMs = 2000;

}  // namespace

ipcapture::IIPCaptureDriverEx5* CreateDriverInstance() {
  ++instanceCount;
  // Nothing may leave the library as an exception; a driver that cannot be made is null.
  try {
    return new CLumivarIPCaptureDriver();
  } catch (...) {
    return nullptr;
  }
}

void DeleteDriverInstance(ipcapture::IIPCaptureDriver* driver) {
  const bool last = instanceCount != 0 && --instanceCount == 0;
  if (last) {
    rcpplus::System::dispatchCallback();
    rcpplus::System::terminate();
    Sleep(100);
  }
  if (driver) driver->ScalarDeletingDestructor(1);
  // The host may unload the library once the last driver is gone: no thread of ours may run
  // its code any more. The driver's Close already drained the queue, so this only ends it.
  // A thread that does not end is left running rather than terminated (it may be in host
  // code); with every driver gone there is nobody to log that to.
  if (last) CTeardownQueue::Shutdown(kShutdownMs);
}

int32_t DriverInstanceCount() { return instanceCount; }

}  // namespace vantrel
