// Making and deleting driver objects for the exported factories, and the process-wide count of
// live ones, whose last delete shuts the RCP+ client library down.
//
// The count is a plain variable: the host creates and deletes drivers from one thread at a time.
#pragma once

#include <cstdint>

#include "vantrel/ipcapture/ip_capture_driver.h"

namespace vantrel {

// Counts one more driver, then makes it; null when that fails (the count stays raised, and the
// matching delete of the null pointer lowers it again).
ipcapture::IIPCaptureDriverEx5* CreateDriverInstance();
// Lowers the count when it is not 0; when that makes it 0, shuts the RCP+ library down and
// waits 100 ms for its threads to leave. Then destroys `driver` when it is not null.
void DeleteDriverInstance(ipcapture::IIPCaptureDriver* driver);
int32_t DriverInstanceCount();

}  // namespace vantrel
