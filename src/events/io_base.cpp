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
  if (descriptionKnown_.load()) return true;
  // One reader at a time (the description connection takes one request); the others go on
  // with the counts unknown instead of waiting for a camera that may not answer.
  if (descriptionLoading_.exchange(true)) return false;
  uint32_t inputs = 0, outputs = 0;
  const bool loaded = LoadIODescription(inputs, outputs);
  if (loaded) {
    inputCount_ = inputs;
    outputCount_ = outputs;
    descriptionKnown_ = true;
  }
  descriptionLoading_ = false;
  return loaded;
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
  ResetStates();
  gate_.Open();
  setupDone_ = false;
  setupOK_ = true;

  // Nothing here talks to the camera: the input thread reads the description (until the camera
  // answers, for one that boots after the recorder), sets the device up and switches the
  // relays off. Until it knows better, the output thread is started unless the camera is known
  // to have no relay, and the input thread always (it does the set-up).
  bool result = true;
  const bool known = descriptionKnown_.load();
  if (!known || outputCount_.load() != 0) {
    const std::string name = ThreadName("Digital Output");
    if (!outputThread_.StartQueueThread(name)) {
      driver_->Log(kLogError, "%s: Starting of %s failed!", "vantrel::CIOBase::StartIO", name.c_str());
      result = false;
    }
  }
  const std::string name = ThreadName("Digital Input");
  if (!inputThread_.StartThread(name)) {
    driver_->Log(kLogError, "%s: Starting of %s failed!", "vantrel::CIOBase::StartIO", name.c_str());
    result = false;
  }
  return result;
}

bool CIOBase::SetUpDevice() {
  if (setupDone_) return true;
  if (!EnsureIODescription()) {
    if (IsInputStopRequested()) return false;
    if (setupOK_) {
      setupOK_ = false;
      driver_->Log(kLogWarning,
                   "%s: The I/O description of device %s could not be read; asking again every %u ms",
                   "vantrel::CIOBase::StartIO", driver_->GetDeviceAddress().c_str(), kInputPollMs);
    }
    ReportFailure();
    return false;
  }
  ResetStates();
  PrepareDevice();
  if (IsInputStopRequested()) return false;
  // Whatever the relays were left in, the host starts from "all off".
  const uint32_t outputs = outputCount_.load();
  for (uint32_t i = 0; i < outputs; ++i) outputThread_.PostItem(new COutputState{i, kIOStateOff}, 0);
  if (!setupOK_)
    driver_->Log(kLogInfo, "%s: The I/O description of device %s was read: %u inputs, %u outputs",
                 "vantrel::CIOBase::StartIO", driver_->GetDeviceAddress().c_str(), inputCount_.load(),
                 outputs);
  setupDone_ = true;
  return true;
}

bool CIOBase::StopThreadWithAbort(CBaseThread& thread, uint32_t bound) {
  // A host that stops from inside its own callback runs on the thread: it cannot wait for itself.
  if (thread.IsCurrentThread()) return false;
  // The abort is kept by the connections, so a request started after it fails at once; the
  // wait covers a request the platform only ends at its own time-out.
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
  outputWriteDone_.Set();
  // No callback starts from here on; one in flight on another thread is the host's time and is
  // waited out. False when called from inside a callback: that thread ends after it returns.
  const bool outsideCallbacks = gate_.Close();
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
  return outsideCallbacks && outputStopped && inputStopped;
}

bool CIOBase::SetOutputState(uint32_t output, uint32_t state) {
  // Unknown is the driver's own state, and a change queued while no thread runs would be
  // carried out at some later start, after the host has forgotten it.
  if (!IsSettableOutputState(state) || output >= outputCount_.load() || !outputThread_.IsRunning())
    return false;
  return outputThread_.PostItem(new COutputState{output, state}, 0);
}

bool CIOBase::BeginOutputWrite(std::unique_lock<CRecursiveLock>& guard) {
  guard.lock();
  while (outputWriting_) {
    guard.unlock();
    // Bounded by the other writer's request, which StopIO aborts.
    outputWriteDone_.Wait(kStopPollMs);
    if (IsOutputStopRequested()) return false;
    guard.lock();
  }
  outputWriting_ = true;
  return true;
}

void CIOBase::EndOutputWrite() {
  {
    CScopedLock guard(lock_);
    outputWriting_ = false;
  }
  outputWriteDone_.Set();
}

bool CIOBase::ApplyOutputState(uint32_t output, uint32_t state) {
  // Outside a run the device side would skip the write and report it done.
  if (!outputThread_.IsRunning()) return false;
  std::unique_lock<CRecursiveLock> guard(lock_, std::defer_lock);
  if (!BeginOutputWrite(guard)) return false;
  auto it = outputStates_.find(output);
  if (it == outputStates_.end() || it->second == state) {
    const bool known = it != outputStates_.end();
    guard.unlock();
    EndOutputWrite();
    return known;
  }
  guard.unlock();
  // The record changes only once the camera has switched: until then it keeps the state in
  // force, and any other request waits for this one.
  const bool ok = SetOutputStateOnDevice(output, state);
  if (ok) {
    CScopedLock record(lock_);
    auto again = outputStates_.find(output);
    if (again != outputStates_.end()) again->second = state;
  }
  EndOutputWrite();
  // Reported once the writer flag is back: the host may switch an output from its callback.
  return SetOutputStateWrapper(output, ok);
}

void CIOBase::ProcessOutputItem(uint32_t index, uint32_t state) { ApplyOutputState(index, state); }

bool CIOBase::SetOutputStateWrapper(uint32_t index, bool written) {
  if (written) {
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
  if (!SetUpDevice()) return;
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
  ICaptureIOCallback* callback = callback_.load();
  if (!callback) return;
  CCallbackGate::Scope scope(gate_);
  if (!scope) return;
  try {
    callback->OnIOFailed();
  } catch (...) {
  }
}

void CIOBase::UpdateInputState(uint32_t index, uint32_t state) {
  {
    CScopedLock guard(lock_);
    auto it = inputStates_.find(index);
    if (it == inputStates_.end() || it->second == state) return;
    it->second = state;
  }
  ICaptureIOCallback* callback = callback_.load();
  if (!callback) return;
  CCallbackGate::Scope scope(gate_);
  if (!scope) return;
  try {
    callback->OnInputStateChanged(index, state);
  } catch (...) {
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
