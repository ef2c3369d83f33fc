#include "edgestorage/replay_frame_filter.h"

#include <gtest/gtest.h>

#include <vector>

#include "foundation/filetime_math.h"

namespace vantrel {
namespace {

constexpr uint64_t kSecond = kFileTimeTicksPerSecond;
constexpr uint64_t kBase = kFileTimeOf2000 + 800000000ull * kSecond;

using Verdict = CReplayFrameFilter::Verdict;

struct FrameCase {
  uint64_t time;
  bool key;
  Verdict expected;
};

// Each row is one replayed frame of a gap (kBase + 10 s, kBase + 20 s), in arrival order.
TEST(ReplayFrameFilter, DeliversFromTheFirstKeyFrameInsideTheGapUpToItsEnd) {
  const std::vector<FrameCase> frames = {
      {kBase + 9 * kSecond, true, Verdict::kOld},                   // before the gap: the host has it
      {kBase + 10 * kSecond, true, Verdict::kOld},                  // the host's last live frame itself
      {kBase + 10 * kSecond + kSecond / 2, false, Verdict::kHeld},  // no key frame yet
      {kBase + 11 * kSecond, true, Verdict::kDeliver},
      {kBase + 11 * kSecond, false, Verdict::kOld},  // same time again: a repeat
      {kBase + 12 * kSecond, false, Verdict::kDeliver},
      {kBase + 11 * kSecond + kSecond / 2, false, Verdict::kOld},  // went back in time
      {kBase + 20 * kSecond, true, Verdict::kHeld},                // first live frame after the outage
      {kBase + 21 * kSecond, false, Verdict::kHeld},
  };
  CReplayFrameFilter filter;
  filter.SetItem(kBase + 10 * kSecond, kBase + 20 * kSecond);
  filter.StartRecording();
  for (size_t i = 0; i < frames.size(); ++i)
    EXPECT_EQ(filter.Take(frames[i].time, frames[i].key), frames[i].expected) << "frame " << i;
  EXPECT_EQ(filter.GetPosition(), kBase + 21 * kSecond);
  EXPECT_EQ(filter.GetFrameCount(), 5u);
}

// The gap's edges are live frames' capture times mapped from sender reports: their recorded
// copies may differ from them by rounding (here 1 tick, and 5 ms for a coarser camera).
TEST(ReplayFrameFilter, TheRecordedCopiesOfTheEdgeFramesAreNeverDeliveredAgain) {
  constexpr uint64_t kFrame = kSecond / 10;
  constexpr uint64_t kMs = kSecond / 1000;
  for (uint64_t slack : {uint64_t{1}, 5 * kMs}) {
    const uint64_t begin = kBase + 10 * kSecond, end = kBase + 12 * kSecond;
    const std::vector<FrameCase> frames = {
        {begin + slack, true, Verdict::kOld},  // the host's last live frame before the gap
        {begin + kFrame + slack, true, Verdict::kDeliver},
        {end - kFrame + slack, false, Verdict::kDeliver},
        {end - slack, false, Verdict::kHeld},  // the host's first live frame after the gap
        {end + slack, true, Verdict::kHeld},
    };
    CReplayFrameFilter filter;
    filter.SetItem(begin, end);
    filter.StartRecording();
    for (size_t i = 0; i < frames.size(); ++i)
      EXPECT_EQ(filter.Take(frames[i].time, frames[i].key), frames[i].expected)
          << "frame " << i << " slack " << slack;
  }
}

TEST(ReplayFrameFilter, EachRecordingWaitsForItsOwnKeyFrame) {
  CReplayFrameFilter filter;
  filter.SetItem(kBase, kBase + 100 * kSecond);
  EXPECT_EQ(filter.Take(kBase + 1 * kSecond, true), Verdict::kDeliver);
  filter.StartRecording();
  EXPECT_EQ(filter.Take(kBase + 2 * kSecond, false), Verdict::kHeld);
  EXPECT_EQ(filter.Take(kBase + 3 * kSecond, true), Verdict::kDeliver);
  // A new item starts from its own position and waits for a key frame again.
  filter.SetItem(kBase + 50 * kSecond, kBase + 60 * kSecond);
  EXPECT_EQ(filter.GetFrameCount(), 0u);
  EXPECT_EQ(filter.Take(kBase + 51 * kSecond, false), Verdict::kHeld);
}

TEST(ReplayTimeBase, FollowsTheRtpClockFromTheRecordingStart) {
  CReplayTimeBase base;
  uint64_t t = 0;
  EXPECT_FALSE(base.FrameTime(1000, t)) << "no recording is being played";
  base.Start(kBase);
  struct Step {
    uint32_t ts;
    uint64_t expected;
  };
  // clang-format off
  const std::vector<Step> steps = {
      {0xFFFFF000u, kBase},                                  // first timestamp: the start itself
      {0xFFFFF000u + 9000, kBase + kSecond / 10},            // 100 ms at 90 kHz
      {0xFFFFF000u + 4500, kBase + kSecond / 10},            // backwards: time stays
      {0xFFFFF000u + 18000, kBase + 2 * kSecond / 10},       // wraps past 2^32
  };
  // clang-format on
  for (const Step& s : steps) {
    ASSERT_TRUE(base.FrameTime(s.ts, t));
    EXPECT_EQ(t, s.expected) << "timestamp " << s.ts;
  }
  base.Start(kBase + 60 * kSecond);
  ASSERT_TRUE(base.FrameTime(5, t));
  EXPECT_EQ(t, kBase + 60 * kSecond) << "a new recording restarts from its own start";
  base.Clear();
  EXPECT_FALSE(base.FrameTime(10, t));
}

std::vector<uint8_t> Record(uint32_t start, uint32_t end) {
  std::vector<uint8_t> r = {uint8_t(start >> 24), uint8_t(start >> 16), uint8_t(start >> 8), uint8_t(start),
                            uint8_t(end >> 24),   uint8_t(end >> 16),   uint8_t(end >> 8),   uint8_t(end)};
  r.resize(16, 0xEE);
  return r;
}

TEST(RecordingList, RecordsOrderedByStartWithBrokenOnesLeftOut) {
  std::vector<uint8_t> bytes;
  for (const auto& r : {Record(300, 400), Record(100, 200), Record(500, 500), Record(700, 600), Record(0, 1)})
    bytes.insert(bytes.end(), r.begin(), r.end());
  bytes.insert(bytes.end(), {0x00, 0x00, 0x01});  // a trailing piece shorter than a record
  const std::vector<RecordedInterval> list = ParseRecordingList(bytes);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].start, kFileTimeOf2000);
  EXPECT_EQ(list[0].end, kFileTimeOf2000 + kSecond);
  EXPECT_EQ(list[1].start, SecondsSince2000ToFileTime(100));
  EXPECT_EQ(list[2].end, SecondsSince2000ToFileTime(400));
  EXPECT_TRUE(ParseRecordingList({}).empty());
  EXPECT_TRUE(ParseRecordingList(std::vector<uint8_t>(15, 1)).empty());
}

