// Alarm inputs and relay outputs of this camera family, over RCP+. Inputs and outputs each have
// their own connection, used by their own thread; the I/O description (how many of each the
// camera has) is read over a third one from whichever host thread asks first.
#pragma once

#include "control/rcp_http.h"
#include "events/io_base.h"

namespace vantrel {

class CBoschDigitalIO : public CIOBase {
 public:
  static constexpr uint16_t kInputStateCommand = 0x01C0;
  static constexpr uint16_t kOutputStateCommand = 0x01C1;
  static constexpr uint16_t kInputCountCommand = 0x01DB;
  static constexpr uint16_t kOutputCountCommand = 0x01DC;
  static constexpr uint16_t kInputSetupFallbackCommand = 0x008D;
  static constexpr uint16_t kOutputSetupCommand1 = 0x0048;
  static constexpr uint16_t kOutputSetupCommand2 = 0x0093;
  // More than any camera of the family has; a larger answer is taken for garbage.
  static constexpr uint32_t kMaxIOCount = 64;

  explicit CBoschDigitalIO(IDriver* driver);
  ~CBoschDigitalIO() override;

  bool SetOutputStateOnDevice(uint32_t index, uint32_t state) override;
  bool GetInputStates(uint32_t inputCount) override;
  void PrepareDevice() override;
  void AbortDevice() override;

 protected:
  bool LoadIODescription(uint32_t& inputCount, uint32_t& outputCount) override;

 private:
  CRcpHttp inputRcp_;
  CRcpHttp outputRcp_;
  CRcpHttp descriptionRcp_;
};

}  // namespace vantrel
