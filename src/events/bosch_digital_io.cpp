#include "events/bosch_digital_io.h"

#include "events/io_states.h"
#include "foundation/text_format.h"

namespace vantrel {

CBoschDigitalIO::CBoschDigitalIO(IDriver* driver)
    : CIOBase(driver),
      inputRcp_(driver->GetDeviceInfo()),
      outputRcp_(driver->GetDeviceInfo()),
      descriptionRcp_(driver->GetDeviceInfo()) {}

CBoschDigitalIO::~CBoschDigitalIO() { StopIO(); }

bool CBoschDigitalIO::LoadIODescription(uint32_t& inputCount, uint32_t& outputCount) {
  // An abort is kept until reset: the one of an earlier StopIO must not fail this start.
  descriptionRcp_.ResetAbort();
  bool inputsOk = false, outputsOk = false;
  const uint32_t inputs = descriptionRcp_.GetRcpULong(kInputCountCommand, &inputsOk);
  if (!inputsOk) return false;
  const uint32_t outputs = descriptionRcp_.GetRcpULong(kOutputCountCommand, &outputsOk);
  if (!outputsOk) return false;
  if (inputs > kMaxIOCount || outputs > kMaxIOCount) {
    driver_->Log(kLogError, "%s: Device %s reports %u inputs and %u outputs; at most %u of each are served",
                 "vantrel::CBoschDigitalIO::LoadIODescription", driver_->GetDeviceAddress().c_str(), inputs,
                 outputs, kMaxIOCount);
    return false;
  }
  inputCount = inputs;
  outputCount = outputs;
  return true;
}

bool CBoschDigitalIO::GetInputStates(uint32_t inputCount) {
  uint32_t answered = 0, asked = 0;
  for (uint32_t i = 0; i < inputCount; ++i) {
    if (IsInputStopRequested()) return true;
    bool ok = false;
    const uint32_t value = inputRcp_.GetRcpFlag(kInputStateCommand, i + 1, &ok);
    ++asked;
    if (ok) ++answered;
    UpdateInputState(i, InputStateFromFlag(ok, value));
  }
  // One silent input is shown as unknown; a camera that answers none is unreachable.
  return asked == 0 || answered != 0;
}

bool CBoschDigitalIO::SetOutputStateOnDevice(uint32_t index, uint32_t state) {
  if (IsOutputStopRequested()) return true;
  return outputRcp_.SetRcpFlag(kOutputStateCommand, OutputFlagForState(state), index + 1).IsSuccess();
}

void CBoschDigitalIO::PrepareDevice() {
  inputRcp_.ResetAbort();
  outputRcp_.ResetAbort();
  // Runs on the host's thread inside StartIO: a camera that answers nothing at all (not even an
  // error) would otherwise hold the host for one time-out per request, so the set-up ends there
  // and the threads report the failure as they poll.
  const uint32_t inputs = GetNumberOfInputs();
  for (uint32_t i = 0; i < inputs; ++i) {
    if (inputRcp_.SendRcpData(FormatText("0x81000a01%u1030001", i), i + 1)) continue;
    if (!inputRcp_.SetRcpOctet(kInputSetupFallbackCommand, 1, i + 1).IsSuccess() &&
        inputRcp_.GetLastStatusCode() == 0)
      return;
  }
  const uint32_t outputs = GetNumberOfOutputs();
  for (uint32_t j = 1; j <= outputs; ++j) {
    if (!outputRcp_.SetRcpOctet(kOutputSetupCommand1, 0, j).IsSuccess() &&
        outputRcp_.GetLastStatusCode() == 0)
      return;
    outputRcp_.SetRcpOctet(kOutputSetupCommand2, 1, j);
  }
}

void CBoschDigitalIO::AbortDevice() {
  inputRcp_.Abort();
  outputRcp_.Abort();
  descriptionRcp_.Abort();
}

}  // namespace vantrel