TEST(RecordingList, CameraSecondsConvertBothWays) {
  EXPECT_EQ(FileTimeToSecondsSince2000(125911584000000000ull), 0u);
  EXPECT_EQ(SecondsSince2000ToFileTime(0), 125911584000000000ull);
  EXPECT_EQ(FileTimeToSecondsSince2000(SecondsSince2000ToFileTime(0x32AA4EE7u) + kSecond - 1), 0x32AA4EE7u);
}

TEST(H264KeyFrame, FindsAnIdrSliceAnywhereInTheAccessUnit) {
  struct Case {
    std::vector<uint8_t> au;
    bool key;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {{0, 0, 1, 0x09, 0xF0, 0, 0, 1, 0x67, 0x42, 0, 0, 1, 0x68, 0xCE, 0, 0, 1, 0x65, 0x88}, true},  // AUD SPS PPS IDR
      {{0, 0, 0, 1, 0x65, 0x88}, true},    // four-byte start code
      {{0, 0, 1, 0x41, 0x9A, 0x65}, false},  // a P slice whose payload holds 0x65
      {{0, 0, 1, 0x67, 0x42}, false},      // parameter sets alone
      {{0, 0, 1}, false},                  // cut after the start code
      {{}, false},
  };
  // clang-format on
  for (size_t i = 0; i < cases.size(); ++i)
    EXPECT_EQ(IsH264KeyFrame(cases[i].au), cases[i].key) << "case " << i;
}

}  // namespace
}  // namespace vantrel
