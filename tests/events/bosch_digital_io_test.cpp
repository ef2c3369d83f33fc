// The camera side of the I/O object against simulated cameras: the I/O description, the
// set-up sequence, input reads, relay writes, failures and stops during hanging requests.
#include "events/bosch_digital_io.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "events/io_states.h"
#include "support/camsim_control.h"
#include "support/fake_driver.h"

namespace vantrel::testing {
namespace {

class IOCallback final : public ICaptureIOCallback {
 public:
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  void OnInputStateChanged(uint32_t input, uint32_t state) override {
    std::lock_guard<std::mutex> guard(mutex);
    if (states.size() <= input) states.resize(input + 1, 0xFF);
    states[input] = state;
    ++changes;
  }
  void OnIOFailed() override { ++failures; }

  uint32_t State(uint32_t input) {
    std::lock_guard<std::mutex> guard(mutex);
    return input < states.size() ? states[input] : 0xFF;
  }
  bool WaitForState(uint32_t input, uint32_t state, uint32_t timeoutMs) {
    const DWORD start = GetTickCount();
    while (State(input) != state) {
      if (GetTickCount() - start > timeoutMs) return false;
      Sleep(20);
    }
    return true;
  }

  std::mutex mutex;
  std::vector<uint32_t> states;
  std::atomic<int> changes{0};
  std::atomic<int> failures{0};
};

// Request time-out of the object's connections. Like the driver, which raises the device
// time-outs only after Open made the I/O object, the stop bound is the larger time-out: under Wine
// an aborted request only ends at its own time-out.
constexpr uint32_t kRequestTimeoutMs = 1500;
constexpr uint32_t kDeviceTimeoutMs = 3000;

class BoschDigitalIOTest : public ::testing::Test {
 protected:
  std::unique_ptr<CBoschDigitalIO> MakeIO() {
    driver.info.timeout = kRequestTimeoutMs;
    auto io = std::make_unique<CBoschDigitalIO>(&driver);
    driver.info.timeout = kDeviceTimeoutMs;
    return io;
  }
  void Use(const char* address) {
    camsim = std::make_unique<CamsimControl>(address);
    ASSERT_TRUE(camsim->Reset()) << "camsim is not running";
    driver.info.address = address;
    driver.info.user = "service";
    driver.info.password = "camsim";
  }
  void TearDown() override {
    if (camsim) camsim->Reset();
  }
  std::vector<std::string> RequestsWith(const std::string& text) {
    std::vector<std::string> found;
    for (const auto& r : camsim->Requests())
      if (r.find(text) != std::string::npos) found.push_back(r);
    return found;
  }
  // Occurrences in the simulator's state, whose JSON is read without its layout blanks.
  size_t Count(std::string haystack, const std::string& needle) {
    haystack.erase(
        std::remove_if(haystack.begin(), haystack.end(), [](char c) { return c == ' ' || c == '\n'; }),
        haystack.end());
    size_t n = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) ++n;
    return n;
  }
  bool WaitForRequests(const std::string& text, size_t count, uint32_t timeoutMs) {
    const DWORD start = GetTickCount();
    while (RequestsWith(text).size() < count) {
      if (GetTickCount() - start > timeoutMs) return false;
      Sleep(50);
    }
    return true;
  }
  int LinesContaining(const std::string& text) {
    int n = 0;
    for (const auto& l : driver.Lines()) n += l.text.find(text) != std::string::npos;
    return n;
  }

