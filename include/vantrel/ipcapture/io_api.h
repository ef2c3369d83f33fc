// The digital I/O object as the host sees it (alarm inputs and relay outputs) and the host's
// callback it reports to. Layout is the host's (MSVC): slot 0 is ONE vtable entry, the scalar
// deleting destructor, so these classes declare no C++ destructor. Never reorder or insert.
//
// States, inputs and outputs alike: 0 unknown (after start, stop or a failure), 1 inactive or
// off, 2 active or on. Indexes are 0-based.
#pragma once

#include <cstdint>

namespace vantrel {

// The host's sink for input changes and failures; called on the driver's I/O threads.
class ICaptureIOCallback {
 public:
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;        // slot 0
  virtual void OnInputStateChanged(uint32_t input, uint32_t state) = 0;  // slot 1
  // Slot 2: a read or a switch failed; every state is unknown again until the next good poll.
  virtual void OnIOFailed() = 0;

 protected:
  ~ICaptureIOCallback() = default;
};

class ICaptureIOApi {
 public:
  // Slot 0: the driver owns the object; the host never deletes it.
  virtual void* ScalarDeletingDestructor(unsigned int flags) = 0;
  // Slot 1: false for null. Set it before StartIO; the callback must live until StopIO.
  virtual bool SetCallback(ICaptureIOCallback* callback) = 0;
  virtual bool StartIO() = 0;                 // slot 2
  virtual bool StopIO() = 0;                  // slot 3
  virtual uint32_t GetNumberOfInputs() = 0;   // slot 4
  virtual uint32_t GetNumberOfOutputs() = 0;  // slot 5
  // Slot 6: queues the change and returns at once; false when it could not be queued.
  virtual bool SetOutputState(uint32_t output, uint32_t state) = 0;
  // Slot 7: switches the output on the calling thread, only when the state differs from the one
  // last set; true when the state is in force afterwards.
  virtual bool ApplyOutputState(uint32_t output, uint32_t state) = 0;

 protected:
  ~ICaptureIOApi() = default;
};

}  // namespace vantrel
