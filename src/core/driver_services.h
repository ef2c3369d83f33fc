// The driver-services interface every channel, handler and parser holds. Internal: not host
// facing, so ordinary C++ virtual destructors are fine here.
#pragma once

#include <cstdint>
#include <string>

#include "core/device_info.h"
#include "foundation/debug_message.h"

namespace vantrel {

namespace ipcapture {
class IIPFrameAllocator;
}
class CEdgeStorageTask;

// Value GetParameterInt yields for a missing or non-numeric parameter.
inline constexpr int32_t kParameterMissing = static_cast<int32_t>(0x80000000u);

class IDriver : public IDebugMessage {
 public:
  virtual std::string GetDriverName() = 0;
  virtual std::string GetHostDirectory() = 0;
  virtual DEVICE_INFO& GetDeviceInfo() = 0;
  virtual void GetHostIdPair(uint32_t* hostId1, uint32_t* hostId2) = 0;
  virtual ipcapture::IIPFrameAllocator* GetFrameAllocator() = 0;
  virtual bool GetVideoStandard() = 0;
  virtual uint32_t GetDefaultVideoFormat() = 0;
  virtual uint32_t GetChannelCount() = 0;
  virtual CEdgeStorageTask* GetEdgeStorageTask() = 0;
  // Empty when absent or exactly "(none)".
  virtual std::string GetParameter(uint32_t number) = 0;
  // Decimal value, or kParameterMissing when absent or not a number.
  virtual int32_t GetParameterInt(uint32_t number) = 0;
  // The configured line override when not 0, else channel + 1.
  virtual uint32_t GetCameraLine(uint32_t channel) = 0;
};

}  // namespace vantrel
