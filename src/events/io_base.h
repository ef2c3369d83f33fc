// The digital I/O object the host reaches through ICaptureIOApi: an input thread that polls
// every input state and reports changes, an output thread that carries out output changes one
// at a time, and the state maps between them. The camera side is the derived class's.
//
// Threads: host calls arrive on host threads; the input thread sets the device up (asking for
// the I/O description until the camera answers, so a camera that boots after the recorder still
// gets its inputs and relays) and then polls; the output thread switches. StartIO never talks
// to the camera. `lock_` guards the maps and the OK flags and is never held across a request or
// a host callback; every host callback runs inside `gate_`, which StopIO closes.
//
// Outputs are switched by one thread at a time (a writer flag, not a lock, so nobody holds a
// lock while the camera answers): the decision, the write to the camera and the record of the
// state in force happen in that order for each request, so the record never says "off" while
// the relay is on. The flag also keeps the one output connection to one request at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "core/driver_services.h"
#include "foundation/callback_gate.h"
#include "foundation/event.h"
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
  // The input thread's first job: the I/O description (asked again every tick until the camera
  // answers), the device set-up and the "all off" of the relays. False while not done.
  bool SetUpDevice();
  void ProcessOutputItem(uint32_t index, uint32_t state);
  // The bookkeeping of one output write: the OK flag, and on failure the host's report and the
  // log line (once per run of failures). Returns `written`.
  bool SetOutputStateWrapper(uint32_t index, bool written);
  void ResetStates();
  void ReportFailure();
  // Stops one thread within `bound` ms while aborting the device requests that hold it.
  bool StopThreadWithAbort(CBaseThread& thread, uint32_t bound);
  bool EnsureIODescription();
  std::string ThreadName(const char* kind);
  // Waits until no other thread switches an output, then takes the writer flag; false when the
  // output side stopped meanwhile. Called without lock_, returns with it held on success.
  bool BeginOutputWrite(std::unique_lock<CRecursiveLock>& guard);
  void EndOutputWrite();

  TTickThread<CIOBase> inputThread_;
  TOutputHandler<CIOBase, COutputState> outputThread_;
  std::atomic<ICaptureIOCallback*> callback_{nullptr};
  CCallbackGate gate_;
  CRecursiveLock lock_;
  std::map<uint32_t, uint32_t> inputStates_;   // guarded by lock_
  std::map<uint32_t, uint32_t> outputStates_;  // guarded by lock_
  bool inputOK_ = true;                        // guarded by lock_
  bool outputOK_ = true;                       // guarded by lock_
  bool outputWriting_ = false;                 // an output write is in flight; guarded by lock_
  CEvent outputWriteDone_{false};              // set when a writer flag is given back
  bool setupDone_ = false;                     // input thread only (reset by StartIO)
  bool setupOK_ = true;                        // input thread only: one log line per run
  // The description is read over the network from whichever thread asks first; the others do
  // not wait for it (they see the counts as 0 until it is known).
  std::atomic<bool> descriptionKnown_{false};
  std::atomic<bool> descriptionLoading_{false};
  std::atomic<uint32_t> inputCount_{0};
  std::atomic<uint32_t> outputCount_{0};
};

}  // namespace vantrel
