#include "foundation/callback_gate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "foundation/event.h"
#include "foundation/teardown_queue.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;

TEST(CallbackGateTest, CloseWaitsForACallbackInFlightAndRefusesNewOnes) {
  CCallbackGate gate;
  CManualEvent inside;
  std::atomic<bool> finished{false};
  std::thread host([&] {
    CCallbackGate::Scope scope(gate);
    ASSERT_TRUE(scope);
    inside.Set();
    std::this_thread::sleep_for(200ms);
    finished = true;
  });
  ASSERT_TRUE(inside.Wait(5000));
  EXPECT_TRUE(gate.Close());
  // The stop returned only after the callback that was running had ended.
  EXPECT_TRUE(finished.load());
  EXPECT_FALSE(gate.Enter());
  host.join();
  gate.Open();
  EXPECT_TRUE(gate.Enter());
  gate.Leave();
}

TEST(CallbackGateTest, CloseFromInsideACallbackDoesNotWaitForItself) {
  CCallbackGate gate;
  bool closed = true;
  std::thread host([&] {
    CCallbackGate::Scope scope(gate);
    EXPECT_TRUE(gate.IsInsideCallback());
    closed = gate.Close();
  });
  host.join();
  EXPECT_FALSE(closed);
  EXPECT_FALSE(gate.IsOpen());
  EXPECT_EQ(gate.InFlight(), 0u);
}

TEST(CallbackGateTest, CloseForGivesUpOnABlockedCallback) {
  CCallbackGate gate;
  CManualEvent inside, release;
  std::thread host([&] {
    CCallbackGate::Scope scope(gate);
    inside.Set();
    release.Wait(kWaitInfinite);
  });
  ASSERT_TRUE(inside.Wait(5000));
  EXPECT_FALSE(gate.CloseFor(50));
  EXPECT_EQ(gate.InFlight(), 1u);
  release.Set();
  host.join();
  EXPECT_TRUE(gate.CloseFor(50));
}

TEST(TeardownQueueTest, RunsItemsInOrderAndDrainWaitsForThem) {
  std::atomic<int> order{0};
  int first = -1, second = -1;
  CTeardownQueue::Post([&] {
    std::this_thread::sleep_for(100ms);
    first = order++;
  });
  CTeardownQueue::Post([&] { second = order++; });
  EXPECT_TRUE(CTeardownQueue::Drain(5000));
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 1);
}

TEST(TeardownQueueTest, AnItemCanPostAnotherButNotDrainItself) {
  std::atomic<bool> drainedFromItem{true}, nested{false};
  CTeardownQueue::Post([&] {
    drainedFromItem = CTeardownQueue::Drain(100);
    CTeardownQueue::Post([&] { nested = true; });
  });
  EXPECT_TRUE(CTeardownQueue::Drain(5000));
  EXPECT_FALSE(drainedFromItem.load());
  EXPECT_TRUE(CTeardownQueue::Drain(5000));
  EXPECT_TRUE(nested.load());
}

// The driver's Close from inside a host callback: the stop of the callback's own object has
// posted an item that waits for that callback to return, so a Drain there cannot succeed and must
// not sit out its bound; the same Drain from outside, afterwards, does the work.
TEST(TeardownQueueTest, DrainFromInsideACallbackDoesNotWaitForItself) {
  CCallbackGate gate;
  CManualEvent callbackReturned;
  std::atomic<bool> deleted{false};
  bool drainedInside = true;
  long long insideMs = -1;
  {
    CCallbackGate::Scope scope(gate);
    ASSERT_TRUE(scope);
    EXPECT_TRUE(CCallbackGate::IsInsideAnyCallback());
    CTeardownQueue::Post([&] {
      callbackReturned.Wait(30000);
      deleted = true;
    });
    const auto begin = std::chrono::steady_clock::now();
    drainedInside = CTeardownQueue::Drain(20000);
    insideMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin)
                   .count();
  }
  EXPECT_FALSE(CCallbackGate::IsInsideAnyCallback());
  callbackReturned.Set();
  EXPECT_FALSE(drainedInside);
  EXPECT_LT(insideMs, 5000) << "waited for an item that waits for this very callback";
  EXPECT_TRUE(CTeardownQueue::Drain(10000));
  EXPECT_TRUE(deleted.load());
}

TEST(TeardownQueueTest, ShutdownEndsTheThreadAndALaterPostStartsAgain) {
  std::atomic<bool> ran{false};
  CTeardownQueue::Post([] {});
  EXPECT_TRUE(CTeardownQueue::Shutdown(5000));
  CTeardownQueue::Post([&] { ran = true; });
  EXPECT_TRUE(CTeardownQueue::Drain(5000));
  EXPECT_TRUE(ran.load());
  EXPECT_TRUE(CTeardownQueue::Shutdown(5000));
}

}  // namespace
}  // namespace vantrel
