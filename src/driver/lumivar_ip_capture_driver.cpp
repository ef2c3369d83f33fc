#include "driver/lumivar_ip_capture_driver.h"

#include <new>

#include "ptz/ptz_handler.h"

namespace vantrel {

CLumivarIPCaptureDriver::CLumivarIPCaptureDriver() = default;

CLumivarIPCaptureDriver::~CLumivarIPCaptureDriver() {
  edgeStorageTask_.Stop();
  Close();
}

bool CLumivarIPCaptureDriver::CreateIOHandler() {
  if (!ioHandler_) {
    // Creation point of CBoschDigitalIO (this driver). Until it exists the driver has no I/O
    // object, which is not a failure: GetIOApi hands out null.
  }
  return true;
}

bool CLumivarIPCaptureDriver::CreatePTZHandler() {
  if (!ptzHandler_) ptzHandler_.Reset(new (std::nothrow) CBoschPTZHandler(this, channelCount_));
  return static_cast<bool>(ptzHandler_);
}

bool CLumivarIPCaptureDriver::Open(ipcapture::IIPDebugSink* debugSink,
                                   ipcapture::IIPFrameAllocator* frameAllocator,
                                   ipcapture::IIPOpenParams* params) {
  if (!CIPCaptureDriver::Open(debugSink, frameAllocator, params)) return false;

  // An opened device has proved reachable: give slow cameras more time from now on.
  deviceInfo_.timeout = 10000;
  deviceInfo_.signalTimeout = 10000;

  const int32_t videoStandard = GetParameterInt(1);
  if (videoStandard != kParameterMissing) videoStandard_ = videoStandard != 0;

  // A de-warp mode of exactly 0 switches the fish-eye line off; otherwise a positive line wins.
  if (GetParameterInt(9) != 0) {
    const int32_t line = GetParameterInt(8);
    lineOverride_ = line > 0 ? static_cast<uint32_t>(line) : 0;
  }

  LogDriverOpened(GetParameter(2));
  return true;
}

uint32_t CLumivarIPCaptureDriver::GetCameraLine(uint32_t channel) {
  return lineOverride_ != 0 ? lineOverride_ : channel + 1;
}

}  // namespace vantrel
