// The I/O object's own rules, against a scripted device: what reaches the host and when, what
// reaches the device, and how failures and stops behave.
#include "events/io_base.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "events/io_states.h"
#include "foundation/event.h"
#include "support/fake_driver.h"

namespace vantrel::testing {
namespace {

struct Change {
  uint32_t input;
  uint32_t state;
};

class RecordingIOCallback final : public ICaptureIOCallback {
 public:
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  void OnInputStateChanged(uint32_t input, uint32_t state) override {
    {
      std::lock_guard<std::mutex> guard(mutex);
      changes.push_back({input, state});
    }
    changed.Set();
  }
  void OnIOFailed() override { ++failures; }

  std::vector<Change> Changes() {
    std::lock_guard<std::mutex> guard(mutex);
    return changes;
  }
  // Waits until at least `count` changes arrived.
  bool WaitForChanges(size_t count, uint32_t timeoutMs) {
    const DWORD start = GetTickCount();
    while (Changes().size() < count) {
      if (GetTickCount() - start > timeoutMs) return false;
      changed.Wait(50);
    }
    return true;
  }

  std::mutex mutex;
  std::vector<Change> changes;
  std::atomic<int> failures{0};
  CEvent changed{false};
};

// A device whose inputs and answers the test sets; every output write is recorded. A hanging
// device blocks each request until it is aborted.
class ScriptedIO final : public CIOBase {
 public:
  ScriptedIO(IDriver* driver, uint32_t inputs, uint32_t outputs)
      : CIOBase(driver), inputs_(inputs), outputs_(outputs), inputValues(inputs, 0) {}
  ~ScriptedIO() override { StopIO(); }

  bool SetOutputStateOnDevice(uint32_t index, uint32_t state) override {
    Hang();
    std::lock_guard<std::mutex> guard(mutex);
    writes.push_back({index, state});
    return !failOutputs;
  }
  bool GetInputStates(uint32_t count) override {
    ++polls;
    Hang();
    if (failInputs) return false;
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t value;
      {
        std::lock_guard<std::mutex> guard(mutex);
        value = inputValues[i];
      }
      UpdateInputState(i, InputStateFromFlag(true, value));
    }
    return true;
  }
  void PrepareDevice() override { ++prepares; }
  void AbortDevice() override { aborted.Set(); }

  void SetInput(uint32_t i, uint32_t value) {
    std::lock_guard<std::mutex> guard(mutex);
    inputValues[i] = value;
  }
  std::vector<Change> Writes() {
    std::lock_guard<std::mutex> guard(mutex);
    return writes;
  }
  bool WaitForWrites(size_t count, uint32_t timeoutMs) {
    const DWORD start = GetTickCount();
    while (Writes().size() < count) {
      if (GetTickCount() - start > timeoutMs) return false;
      Sleep(10);
    }
    return true;
  }

  std::atomic<bool> hang{false};
  std::atomic<bool> failOutputs{false};
  std::atomic<bool> failInputs{false};
  std::atomic<int> polls{0};
  std::atomic<int> prepares{0};
  std::atomic<bool> describes{true};  // false: a camera still booting
  std::atomic<int> descriptionReads{0};
  CManualEvent aborted;

 protected:
  bool LoadIODescription(uint32_t& inputs, uint32_t& outputs) override {
    ++descriptionReads;
    if (!describes) return false;
    inputs = inputs_;
    outputs = outputs_;
    return true;
  }

 private:
  // Like a request to a camera that never answers: only an abort ends it.
  void Hang() {
    if (!hang) return;
    aborted.Reset();
    aborted.Wait(60000);
  }

  uint32_t inputs_, outputs_;
  std::mutex mutex;
  std::vector<uint32_t> inputValues;
  std::vector<Change> writes;
};

class IOBaseTest : public ::testing::Test {
 protected:
  void SetUp() override { driver.info.timeout = 1000; }

  int LinesContaining(const std::string& text) {
    int n = 0;
    for (const auto& l : driver.Lines()) n += l.text.find(text) != std::string::npos;
    return n;
  }

