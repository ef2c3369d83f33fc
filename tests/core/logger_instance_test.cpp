#include "core/logger_instance.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "support/fake_driver.h"

namespace vantrel {
namespace {

using testing::FakeDriver;

TEST(CLoggerInstance, SameFailureRepeatedIsDeliveredOnce) {
  FakeDriver driver;
  CLoggerInstance logger(&driver);
  for (int i = 0; i < 100; ++i)
    logger.Log(kLogError, "%s: cannot connect to %s", "vantrel::C::M", "10.0.0.1:80");
  ASSERT_EQ(driver.Lines().size(), 1u);
  EXPECT_EQ(driver.Lines()[0].level, kLogError);
  EXPECT_EQ(driver.Lines()[0].text, "vantrel::C::M: cannot connect to 10.0.0.1:80");
}

// Every message that differs from the last one passed on counts as a change; one that does not
// pass is not remembered, so in an alternating run the text equal to the remembered one is dropped
// without counting.
TEST(CLoggerInstance, AlternatingTextsThinOut) {
  FakeDriver driver;
  CLoggerInstance logger(&driver);
  std::vector<std::string> expected;
  uint32_t change = 0;
  std::string last;
  for (int i = 0; i < 600; ++i) {
    const std::string text = i % 2 ? "B" : "A";
    logger.Log(kLogWarning, "%s", text.c_str());
    if (text == last) continue;
    ++change;
    const bool passes = change < 15 || (change < 255 && change % 16 == 0) || change % 256 == 0;
    if (passes) {
      expected.push_back(text);
      last = text;
    }
  }
  std::vector<std::string> got;
  for (const auto& line : driver.Lines()) got.push_back(line.text);
  EXPECT_EQ(got, expected);
  // The first 14 changes all came through, then changes 16, 32, ..., 240, then 256.
  ASSERT_GE(got.size(), 14u + 15u);
  EXPECT_EQ(got.size(), 14u + 15u + 1u);
}

TEST(CLoggerInstance, CountChangeBoundaries) {
  struct Case {
    uint32_t before;  // count before the change
    bool passes;
    uint32_t after;
  };
  const Case cases[] = {
      {0, true, 1},       {13, true, 14},        {14, false, 15},      {15, true, 16},
      {16, false, 17},    {239, true, 240},      {253, false, 254},    {254, false, 255},
      {255, true, 256},   {511, true, 512},      {4094, false, 4095},  {4095, true, 4096},
      {8191, true, 8192}, {65533, false, 65534}, {65534, false, 4095}, {4094, false, 4095},
  };
  for (const Case& c : cases) {
    uint32_t count = c.before;
    EXPECT_EQ(CLoggerInstance::CountChange(count), c.passes) << c.before;
    EXPECT_EQ(count, c.after) << c.before;
  }
}

TEST(CLoggerInstance, PassesFinishedTextAndDropsEmpty) {
  FakeDriver driver;
  CLoggerInstance logger(&driver);
  logger.Log(kLogError, "%s", "");
  logger.Log(kLogError, "%s: %s", "vantrel::C::M", "50%s done %d");
  ASSERT_EQ(driver.Lines().size(), 1u);
  EXPECT_EQ(driver.Lines()[0].text, "vantrel::C::M: 50%s done %d");
}

TEST(CLoggerInstance, ResetReportsTheSameFailureAgain) {
  FakeDriver driver;
  CLoggerInstance logger(&driver);
  logger.Log(kLogError, "join failed");
  logger.Log(kLogError, "join failed");
  logger.Reset();
  logger.Log(kLogError, "join failed");
  EXPECT_EQ(driver.Lines().size(), 2u);
}

TEST(CLoggerInstance, ConcurrentCallersNeverDeliverTheSameTextTwiceInARow) {
  FakeDriver driver;
  CLoggerInstance logger(&driver);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&logger] {
      for (int i = 0; i < 500; ++i) logger.Log(kLogError, "failure %d", i % 3);
    });
  }
  for (auto& thread : threads) thread.join();
  const auto lines = driver.Lines();
  ASSERT_FALSE(lines.empty());
  for (size_t i = 1; i < lines.size(); ++i) EXPECT_NE(lines[i].text, lines[i - 1].text);
}

}  // namespace
}  // namespace vantrel
