#include "foundation/statistics_helper.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

TEST(StatisticsHelperTest, FullWindowDropsOldestFromTheSum) {
  TStatisticsHelper<unsigned int> stats;
  ASSERT_EQ(stats.GetWindowSize(), 1000u);
  stats.AddSample(5000);
  for (int i = 0; i < 999; ++i) stats.AddSample(10);
  EXPECT_EQ(stats.GetCount(), 1000u);
  EXPECT_DOUBLE_EQ(stats.GetSum(), 5000 + 999 * 10);
  stats.AddSample(10);
  EXPECT_EQ(stats.GetCount(), 1000u);
  EXPECT_DOUBLE_EQ(stats.GetSum(), 10000);
  EXPECT_DOUBLE_EQ(stats.GetMean(), 10);
}

TEST(StatisticsHelperTest, ClearForgetsSamplesAndSum) {
  TStatisticsHelper<unsigned int> stats;
  stats.AddSample(0xFFFFFFFFu);
  stats.AddSample(7);
  stats.Clear();
  EXPECT_EQ(stats.GetCount(), 0u);
  EXPECT_DOUBLE_EQ(stats.GetSum(), 0);
  EXPECT_DOUBLE_EQ(stats.GetMean(), 0);
  stats.AddSample(3);
  EXPECT_DOUBLE_EQ(stats.GetMean(), 3);
}

TEST(StatisticsHelperTest, TinyWindows) {
  for (uint64_t window : {0u, 1u}) {
    TStatisticsHelper<unsigned int> stats;
    stats.SetWindowSize(window);
    stats.AddSample(1);
    stats.AddSample(2);
    EXPECT_EQ(stats.GetCount(), 1u) << window;
    EXPECT_DOUBLE_EQ(stats.GetSum(), 2) << window;
  }
}

}  // namespace
}  // namespace vantrel
