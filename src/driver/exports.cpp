// The library's entry points. The names are exported undecorated through the module definition
// file; the library entry point is the runtime's own.
#include "vantrel/ipcapture/exports.h"

#include "driver/driver_factory.h"
#include "foundation/hand_over_clock.h"

using vantrel::CreateDriverInstance;
using vantrel::DeleteDriverInstance;
namespace ipc = vantrel::ipcapture;

extern "C" {

ipc::IIPCaptureDriver* CreateIPCapture() { return CreateDriverInstance(); }
ipc::IIPCaptureDriverEx* CreateIPCaptureEx() { return CreateDriverInstance(); }
ipc::IIPCaptureDriverEx2* CreateIPCaptureEx2() { return CreateDriverInstance(); }
ipc::IIPCaptureDriverEx3* CreateIPCaptureEx3() { return CreateDriverInstance(); }
ipc::IIPCaptureDriverEx4* CreateIPCaptureEx4() { return CreateDriverInstance(); }
ipc::IIPCaptureDriverEx5* CreateIPCaptureEx5() { return CreateDriverInstance(); }

void DeleteIPCapture(ipc::IIPCaptureDriver* driver) { DeleteDriverInstance(driver); }
void DeleteIPCaptureEx(ipc::IIPCaptureDriverEx* driver) { DeleteDriverInstance(driver); }
void DeleteIPCaptureEx2(ipc::IIPCaptureDriverEx2* driver) { DeleteDriverInstance(driver); }
void DeleteIPCaptureEx3(ipc::IIPCaptureDriverEx3* driver) { DeleteDriverInstance(driver); }
void DeleteIPCaptureEx4(ipc::IIPCaptureDriverEx4* driver) { DeleteDriverInstance(driver); }
void DeleteIPCaptureEx5(ipc::IIPCaptureDriverEx5* driver) { DeleteDriverInstance(driver); }

}  // extern "C"

// For the latency benchmark only (not part of the host interface): called inside the host's
// frame callback, the performance counter value at which the driver read the datagram that
// completed this frame; 0 outside a callback or for a source that does not record it.
extern "C" uint64_t LumivarDebugFrameArrivalTicks() { return vantrel::GetHandOverArrival(); }
// For the benchmark only: the UDP receive threads' Winsock calls so far, summed over the
// process, in the order waits, event queries, reads, datagrams, empty reads; `count` entries of
// `out` are written. The number of entries written.
extern "C" uint32_t LumivarDebugUdpCalls(uint64_t* out, uint32_t count) {
  const uint32_t kinds = static_cast<uint32_t>(vantrel::UdpCall::kCount);
  if (!out) return 0;
  uint32_t i = 0;
  for (; i < count && i < kinds; ++i) out[i] = vantrel::GetUdpCallCount(static_cast<vantrel::UdpCall>(i));
  return i;
}
