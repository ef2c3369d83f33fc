// The driver object the factories make: the generic driver plus this camera family's handlers,
// the video standard and the camera line override for fish-eye encoders.
#pragma once

#include "driver/ip_capture_driver.h"

namespace vantrel {

class CLumivarIPCaptureDriver : public CIPCaptureDriver {
 public:
  CLumivarIPCaptureDriver();
  ~CLumivarIPCaptureDriver() override;

  bool CreateIOHandler() override;
  bool CreatePTZHandler() override;

  bool Open(ipcapture::IIPDebugSink* debugSink, ipcapture::IIPFrameAllocator* frameAllocator,
            ipcapture::IIPOpenParams* params) override;
  uint32_t GetCameraLine(uint32_t channel) override;

 private:
  uint32_t lineOverride_ = 0;  // camera line for every channel; 0 = none. Fixed at Open.
};

}  // namespace vantrel
