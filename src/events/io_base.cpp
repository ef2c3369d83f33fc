#include "events/io_base.h"

#include <windows.h>

#include "events/io_states.h"

namespace vantrel {

namespace {

constexpr uint32_t kStopPollMs = 20;

}  // namespace

CIOBase::CIOBase(IDriver* driver) : driver_(driver), inputThread_(driver), outputThread_(driver) {
  inputThread_.Bind(this, &CIOBase::GetInputStatesWrapper);
  inputThread_.SetPeriod(kInputPollMs);
  inputThread_.SetTickAtStart(true);
  outputThread_.Bind(this, &CIOBase::ProcessOutputItem);
}

CIOBase::~CIOBase() {
  // The derived class has stopped both threads already; this only covers a derived class that
  // forgot, before the members they use go.
  inputThread_.JoinThread(driver_->GetDeviceInfo().timeout);
  outputThread_.StopQueueThread(driver_->GetDeviceInfo().timeout);
}

void* CIOBase::ScalarDeletingDestructor(unsigned int flags) {
  if (flags & 1) {
    delete this;
  } else {
    this->~CIOBase();
  }
  return this;
}

bool CIOBase::SetCallback(ICaptureIOCallback* callback) {
  if (!callback) return false;
  callback_.store(callback);
  return true;
}

bool CIOBase::EnsureIODescription() {
  CScopedLock guard(descriptionLock_);
  if (descriptionKnown_) return true;
  uint32_t inputs = 0, outputs = 0;
  if (!LoadIODescription(inputs, outputs)) return false;
  inputCount_ = inputs;
  outputCount_ = outputs;
  descriptionKnown_ = true;
  return true;
}

uint32_t CIOBase::GetNumberOfInputs() {
  EnsureIODescription();
  return inputCount_.load();
}

uint32_t CIOBase::GetNumberOfOutputs() {
  EnsureIODescription();
  return outputCount_.load();
}

std::string CIOBase::ThreadName(const char* kind) {
  return std::string(kind) + " thread (" + driver_->GetDriverName() + ": " + driver_->GetDeviceAddress() +
         ")";
}

bool CIOBase::StartIO() {
  // A second start restarts: the threads would otherwise refuse to start while still running.
  if (inputThread_.IsRunning() || outputThread_.IsRunning()) StopIO();
  if (!EnsureIODescription()) {
    driver_->Log(kLogError, "%s: The I/O description of device %s could not be read",
                 "vantrel::CIOBase::StartIO", driver_->GetDeviceAddress().c_str());
    return false;
  }
  ResetStates();
  PrepareDevice();

  bool result = true;
  const uint32_t outputs = outputCount_.load();
  if (outputs != 0) {
    const std::string name = ThreadName("Digital Output");
    if (outputThread_.StartQueueThread(name)) {
      // Whatever the relays were left in, the host starts from "all off".
      for (uint32_t i = 0; i < outputs; ++i) outputThread_.PostItem(new COutputState{i, kIOStateOff}, 0);
    } else {
      driver_->Log(kLogError, "%s: Starting of %s failed!", "vantrel::CIOBase::StartIO", name.c_str());
      result = false;
    }
  }
  if (inputCount_.load() != 0) {
    const std::string name = ThreadName("Digital Input");
    if (!inputThread_.StartThread(name)) {
      driver_->Log(kLogError, "%s: Starting of %s failed!", "vantrel::CIOBase::StartIO", name.c_str());
      result = false;
    }
  }
  return result;
}

bool CIOBase::StopThreadWithAbort(CBaseThread& thread, uint32_t bound) {
  // A request in progress holds the thread for up to the device time-out, and an abort that
  // lands just before the next request starts is lost: abort until the thread has ended.
  // A host that stops from inside its own callback runs on the thread: it cannot wait for itself.
  if (thread.IsCurrentThread()) return false;
  const DWORD started = GetTickCount();
  bool inTime = true;
  while (thread.IsRunning()) {
    AbortDevice();
    if (inTime && GetTickCount() - started >= bound) inTime = false;
    Sleep(kStopPollMs);
  }
  return inTime;
}

bool CIOBase::StopIO() {
  inputThread_.GetStopEvent().Set();
  outputThread_.GetStopEvent().Set();
  AbortDevice();
  const uint32_t bound = driver_->GetDeviceInfo().timeout;
  const bool outputStopped = StopThreadWithAbort(outputThread_, bound);
  outputThread_.StopQueueThread(0);
  if (!outputStopped)
    driver_->Log(kLogError, "%s: Stop Output thread failed! Device %s", "vantrel::CIOBase::StopIO",
                 driver_->GetDeviceAddress().c_str());
  const bool inputStopped = StopThreadWithAbort(inputThread_, bound);
  inputThread_.JoinThread(0);
  if (!inputStopped)
    driver_->Log(kLogError, "%s: Stop Input thread failed! Device %s", "vantrel::CIOBase::StopIO",
                 driver_->GetDeviceAddress().c_str());
  ResetStates();
  return outputStopped && inputStopped;
}

bool CIOBase::SetOutputState(uint32_t output, uint32_t state) {
  // Unknown is the driver's own state, and a change queued while no thread runs would be
  // carried out at some later start, after the host has forgotten it.
  if (!IsSettableOutputState(state) || output >= outputCount_.load() || !outputThread_.IsRunning())
    return false;
  return outputThread_.PostItem(new COutputState{output, state}, 0);
}

bool CIOBase::ApplyOutputState(uint32_t output, uint32_t state) {
  // Outside a run the device side would skip the write and report it done.
  if (!outputThread_.IsRunning()) return false;
  {
    CScopedLock guard(lock_);
    auto it = outputStates_.find(output);
    if (it == outputStates_.end()) return false;
    if (it->second == state) return true;
    it->second = state;
  }
  return SetOutputStateWrapper(output, state);
}

void CIOBase::ProcessOutputItem(uint32_t index, uint32_t state) { ApplyOutputState(index, state); }

bool CIOBase::SetOutputStateWrapper(uint32_t index, uint32_t state) {
  bool ok;
  {
    CScopedLock device(outputDeviceLock_);
    ok = SetOutputStateOnDevice(index, state);
  }
  if (ok) {
    CScopedLock guard(lock_);
    outputOK_ = true;
    return true;
  }
  bool firstOfRun;
  {
    CScopedLock guard(lock_);
    firstOfRun = outputOK_;
    outputOK_ = false;
  }
  ReportFailure();
  if (firstOfRun) {
    const DEVICE_INFO& device = driver_->GetDeviceInfo();
    driver_->Log(kLogWarning, "%s: Unable to change output state for device %s:%u (output index %u)",
                 "vantrel::CIOBase::SetOutputStateWrapper", device.address.c_str(), device.port, index);
  }
  return false;
}

void CIOBase::GetInputStatesWrapper() {
  if (GetInputStates(inputCount_.load())) {
    CScopedLock guard(lock_);
    inputOK_ = true;
    return;
  }
  if (IsInputStopRequested()) return;
  bool firstOfRun;
  {
    CScopedLock guard(lock_);
    firstOfRun = inputOK_;
    inputOK_ = false;
  }
  ReportFailure();
  if (firstOfRun) {
    const DEVICE_INFO& device = driver_->GetDeviceInfo();
    driver_->Log(kLogWarning, "%s: GetInputStates() method failed! Device %s:%hu",
                 "vantrel::CIOBase::GetInputStatesWrapper", device.address.c_str(),
                 static_cast<unsigned short>(device.port));
  }
}

void CIOBase::ReportFailure() {
  ResetStates();
  if (ICaptureIOCallback* callback = callback_.load()) {
    try {
      callback->OnIOFailed();
    } catch (...) {
    }
  }
}

void CIOBase::UpdateInputState(uint32_t index, uint32_t state) {
  {
    CScopedLock guard(lock_);
    auto it = inputStates_.find(index);
    if (it == inputStates_.end() || it->second == state) return;
    it->second = state;
  }
  if (ICaptureIOCallback* callback = callback_.load()) {
    try {
      callback->OnInputStateChanged(index, state);
    } catch (...) {
    }
  }
}

void CIOBase::ResetStates() {
  const uint32_t inputs = inputCount_.load();
  const uint32_t outputs = outputCount_.load();
  CScopedLock guard(lock_);
  for (uint32_t i = 0; i < outputs; ++i) outputStates_[i] = kIOStateUnknown;
  inputStates_.clear();
  for (uint32_t i = 0; i < inputs; ++i) inputStates_[i] = kIOStateUnknown;
}

}  // namespace vantrel