  FakeDriver driver;
  RecordingIOCallback callback;
};

TEST_F(IOBaseTest, FirstPollReportsEveryInputThenOnlyChangesWithinOneTick) {
  ScriptedIO io(&driver, 3, 0);
  io.SetInput(1, 3);
  ASSERT_TRUE(io.SetCallback(&callback));
  EXPECT_FALSE(io.SetCallback(nullptr));
  ASSERT_TRUE(io.StartIO());
  ASSERT_TRUE(callback.WaitForChanges(3, 1000)) << "the first poll runs at once";
  EXPECT_EQ(io.prepares.load(), 1) << "the device is set up before the first poll";
  auto changes = callback.Changes();
  EXPECT_EQ(changes[0].input, 0u);
  EXPECT_EQ(changes[0].state, kIOStateOff);
  EXPECT_EQ(changes[1].state, kIOStateOn) << "any value above 0 is active";
  EXPECT_EQ(changes[2].state, kIOStateOff);

  // Unchanged inputs stay quiet; one change is reported by the next tick.
  const int polls = io.polls.load();
  while (io.polls.load() < polls + 1) Sleep(20);
  EXPECT_EQ(callback.Changes().size(), 3u);
  io.SetInput(2, 1);
  ASSERT_TRUE(callback.WaitForChanges(4, CIOBase::kInputPollMs + 1000));
  EXPECT_EQ(callback.Changes()[3].input, 2u);
  EXPECT_EQ(callback.Changes()[3].state, kIOStateOn);

  // After a stop every state is unknown again, so the next start reports all of them anew.
  EXPECT_TRUE(io.StopIO());
  ASSERT_TRUE(io.StartIO());
  EXPECT_TRUE(callback.WaitForChanges(7, 1000));
}

TEST_F(IOBaseTest, RelaysStartOffAndSwitchOncePerChange) {
  ScriptedIO io(&driver, 0, 2);
  EXPECT_FALSE(io.SetOutputState(0, kIOStateOn)) << "nothing is queued before the start";
  ASSERT_TRUE(io.StartIO()) << "no inputs: only the output thread is needed";
  ASSERT_TRUE(io.WaitForWrites(2, 2000));
  EXPECT_EQ(io.Writes()[0].state, kIOStateOff);
  EXPECT_EQ(io.Writes()[1].input, 1u);

  // Host requests: repeats of the state in force send nothing.
  const struct {
    uint32_t output, state;
    bool queued;
  } requests[] = {
      {0, kIOStateOn, true},
      {0, kIOStateOn, true},
      {1, kIOStateOff, true},
      {0, kIOStateOff, true},
      {2, kIOStateOn, false},  // no such relay
      {1, 7, false},           // not a state the host may ask for
      {1, kIOStateUnknown, false},
  };
  for (const auto& r : requests)
    EXPECT_EQ(io.SetOutputState(r.output, r.state), r.queued) << r.output << "/" << r.state;
  ASSERT_TRUE(io.WaitForWrites(4, 2000));
  Sleep(200);
  const auto writes = io.Writes();
  ASSERT_EQ(writes.size(), 4u);
  EXPECT_EQ(writes[2].input, 0u);
  EXPECT_EQ(writes[2].state, kIOStateOn);
  EXPECT_EQ(writes[3].state, kIOStateOff);

  // The direct slot works on the calling thread under the same rule.
  EXPECT_TRUE(io.ApplyOutputState(1, kIOStateOff));
  EXPECT_EQ(io.Writes().size(), 4u);
  EXPECT_TRUE(io.ApplyOutputState(1, kIOStateOn));
  EXPECT_EQ(io.Writes().size(), 5u);
  EXPECT_FALSE(io.ApplyOutputState(5, kIOStateOn));

  // After the stop nothing is switched, and nothing is claimed to be.
  EXPECT_TRUE(io.StopIO());
  EXPECT_FALSE(io.ApplyOutputState(1, kIOStateOff));
  EXPECT_FALSE(io.SetOutputState(1, kIOStateOff));
  EXPECT_EQ(io.Writes().size(), 5u);
}

TEST_F(IOBaseTest, FailuresReachTheHostEveryTimeAndTheLogOncePerRun) {
  ScriptedIO io(&driver, 0, 1);
  ASSERT_TRUE(io.SetCallback(&callback));
  ASSERT_TRUE(io.StartIO());
  ASSERT_TRUE(io.WaitForWrites(1, 2000));
  io.failOutputs = true;
  // Alternating requests: after a failure the state is unknown, so every request is sent.
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(io.ApplyOutputState(0, i % 2 ? kIOStateOff : kIOStateOn));
  EXPECT_TRUE(io.ApplyOutputState(0, kIOStateOn) == false) << "a failed relay is retried, not taken as set";
  EXPECT_EQ(callback.failures.load(), 5);
  const std::string text = "Unable to change output state for device 127.0.0.1:80 (output index 0)";
  EXPECT_EQ(LinesContaining(text), 1);
  io.failOutputs = false;
  EXPECT_TRUE(io.ApplyOutputState(0, kIOStateOn));
  io.failOutputs = true;
  EXPECT_FALSE(io.ApplyOutputState(0, kIOStateOff));
  EXPECT_EQ(LinesContaining(text), 2) << "a success starts a new run";
}

TEST_F(IOBaseTest, InputFailuresResetTheStatesAndAreLoggedOncePerRun) {
  ScriptedIO io(&driver, 1, 0);
  io.SetInput(0, 1);
  ASSERT_TRUE(io.SetCallback(&callback));
  io.failInputs = true;
  ASSERT_TRUE(io.StartIO());
  while (io.polls.load() < 2) Sleep(20);
  EXPECT_GE(callback.failures.load(), 1);
  EXPECT_EQ(LinesContaining("GetInputStates() method failed! Device 127.0.0.1:80"), 1);
  EXPECT_TRUE(callback.Changes().empty());
  io.failInputs = false;
  ASSERT_TRUE(callback.WaitForChanges(1, CIOBase::kInputPollMs + 1000));
  EXPECT_EQ(callback.Changes()[0].state, kIOStateOn);
}

// A host that stops the I/O from inside its callback must not wait for the thread it runs on.
class StoppingCallback final : public ICaptureIOCallback {
 public:
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  void OnInputStateChanged(uint32_t, uint32_t) override {
    if (io && !called.exchange(true)) result = io->StopIO() ? 1 : 0;
    done.Set();
  }
  void OnIOFailed() override {}
  ICaptureIOApi* io = nullptr;
  std::atomic<bool> called{false};
  std::atomic<int> result{-1};
  CManualEvent done;
};

TEST_F(IOBaseTest, StopFromTheHostCallbackReturns) {
  ScriptedIO io(&driver, 2, 0);
  StoppingCallback stopping;
  stopping.io = &io;
  ASSERT_TRUE(io.SetCallback(&stopping));
  ASSERT_TRUE(io.StartIO());
  ASSERT_TRUE(stopping.done.Wait(3000));
  EXPECT_EQ(stopping.result.load(), 0) << "the input thread cannot have ended yet";
}

TEST_F(IOBaseTest, StopDuringAHangingDeviceEndsWithinTheTimeOut) {
  for (const bool hangOutputs : {false, true}) {
    ScriptedIO io(&driver, 2, 2);
    io.hang = true;
    ASSERT_TRUE(io.StartIO());
    Sleep(300);  // both threads are inside a request now
    if (hangOutputs) io.SetOutputState(1, kIOStateOn);
    const DWORD start = GetTickCount();
    EXPECT_TRUE(io.StopIO());
    EXPECT_LT(GetTickCount() - start, driver.info.timeout);
    EXPECT_EQ(LinesContaining("thread failed!"), 0);
  }
}

TEST_F(IOBaseTest, ACameraThatBootsLateIsAskedUntilItDescribesItself) {
  ScriptedIO io(&driver, 2, 1);
  io.describes = false;
  io.SetInput(1, 1);
  ASSERT_TRUE(io.SetCallback(&callback));
  const DWORD start = GetTickCount();
  ASSERT_TRUE(io.StartIO()) << "the camera may still be booting";
  EXPECT_LT(GetTickCount() - start, 500u) << "StartIO does not ask the camera";
  while (callback.failures.load() < 2) Sleep(20);
  EXPECT_EQ(io.prepares.load(), 0);
  EXPECT_FALSE(io.SetOutputState(0, kIOStateOn)) << "no relay is known yet";
  EXPECT_EQ(LinesContaining("The I/O description of device 127.0.0.1:80 could not be read"), 1);

  io.describes = true;
  ASSERT_TRUE(callback.WaitForChanges(2, CIOBase::kInputPollMs + 1000));
  EXPECT_EQ(callback.Changes()[1].state, kIOStateOn);
  EXPECT_EQ(io.prepares.load(), 1);
  ASSERT_TRUE(io.WaitForWrites(1, 2000)) << "the relay is switched off once known";
  EXPECT_EQ(io.Writes()[0].state, kIOStateOff);
  EXPECT_TRUE(io.SetOutputState(0, kIOStateOn));
  ASSERT_TRUE(io.WaitForWrites(2, 2000));
  EXPECT_TRUE(io.StopIO());
}

TEST_F(IOBaseTest, RacingSwitchesLeaveTheRecordAsTheRelayIs) {
  ScriptedIO io(&driver, 0, 1);
  ASSERT_TRUE(io.StartIO());
  ASSERT_TRUE(io.WaitForWrites(1, 2000));
  for (int round = 0; round < 8; ++round) {
    const uint32_t wanted = round % 2 ? kIOStateOff : kIOStateOn;
    const uint32_t other = round % 2 ? kIOStateOn : kIOStateOff;
    // One switch hangs in the camera while two more host threads ask for the relay.
    io.hang = true;
    std::thread first([&] { io.ApplyOutputState(0, wanted); });
    Sleep(100);
    std::thread second([&] { io.ApplyOutputState(0, other); });
    std::thread third([&] { io.ApplyOutputState(0, wanted); });
    Sleep(100);
    io.hang = false;
    io.aborted.Set();
    first.join();
    second.join();
    third.join();
    const auto writes = io.Writes();
    const uint32_t relay = writes.back().state;
    // The state the relay is in is never sent again; a record that disagrees would send it (or,
    // worse, skip the other state).
    EXPECT_TRUE(io.ApplyOutputState(0, relay));
    ASSERT_EQ(io.Writes().size(), writes.size())
        << "round " << round << ": the record disagrees with the relay";
  }
  EXPECT_TRUE(io.StopIO());
}

}  // namespace
}  // namespace vantrel::testing
