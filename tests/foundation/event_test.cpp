#include "foundation/event.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace vantrel