  std::unique_ptr<CamsimControl> camsim;
  FakeDriver driver;
  IOCallback callback;
};

TEST_F(BoschDigitalIOTest, DescriptionAndSetUpFollowTheCameraModel) {
  const struct {
    const char* camera;
    uint32_t inputs, outputs;
    const char* inputSetup;  // request expected for input 1
  } cases[] = {
      {"127.0.0.51", 4, 2, "command=0x09A5&type=P_OCTET&direction=WRITE&num=1&payload=0x81000a0101030001"},
      {"127.0.0.52", 1, 0, "command=0x008D&type=T_OCTET&direction=WRITE&num=1&payload=0x01"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.camera);
    Use(c.camera);
    auto owned = MakeIO();
    CBoschDigitalIO& io = *owned;
    EXPECT_EQ(io.GetNumberOfInputs(), c.inputs);
    EXPECT_EQ(io.GetNumberOfOutputs(), c.outputs);
    ASSERT_TRUE(io.SetCallback(&callback));
    ASSERT_TRUE(io.StartIO()) << "no relays needs no output thread";
    // The input thread sets the device up before its first poll.
    ASSERT_TRUE(WaitForRequests("command=0x01C0", c.inputs, 5000));
    EXPECT_EQ(RequestsWith(c.inputSetup).size(), 1u);
    EXPECT_EQ(RequestsWith("command=0x09A5").size() + RequestsWith("command=0x008D").size(),
              c.inputs + (c.inputs == 1 ? 1 : 0))
        << "the fallback only follows a refusal";
    for (uint32_t j = 1; j <= c.outputs; ++j) {
      const std::string num = "&num=" + std::to_string(j) + "&";
      auto first = RequestsWith("command=0x0048&type=T_OCTET&direction=WRITE" + num + "payload=0x00");
      auto second = RequestsWith("command=0x0093&type=T_OCTET&direction=WRITE" + num + "payload=0x01");
      EXPECT_EQ(first.size(), 1u) << j;
      EXPECT_EQ(second.size(), 1u) << j;
    }
    // Every relay is switched off once at start.
    if (c.outputs) {
      ASSERT_TRUE(WaitForRequests("command=0x01C1", c.outputs, 3000));
    }
    EXPECT_EQ(Count(camsim->State(), "\"value\":0,\"time\""), c.outputs);
    EXPECT_TRUE(io.StopIO());
  }
}

TEST_F(BoschDigitalIOTest, InputReadsBecomeStatesAndChangesArriveWithinOneTick) {
  Use("127.0.0.51");
  ASSERT_TRUE(camsim->Set("input=2&value=3"));
  ASSERT_TRUE(camsim->Set("rcp_error=0x01C0/3&code=10"));
  auto owned = MakeIO();
  CBoschDigitalIO& io = *owned;
  ASSERT_TRUE(io.SetCallback(&callback));
  ASSERT_TRUE(io.StartIO());
  ASSERT_TRUE(callback.WaitForState(3, kIOStateOff, 3000));
  EXPECT_EQ(callback.State(0), kIOStateOff);
  EXPECT_EQ(callback.State(1), kIOStateOn);
  EXPECT_EQ(callback.State(2), 0xFFu) << "an unanswered input stays unknown and is not reported";
  EXPECT_EQ(callback.failures.load(), 0) << "one silent input does not fail the poll";

  ASSERT_TRUE(camsim->Set("input=1&value=1"));
  const DWORD start = GetTickCount();
  ASSERT_TRUE(callback.WaitForState(0, kIOStateOn, CIOBase::kInputPollMs + 1500));
  EXPECT_LE(GetTickCount() - start, CIOBase::kInputPollMs + 1500);
  const int changes = callback.changes.load();
  Sleep(CIOBase::kInputPollMs + 200);
  EXPECT_EQ(callback.changes.load(), changes) << "unchanged inputs stay quiet";
  EXPECT_TRUE(io.StopIO());
}

TEST_F(BoschDigitalIOTest, RelaysSwitchOncePerChangeAndFailuresAreReported) {
  Use("127.0.0.51");
  auto owned = MakeIO();
  CBoschDigitalIO& io = *owned;
  ASSERT_TRUE(io.SetCallback(&callback));
  ASSERT_TRUE(io.StartIO());
  ASSERT_TRUE(WaitForRequests("command=0x01C1", 2, 3000));
  for (uint32_t state : {kIOStateOn, kIOStateOn, kIOStateOn, kIOStateOff, kIOStateOff})
    EXPECT_TRUE(io.SetOutputState(1, state));
  ASSERT_TRUE(WaitForRequests("command=0x01C1", 4, 3000));
  Sleep(300);
  const auto writes = RequestsWith("command=0x01C1&type=F_FLAG&direction=WRITE&num=2");
  ASSERT_EQ(writes.size(), 3u) << "off at start, on, off";
  EXPECT_NE(writes[1].find("payload=1"), std::string::npos);
  EXPECT_NE(writes[2].find("payload=0"), std::string::npos);
  const std::string state = camsim->State();
  EXPECT_EQ(Count(state, "\"output\":2,\"value\":1"), 1u);

  ASSERT_TRUE(camsim->Set("rcp_error=0x01C1&code=10"));
  EXPECT_FALSE(io.ApplyOutputState(0, kIOStateOn));
  EXPECT_FALSE(io.ApplyOutputState(0, kIOStateOn)) << "a failed relay is tried again";
  EXPECT_EQ(callback.failures.load(), 2);
  EXPECT_EQ(LinesContaining("Unable to change output state for device 127.0.0.51:80 (output index 0)"), 1);
  EXPECT_TRUE(io.StopIO());
}

TEST_F(BoschDigitalIOTest, UnreachableInputsFailThePollOncePerRun) {
  Use("127.0.0.51");
  ASSERT_TRUE(camsim->Fault("kind=status&status=500&match=0x01C0&count=0"));
  auto owned = MakeIO();
  CBoschDigitalIO& io = *owned;
  ASSERT_TRUE(io.SetCallback(&callback));
  ASSERT_TRUE(io.StartIO());
  Sleep(CIOBase::kInputPollMs + 700);
  EXPECT_GE(callback.failures.load(), 2);
  EXPECT_EQ(LinesContaining("GetInputStates() method failed! Device 127.0.0.51:80"), 1);
  ASSERT_NE(camsim->Get("clear_faults"), "");
  ASSERT_TRUE(callback.WaitForState(3, kIOStateOff, CIOBase::kInputPollMs + 2000));
  EXPECT_TRUE(io.StopIO());
}

TEST_F(BoschDigitalIOTest, StartNeverWaitsForASilentCamera) {
  for (const bool described : {true, false}) {
    SCOPED_TRACE(described ? "counts read before" : "counts not read yet");
    Use("127.0.0.51");
    auto owned = MakeIO();
    CBoschDigitalIO& io = *owned;
    ASSERT_TRUE(io.SetCallback(&callback));
    if (described) {
      ASSERT_EQ(io.GetNumberOfInputs(), 4u);
    }
    ASSERT_TRUE(camsim->Fault("kind=delay&ms=30000&count=0"));
    const DWORD start = GetTickCount();
    EXPECT_TRUE(io.StartIO()) << "the threads start; they report the failure";
    EXPECT_LT(GetTickCount() - start, 500u) << "no request on the host's thread";
    const DWORD stopStart = GetTickCount();
    EXPECT_TRUE(io.StopIO());
    std::printf("StopIO against a silent camera: %lu ms\n", GetTickCount() - stopStart);
    EXPECT_LT(GetTickCount() - stopStart, driver.info.timeout + 1000);
  }
}

TEST_F(BoschDigitalIOTest, ACameraThatBootsLateGetsItsInputsAndRelays) {
  Use("127.0.0.51");
  ASSERT_TRUE(camsim->Set("input=2&value=1"));
  ASSERT_TRUE(camsim->Fault("kind=asleep&seconds=4"));
  auto owned = MakeIO();
  CBoschDigitalIO& io = *owned;
  ASSERT_TRUE(io.SetCallback(&callback));
  ASSERT_TRUE(io.StartIO());
  Sleep(2500);
  EXPECT_GE(callback.failures.load(), 1) << "the host hears that I/O does not work yet";
  EXPECT_EQ(callback.changes.load(), 0);
  ASSERT_TRUE(callback.WaitForState(1, kIOStateOn, 4000 + CIOBase::kInputPollMs + 3000));
  EXPECT_EQ(callback.State(0), kIOStateOff);
  ASSERT_TRUE(WaitForRequests("command=0x01C1", 2, 3000)) << "both relays switched off once known";
  EXPECT_EQ(io.GetNumberOfOutputs(), 2u);
  EXPECT_EQ(LinesContaining("The I/O description of device 127.0.0.51:80 could not be read"), 1);
  EXPECT_TRUE(io.StopIO());
}

TEST_F(BoschDigitalIOTest, StopDuringHangingRequestsEndsWithinTheTimeOut) {
  for (const char* match : {"0x01C0", "0x01C1"}) {
    SCOPED_TRACE(match);
    Use("127.0.0.51");
    auto owned = MakeIO();
    CBoschDigitalIO& io = *owned;
    ASSERT_TRUE(io.StartIO());
    ASSERT_TRUE(camsim->Fault(std::string("kind=delay&ms=30000&count=0&match=") + match));
    io.SetOutputState(0, kIOStateOn);
    Sleep(CIOBase::kInputPollMs + 300);
    const DWORD start = GetTickCount();
    EXPECT_TRUE(io.StopIO());
    EXPECT_LT(GetTickCount() - start, driver.info.timeout);
  }
  EXPECT_EQ(LinesContaining("thread failed!"), 0);
}

}  // namespace
}  // namespace vantrel::testing
