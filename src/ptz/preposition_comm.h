// What a preset list needs from the head it belongs to. Implemented by the PTZ communication
// object; the calls send synchronously on the caller's thread.
#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

class IPrepositionComm {
 public:
  // `index` is the list's slot; the head gets slot + the protocol's first preset number.
  virtual bool StorePreset(uint32_t index) = 0;
  virtual bool GoToPreset(uint32_t index, int32_t value) = 0;
  // True without sending when the protocol has no way to clear a preset.
  virtual bool ClearPreset(uint32_t index) = 0;
  virtual std::string GetCameraAddress() = 0;
  virtual std::string GetHostDirectory() = 0;

 protected:
  virtual ~IPrepositionComm() = default;
};

}  // namespace vantrel
