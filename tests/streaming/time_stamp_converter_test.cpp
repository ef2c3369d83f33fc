#include "streaming/time_stamp_converter.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "foundation/time_value.h"

namespace vantrel {
namespace {

constexpr uint64_t kStart = 133000000000000000ull;  // a FILETIME in 2022
constexpr uint64_t kFrame = 400000;                 // 40 ms in 100 ns units
constexpr uint32_t kFrameTicks = 3600;              // 40 ms at 90 kHz

uint64_t g_now = 0;
uint64_t TestClock() { return g_now; }

class TimeStampConverterTest : public ::testing::Test {
 protected:
  void SetUp() override { g_now = kStart; }
  CTimeStampConverter converter_{&TestClock};
};

TEST_F(TimeStampConverterTest, SteadyStreamFollowsTheWallClock) {
  uint32_t t = 1000;
  EXPECT_EQ(converter_.ConvertSmoothed(t), kStart);
  for (int i = 1; i <= 150; ++i) {
    g_now += kFrame;
    t += kFrameTicks;
    ASSERT_EQ(converter_.ConvertSmoothed(t), g_now) << i;
  }
  EXPECT_EQ(converter_.GetLead(), 0u);
}

TEST_F(TimeStampConverterTest, BurstsAreSpacedByTheirTimestamps) {
  uint32_t t = 1000;
  converter_.ConvertSmoothed(t);
  // Three frames arriving at the same instant keep their 40 ms spacing.
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(converter_.ConvertSmoothed(t += kFrameTicks), kStart + i * kFrame);
  // Below a quarter second ahead no lead is kept.
  EXPECT_EQ(converter_.GetLead(), 0u);
}

TEST_F(TimeStampConverterTest, RepeatedOrOlderTimestampStepsOneMillisecond) {
  converter_.ConvertSmoothed(5000);
  for (uint32_t t : {5000u, 4000u}) {
    const uint64_t before = converter_.GetCurrentTime();
    EXPECT_EQ(converter_.ConvertSmoothed(t), before + 10000);
    EXPECT_EQ(converter_.GetLead(), converter_.GetCurrentTime() - g_now);
  }
  // Once the wall clock is further on, it wins.
  g_now += 10 * kFrame;
  EXPECT_EQ(converter_.ConvertSmoothed(4000), g_now);
}

TEST_F(TimeStampConverterTest, GapOfASecondWhileLearningResynchronises) {
  uint32_t t = 1000;
  converter_.ConvertSmoothed(t);
  g_now += kFrame;
  converter_.ConvertSmoothed(t += kFrameTicks);
  // 2 s of RTP time but only 40 ms of wall time: back to the wall clock, not 2 s ahead.
  g_now += kFrame;
  EXPECT_EQ(converter_.ConvertSmoothed(t += 180000), g_now);
  EXPECT_EQ(converter_.GetLead(), 0u);
  g_now += kFrame;
  EXPECT_EQ(converter_.ConvertSmoothed(t += kFrameTicks), g_now);
}

TEST_F(TimeStampConverterTest, FastCameraClockLeadIsWorkedOffByTenths) {
  // The camera stamps 40 ms per frame, but frames come every 36 ms of wall time.
  constexpr uint64_t kWall = 360000;
  uint32_t t = 1000;
  converter_.ConvertSmoothed(t);
  for (int i = 1; i <= 100; ++i) {
    g_now += kWall;
    converter_.ConvertSmoothed(t += kFrameTicks);
  }
  // While learning the converter trusts the RTP clock and runs ahead by 4 ms per frame.
  EXPECT_EQ(converter_.GetCurrentTime(), kStart + 100 * kFrame);
  EXPECT_EQ(converter_.GetLead(), 100 * (kFrame - kWall));

  // From then on each step is the measured 36 ms, less a tenth of it while a lead remains.
  uint64_t previous = converter_.GetCurrentTime();
  g_now += kWall;
  uint64_t current = converter_.ConvertSmoothed(t += kFrameTicks);
  EXPECT_EQ(current - previous, kWall - kWall / 10);
  EXPECT_EQ(converter_.GetLead(), 100 * (kFrame - kWall) - kWall / 10);

  for (int i = 0; i < 400; ++i) {
    previous = current;
    g_now += kWall;
    current = converter_.ConvertSmoothed(t += kFrameTicks);
    ASSERT_GE(current - previous, kWall - kWall / 10) << i;
    ASSERT_LE(current - previous, kWall) << i;
    ASSERT_GE(current, g_now) << i;
  }
  // The lead has been worked off without a jump, down to less than one correction.
  EXPECT_LT(converter_.GetLead(), 10000u);
  EXPECT_EQ(current - g_now, converter_.GetLead());
}

TEST_F(TimeStampConverterTest, ImplausibleStepAfterLearningMovesOnlyFiveMilliseconds) {
  uint32_t t = 1000;
  converter_.ConvertSmoothed(t);
  for (int i = 1; i <= 110; ++i) {
    g_now += kFrame;
    converter_.ConvertSmoothed(t += kFrameTicks);
  }
  const uint64_t before = converter_.GetCurrentTime();
  // 12 s of RTP time in 1 ms of wall time: the camera's clock jumped.
  g_now += 10000;
  EXPECT_EQ(converter_.ConvertSmoothed(t += 12 * 90000), before + 50000);
}

TEST_F(TimeStampConverterTest, PlainConversionFromABase) {
  converter_.Start(kStart);
  EXPECT_FALSE(converter_.IsSmoothing());
  EXPECT_EQ(converter_.Convert(0), 0u);
  EXPECT_EQ(converter_.Convert(90000), kStart);             // first timestamp only remembered
  EXPECT_EQ(converter_.Convert(90000 + 9), kStart + 1000);  // 9 ticks = 100 us
  EXPECT_EQ(converter_.Convert(90000), kStart + 1000);      // going back changes nothing
  EXPECT_EQ(converter_.Convert(180009), kStart + 10000000 + 1000);

  converter_.Start(0);
  EXPECT_TRUE(converter_.IsSmoothing());
  EXPECT_EQ(converter_.GetCurrentTime(), 0u);
}

TEST_F(TimeStampConverterTest, SystemTimeBeforeAndAfterStart) {
  SYSTEMTIME st{};
  converter_.GetSystemTime(st);
  const uint64_t real = GetCurrentFileTime();
  const uint64_t reported = SystemTimeToFileTimeValue(st);
  EXPECT_LE(real > reported ? real - reported : reported - real, 10000000u);  // the system's own time

  converter_.Start(kStart);
  converter_.Convert(1000);
  converter_.GetSystemTime(st);
  EXPECT_EQ(SystemTimeToFileTimeValue(st), kStart);

  converter_.Reset();
  converter_.GetSystemTime(st);
  EXPECT_NE(SystemTimeToFileTimeValue(st), kStart);
}

}  // namespace
}  // namespace vantrel
