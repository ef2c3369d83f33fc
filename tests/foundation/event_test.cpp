#include "foundation/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

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

}  // namespace
}  // namespace vantrel
