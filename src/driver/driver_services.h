// The driver-services interface every channel, handler and parser holds. Internal: not host
// facing, so ordinary C++ virtual destructors are fine here.
#pragma once

#include <cstdint>
#include <string>

#include "driver/device_info.h"

namespace vantrel {

namespace ipcapture {
class IIPFrameAllocator;
}
class CEdgeStorageTask;

// Log levels: 1 error, 2 warning, 3 information, 4 detail (never delivered), 100 driver opened.
enum LogLevel : uint32_t {
  kLogError = 1,
  kLogWarning = 2,
  kLogInfo = 3,
  kLogDetail = 4,
  kLogDriverOpened = 100,
};

class IDebugMessage {
 public:
  virtual ~IDebugMessage() = default;
  // Address followed by ":%hu" and the port.
  virtual std::string GetDeviceAddress() = 0;
  // printf-style; formats begin "%s: " with the fully qualified method name first. Re-entrant.
  virtual void Log(uint32_t level, const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 3, 4)))
#endif
      = 0;
};

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
