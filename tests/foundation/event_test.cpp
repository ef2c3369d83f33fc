#include "foundation/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "foundation/wake_signal.h"

namespace vantrel {
namespace {

TEST(EventTest, WaitForEventsRejectsBadArgumentsWithoutWaiting) {
  std::vector<CEvent> storage(64);
  std::vector<CEvent*> events;
  for (auto& e : storage) {
    e.Set();
    events.push_back(&e);
  }
  // Every event is signalled, so only the argument checks can make these fail; an infinite
  // time-out would hang the test if the call waited.
  EXPECT_EQ(CEvent::WaitForEvents(events.data(), 0, kWaitInfinite), -1);
  EXPECT_EQ(CEvent::WaitForEvents(events.data(), 64, kWaitInfinite), -1);
  EXPECT_EQ(CEvent::WaitForEvents(nullptr, 1, kWaitInfinite), -1);
  CEvent* withNull[2] = {&storage[0], nullptr};
  EXPECT_EQ(CEvent::WaitForEvents(withNull, 2, kWaitInfinite), -1);

  EXPECT_EQ(CEvent::WaitForEvents(events.data(), 63, 0), 0);
}

TEST(EventTest, WaitForEventsReportsWhichEventEndedTheWait) {
  CManualEvent stop;
  CEvent item;
  CEvent* events[2] = {&stop, &item};
  EXPECT_EQ(WaitForEvents(events, 2, 10), -1);
  item.Set();
  EXPECT_EQ(WaitForEvents(events, 2, 1000), 1);
  // Consumed: the auto-reset event does not end a second wait.
  EXPECT_EQ(WaitForEvents(events, 2, 0), -1);
  stop.Set();
  item.Set();
  // The lowest signalled index wins, which is why the stop event goes first.
  EXPECT_EQ(WaitForEvents(events, 2, 1000), 0);
}

TEST(EventTest, LatchedEventFollowsEverySetAndResetLikeAPlainEvent) {
  // Reached through the base class too, as owners hand it to helpers that take a CEvent&.
  CLatchedEvent latched;
  CManualEvent plain;
  CEvent& viaBase = latched;
  const char* steps = "SSRSRRSSRS";
  for (const char* step = steps; *step; ++step) {
    if (*step == 'S') {
      EXPECT_TRUE(viaBase.Set());
      plain.Set();
    } else {
      EXPECT_TRUE(viaBase.Reset());
      plain.Reset();
    }
    EXPECT_EQ(latched.IsSet(), plain.IsSet()) << "after step " << (step - steps) << " of " << steps;
  }
}

TEST(EventTest, LatchedEventIsNeverLeftResetAfterASetThatRacedAReset) {
  // Whatever the interleaving, a Set that begins after the last Reset returned must leave the
  // event signalled; a latch left up over a reset kernel event would swallow every later Set.
  CLatchedEvent event;
  std::atomic<bool> done{false};
  std::thread setter([&] {
    while (!done.load()) event.Set();
  });
  for (int i = 0; i < 2000; ++i) event.Reset();
  done.store(true);
  setter.join();
  event.Set();
  EXPECT_TRUE(event.Wait(0));
}

TEST(WakeSignalTest, ASetIsConsumedByExactlyOneWait) {
  CWakeSignal signal;
  EXPECT_FALSE(signal.Wait(0));
  signal.Set();
  signal.Set();  // not counted: a second Set before the wait is the same wake-up
  EXPECT_TRUE(signal.Wait(0));
  EXPECT_FALSE(signal.Wait(10));
}

TEST(WakeSignalTest, SetFromAnotherThreadWakesTheWaiterEveryTime) {
  // A lost wake-up would leave the waiter asleep until its (long) time-out and fail the round.
  CWakeSignal request, answer;
  std::thread peer([&] {
    for (int i = 0; i < 200; ++i) {
      if (!request.Wait(10000)) return;
      answer.Set();
    }
  });
  int answered = 0;
  for (int i = 0; i < 200; ++i) {
    request.Set();
    answered += answer.Wait(10000) ? 1 : 0;
  }
  peer.join();
  EXPECT_EQ(answered, 200);
}

}  // namespace
}  // namespace vantrel
