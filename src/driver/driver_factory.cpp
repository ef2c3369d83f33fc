#include "driver/driver_factory.h"

#include <windows.h>

#include <new>

#include "driver/lumivar_ip_capture_driver.h"
#include "rcpplus/rcpplus_system.h"

namespace vantrel {
namespace {

int32_t instanceCount = 0;

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
  if (instanceCount != 0 && --instanceCount == 0) {
    rcpplus::System::dispatchCallback();
    rcpplus::System::terminate();
    Sleep(100);
  }
  if (driver) driver->ScalarDeletingDestructor(1);
}

int32_t DriverInstanceCount() { return instanceCount; }

}  // namespace vantrel
