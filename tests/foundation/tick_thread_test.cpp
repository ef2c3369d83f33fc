#include "foundation/tick_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "foundation/event.h"

namespace vantrel {
namespace {

class Ticker {
 public:
  void Tick() {
    int n = ++ticks;
    if (n == throwOnTick) throw std::runtime_error("tick failed");
    if (n >= wanted) reached.Set();
  }
  std::atomic<int> ticks{0};
  int wanted = 1;
  int throwOnTick = -1;
  CManualEvent reached;
};

TEST(TickThreadTest, TickAtStartTicksBeforeTheFirstPeriod) {
  Ticker ticker;
  TTickThread<Ticker> thread(nullptr);
  thread.Bind(&ticker, &Ticker::Tick);
  // A period far beyond the test's own bound: only the tick at start can come in time.
  thread.SetPeriod(600000);
  thread.SetTickAtStart(true);
  ASSERT_TRUE(thread.StartThread("tick at start"));
  EXPECT_TRUE(ticker.reached.Wait(5000));
  EXPECT_TRUE(thread.StopThread(5000));
  EXPECT_EQ(ticker.ticks.load(), 1);
}

TEST(TickThreadTest, WithoutTickAtStartStopEndsBeforeAnyTick) {
  Ticker ticker;
  TTickThread<Ticker> thread(nullptr);
  thread.Bind(&ticker, &Ticker::Tick);
  thread.SetPeriod(600000);
  ASSERT_TRUE(thread.StartThread("quiet"));
  EXPECT_TRUE(thread.StopThread(5000));
  EXPECT_EQ(ticker.ticks.load(), 0);
}

TEST(TickThreadTest, TicksEveryPeriodAndSurvivesAFailingTick) {
  Ticker ticker;
  ticker.wanted = 4;
  ticker.throwOnTick = 2;
  TTickThread<Ticker> thread(nullptr);
  thread.Bind(&ticker, &Ticker::Tick);
  thread.SetPeriod(10);
  ASSERT_TRUE(thread.StartThread("periodic"));
  EXPECT_TRUE(ticker.reached.Wait(5000));
  EXPECT_TRUE(thread.StopThread(5000));
}

}  // namespace
}  // namespace vantrel
