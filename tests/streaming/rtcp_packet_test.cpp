#include "streaming/rtcp_packet.h"

#include <gtest/gtest.h>

#include <vector>

namespace vantrel::rtcp {
namespace {

std::vector<uint8_t> SenderReport(uint8_t firstByte = 0x80, uint16_t lengthWords = 6) {
  // clang-format off
  std::vector<uint8_t> sr = {
      firstByte, 200, static_cast<uint8_t>(lengthWords >> 8), static_cast<uint8_t>(lengthWords),
      0x11, 0x22, 0x33, 0x44,  // SSRC of sender
      0xAA, 0xBB, 0xCC, 0xDD,  // NTP seconds
      0xEE, 0xFF, 0x01, 0x02,  // NTP fraction
      0x00, 0x01, 0x00, 0x00,  // RTP timestamp
      0x00, 0x00, 0x00, 0x0A,  // packet count
      0x00, 0x00, 0x10, 0x00,  // octet count
  };
  // clang-format on
  return sr;
}

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// clang-format off
const std::vector<uint8_t> kBye = {0x81, 203, 0x00, 0x01, 0x11, 0x22, 0x33, 0x44};
const std::vector<uint8_t> kSdes = {
    0x81, 202, 0x00, 0x02,   // one chunk, 3 words
    0x11, 0x22, 0x33, 0x44,  // SSRC
    0x01, 0x01, 'c', 0x00,   // CNAME "c", end
};
// clang-format on

std::vector<uint8_t> Types(const std::vector<uint8_t>& datagram) {
  std::vector<uint8_t> types;
  CCompoundReader reader(datagram);
  PacketView packet;
  while (reader.Next(packet)) types.push_back(packet.type);
  return types;
}

TEST(RtcpCompoundReaderTest, WalksWholePacketsOnly) {
  struct Case {
    const char* name;
    std::vector<uint8_t> datagram;
    std::vector<uint8_t> types;
  };
  const std::vector<Case> cases = {
      {"sr+sdes+bye", Concat(Concat(SenderReport(), kSdes), kBye), {200, 202, 203}},
      {"empty", {}, {}},
      {"three bytes", {0x80, 200, 0x00}, {}},
      {"length past end", SenderReport(0x80, 7), {}},
      {"truncated second packet", Concat(SenderReport(), {0x81, 203, 0x00, 0x01, 0x11}), {200}},
      {"trailing bytes", Concat(kBye, {0x00, 0x00}), {203}},
      {"length 0 packets", {0x80, 204, 0x00, 0x00, 0x80, 203, 0x00, 0x00}, {204, 203}},
  };
  for (const auto& c : cases) EXPECT_EQ(Types(c.datagram), c.types) << c.name;
}

TEST(RtcpSenderReportTest, ReadsSsrcLsrAndVersionBits) {
  auto datagram = SenderReport(0xA1);  // version 2, padding, one report block claimed
  CCompoundReader reader(datagram);
  PacketView packet;
  ASSERT_TRUE(reader.Next(packet));
  auto sr = ReadSenderReport(packet);
  ASSERT_TRUE(sr);
  EXPECT_EQ(sr->versionBits, 0x80);
  EXPECT_EQ(sr->senderSsrc, 0x11223344u);
  EXPECT_EQ(sr->lsr, 0xCCDDEEFFu);
}

TEST(RtcpSenderReportTest, ShortOrOtherPacketsAreNotReports) {
  // A length field of 2 words claims 12 bytes: not enough for the NTP timestamp.
  std::vector<uint8_t> shortSr = {0x80, 200, 0x00, 0x02, 1, 2, 3, 4, 5, 6, 7, 8};
  for (const auto& datagram : {shortSr, kBye}) {
    CCompoundReader reader(datagram);
    PacketView packet;
    ASSERT_TRUE(reader.Next(packet));
    EXPECT_FALSE(ReadSenderReport(packet));
  }
}

uint32_t ExtendedAfter(const std::vector<uint16_t>& sequence, uint32_t* received = nullptr) {
  SequenceState state;
  for (uint16_t s : sequence) state.Update(s);
  if (received) *received = state.received;
  return state.ExtendedHighest();
}

TEST(RtcpSequenceStateTest, FollowsTheAppendixRules) {
  struct Case {
    const char* name;
    std::vector<uint16_t> sequence;
    uint32_t extendedHighest;
    uint32_t received;
  };
  const std::vector<Case> cases = {
      {"in order", {100, 101, 102, 103}, 103, 3},
      {"wrap adds a cycle", {65534, 65535, 0, 1}, 65536 + 1, 3},
      {"first packet on probation only", {500}, 500, 0},
      {"probation restarts on a gap", {10, 12, 13, 14}, 14, 2},
      {"big jump ignored once", {1, 2, 3, 5003}, 3, 2},
      {"big jump then follower resyncs", {1, 2, 3, 5003, 5004, 5005}, 5005, 2},
      {"big jump then other jump stays", {1, 2, 3, 5003, 9000, 4}, 4, 3},
      {"late packet moves nothing", {1, 2, 3, 10, 8, 11}, 11, 5},
      {"duplicate counts, no cycle", {7, 8, 9, 9}, 9, 3},
      {"misorder across wrap is not a cycle", {65530, 65531, 2, 65532}, 65536 + 2, 3},
  };
  for (const auto& c : cases) {
    uint32_t received = 0;
    EXPECT_EQ(ExtendedAfter(c.sequence, &received), c.extendedHighest) << c.name;
    EXPECT_EQ(received, c.received) << c.name;
  }
}

TEST(RtcpSequenceStateTest, LongRunCountsEveryWrap) {
  // Two in a row end the probation; then steps just below the dropout limit through three wraps.
  std::vector<uint16_t> sequence = {65000, 65001};
  uint32_t s = 65001;
  while (s + 2999 <= 3 * 65536 + 5) {
    s += 2999;
    sequence.push_back(static_cast<uint16_t>(s));
  }
  uint32_t received = 0;
  EXPECT_EQ(ExtendedAfter(sequence, &received), s);
  EXPECT_EQ(received, sequence.size() - 1);
}

TEST(RtcpSequenceStateTest, ClearStartsProbationAgain) {
  SequenceState state;
  for (uint16_t s : {1, 2, 3}) state.Update(s);
  state.Clear();
  state.Update(40000);
  EXPECT_EQ(state.probation, 1u);
  EXPECT_EQ(state.received, 0u);
  EXPECT_EQ(state.ExtendedHighest(), 40000u);
}

TEST(RtcpReportBuildingTest, ReceiverReportLayout) {
  ReceiverReportFields fields;
  fields.versionBits = 0x80;
  fields.ownSsrc = 0x01020304;
  fields.senderSsrc = 0x11223344;
  fields.extendedHighest = 65537;
  fields.lsr = 0xCCDDEEFF;
  fields.dlsr = DelaySinceLastReport(1000);
  // clang-format off
  const std::array<uint8_t, 32> expected = {
      0x81, 201, 0x00, 0x07,   // V=2 RC=1, RR, 7 words
      0x01, 0x02, 0x03, 0x04,  // own SSRC
      0x11, 0x22, 0x33, 0x44,  // SSRC of the sender
      0x00, 0x00, 0x00, 0x00,  // fraction and cumulative lost
      0x00, 0x01, 0x00, 0x01,  // extended highest sequence number
      0x00, 0x00, 0x00, 0x00,  // jitter
      0xCC, 0xDD, 0xEE, 0xFF,  // LSR
      0x00, 0x01, 0x00, 0x00,  // DLSR: one second
  };
  // clang-format on
  EXPECT_EQ(BuildReceiverReport(fields), expected);
}

TEST(RtcpReportBuildingTest, ByeLayoutKeepsOnlyVersionBits) {
  const std::array<uint8_t, 8> expected = {0x81, 203, 0x00, 0x01, 0xDE, 0xAD, 0xBE, 0xEF};
  EXPECT_EQ(BuildBye(0xBF, 0xDEADBEEF), expected);
}

TEST(RtcpReportBuildingTest, DelaySinceLastReportUnits) {
  EXPECT_EQ(DelaySinceLastReport(0), 0u);
  EXPECT_EQ(DelaySinceLastReport(1), 65u);  // 65.536 truncated
  EXPECT_EQ(DelaySinceLastReport(250), 16384u);
  EXPECT_EQ(DelaySinceLastReport(0xFFFFFFFFu), 0xFFFFFFFFu);  // saturates, never wraps to small
}

TEST(RtcpSenderReportTest, ReadsTheWallClockAndRtpTimestampOfTheReport) {
  const auto datagram = SenderReport();
  CCompoundReader reader(datagram);
  PacketView packet;
  ASSERT_TRUE(reader.Next(packet));
  auto sr = ReadSenderReport(packet);
  ASSERT_TRUE(sr);
  EXPECT_EQ(sr->ntp, 0xAABBCCDDEEFF0102ull);
  EXPECT_EQ(sr->rtpTimestamp, 0x00010000u);
}

TEST(RtcpSenderReportTest, MapsRtpTimestampsToTheSendersClock) {
  constexpr uint64_t kNtpDay = 0xEEC1C700ull << 32;         // 2026-12-08 00:00:00 UTC
  constexpr uint64_t kFileTimeDay = 134411616000000000ull;  // the same instant
  constexpr uint64_t kSecond = 10000000;
  struct Case {
    const char* name;
    uint64_t ntp;
    uint32_t reportRtp;
    uint32_t rtp;
    uint64_t expected;
  } cases[] = {
      {"the report's own instant", kNtpDay, 1000, 1000, kFileTimeDay},
      {"half a second in the fraction", kNtpDay | 0x80000000u, 5, 5, kFileTimeDay + kSecond / 2},
      {"one second later at 90 kHz", kNtpDay, 1000, 91000, kFileTimeDay + kSecond},
      {"a frame before the report", kNtpDay, 90000, 81000, kFileTimeDay - kSecond / 10},
      {"across the RTP wrap", kNtpDay, 0xFFFFFFF0u, 0x00001010u, kFileTimeDay + 4128 * kSecond / 90000},
      {"after NTP's first era (2036-03-01)", 0x001DF780ull << 32, 7, 7, 137324160000000000ull},
      {"no time in the report", 0, 7, 7, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(SenderTimeOfRtp(c.ntp, c.reportRtp, c.rtp, 90000), c.expected) << c.name;
}

}  // namespace
}  // namespace vantrel::rtcp
