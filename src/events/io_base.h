// The digital I/O object the host reaches through ICaptureIOApi: an input thread that polls
// every input state and reports changes, an output thread that carries out output changes one
// at a time, and the state maps between them. The camera side is the derived class's.
//
// Threads: host calls arrive on host threads; the input thread polls, the output thread
// switches. `lock_` guards the maps and the OK flags; the host callback is never called under it.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>

#include "core/driver_services.h"
#include "foundation/output_handler.h"
#include "foundation/recursive_lock.h"
#include "foundation/tick_thread.h"
#include "vantrel/ipcapture/io_api.h"

namespace vantrel {

// One queued output change.
class COutputState {
 public:
  uint32_t index = 0;  // 0-based
  uint32_t state = 0;
};

class CIOBase : public ICaptureIOApi {
 public:
  static constexpr uint32_t kInputPollMs = 2000;

  // Declared first so that they follow the host's slots directly (8 to 11).
  virtual bool SetOutputStateOnDevice(uint32_t index, uint32_t state) = 0;
  // Reads every input and reports each through UpdateInputState; false when the device failed.
  virtual bool GetInputStates(uint32_t inputCount) = 0;
  virtual void PrepareDevice() = 0;
  // Ends the device requests in progress (any thread).
  virtual void AbortDevice() = 0;

  explicit CIOBase(IDriver* driver);
  // A derived class must call StopIO in its own destructor: the threads run its code.
  virtual ~CIOBase();
  CIOBase(const CIOBase&) = delete;
  CIOBase& operator=(const CIOBase&) = delete;

  // ICaptureIOApi
  void* ScalarDeletingDestructor(unsigned int flags) override;
  bool SetCallback(ICaptureIOCallback* callback) override;
  bool StartIO() override;
  bool StopIO() override;
  uint32_t GetNumberOfInputs() override;
  uint32_t GetNumberOfOutputs() override;
  bool SetOutputState(uint32_t output, uint32_t state) override;
  bool ApplyOutputState(uint32_t output, uint32_t state) override;

 protected:
  // The counts of the device's I/O description; false when it is not known (yet). Called
  // before every start and by the count accessors.
  virtual bool LoadIODescription(uint32_t& inputCount, uint32_t& outputCount) = 0;

  // Stores the state of one input and tells the host when it changed.
  void UpdateInputState(uint32_t index, uint32_t state);
  bool IsInputStopRequested() { return inputThread_.IsStopRequested(); }
  bool IsOutputStopRequested() { return outputThread_.IsStopRequested(); }

  IDriver* const driver_;  // borrowed: outlives this object

 private:
  void GetInputStatesWrapper();
  void ProcessOutputItem(uint32_t index, uint32_t state);
  bool SetOutputStateWrapper(uint32_t index, uint32_t state);
  void ResetStates();
  void ReportFailure();
  // Stops one thread within `bound` ms while aborting the device requests that hold it.
  bool StopThreadWithAbort(CBaseThread& thread, uint32_t bound);
  bool EnsureIODescription();
  std::string ThreadName(const char* kind);

  TTickThread<CIOBase> inputThread_;
  TOutputHandler<CIOBase, COutputState> outputThread_;
  std::atomic<ICaptureIOCallback*> callback_{nullptr};
  CRecursiveLock lock_;
  std::map<uint32_t, uint32_t> inputStates_;   // guarded by lock_
  std::map<uint32_t, uint32_t> outputStates_;  // guarded by lock_
  bool inputOK_ = true;                        // guarded by lock_
  bool outputOK_ = true;                       // guarded by lock_
  // The description is read over the network, so it has a lock of its own that no thread
  // holds while it reports to the host.
  CRecursiveLock descriptionLock_;
  bool descriptionKnown_ = false;  // guarded by descriptionLock_
  std::atomic<uint32_t> inputCount_{0};
  std::atomic<uint32_t> outputCount_{0};
  // Host threads may switch an output directly while the output thread does; the device
  // connection takes one request at a time.
  CRecursiveLock outputDeviceLock_;
};

}  // namespace vantrel
