#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "control/rcp_capability_list.h"
#include "control/rcp_record_list.h"

namespace vantrel {
namespace {

// clang-format off
// A list as a camera sends it: every section type once, plus elements we skip.
const std::vector<uint8_t> kCapabilities = {
    0xBA, 0xBA,  // magic
    0x00, 0x01,  // version
    0x00, 0x06,  // six sections
    0x00, 0x01, 0x00, 0x14, 0x00, 0x02,  // video: length (skipped), two elements
      0x00, 0x01, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x03, 0xEF,  // id 1: mask1 0x0006, mask2 0x03EF
      0x00, 0x07, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,  // id 7: 8 bytes skipped
    0x00, 0x02, 0x00, 0x0E, 0x00, 0x03,  // audio: three elements
      0x00, 0x01, 0x00, 0x00, 0x00, 0x01,  // id 1: mask3
      0x00, 0x02, 0x00, 0x00, 0x00, 0x08,  // id 2: mask4
      0x00, 0x09,                          // id 9: nothing more
    0x00, 0x03, 0x00, 0x04, 0x00, 0x01, 0x00, 0x21, 0xFF, 0xFF,  // mask5
    0x00, 0x04, 0x00, 0x04, 0x00, 0x01, 0x00, 0x40, 0xFF, 0xFF,  // mask6
    0x00, 0x05, 0x00, 0x04, 0x00, 0x01, 0x01, 0x02, 0x03, 0x04,  // 4 bytes skipped
    0x00, 0x09, 0x00, 0x00, 0x00, 0x05,  // unknown type: its elements read nothing
};
// clang-format on

TEST(RcpCapabilityListTest, ReadsEveryMask) {
  RcpCapabilityMasks masks;
  ASSERT_TRUE(ParseRcpCapabilityList(kCapabilities, masks));
  EXPECT_EQ(masks.mask, (std::array<uint16_t, 6>{0x0006, 0x03EF, 0x0001, 0x0008, 0x0021, 0x0040}));
}

TEST(RcpCapabilityListTest, RepeatedElementsAddBits) {
  // clang-format off
  const std::vector<uint8_t> list = {0xBA, 0xBA, 0x00, 0x01, 0x00, 0x02,
      0x00, 0x03, 0x00, 0x00, 0x00, 0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00,
      0x00, 0x03, 0x00, 0x00, 0x00, 0x01, 0x80, 0x00, 0x00, 0x00};
  // clang-format on
  RcpCapabilityMasks masks;
  ASSERT_TRUE(ParseRcpCapabilityList(list, masks));
  EXPECT_EQ(masks.mask[4], 0x8005);
}

TEST(RcpCapabilityListTest, RefusesWrongHeaderAndEveryTruncation) {
  RcpCapabilityMasks masks;
  std::vector<uint8_t> bad = kCapabilities;
  bad[1] = 0xBB;
  EXPECT_FALSE(ParseRcpCapabilityList(bad, masks));
  bad = kCapabilities;
  bad[3] = 0x02;
  EXPECT_FALSE(ParseRcpCapabilityList(bad, masks));
  EXPECT_FALSE(ParseRcpCapabilityList({}, masks));
  for (size_t n = 0; n < kCapabilities.size(); ++n) {
    std::vector<uint8_t> cut(kCapabilities.begin(), kCapabilities.begin() + n);
    EXPECT_FALSE(ParseRcpCapabilityList(cut, masks)) << "cut at " << n;
  }
}

TEST(RcpCapabilityListTest, HugeCountsOfUnknownSectionsEndQuickly) {
  std::vector<uint8_t> list = {0xBA, 0xBA, 0x00, 0x01, 0xFF, 0xFF};
  for (int i = 0; i < 20000; ++i) list.insert(list.end(), {0x00, 0x07, 0x00, 0x00, 0xFF, 0xFF});
  RcpCapabilityMasks masks;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(ParseRcpCapabilityList(list, masks));  // 65535 sections announced, 20000 there
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

// clang-format off
std::vector<uint8_t> Record(uint32_t value, uint32_t width, uint32_t height) {
  auto be = [](std::vector<uint8_t>& v, uint32_t x) {
    v.insert(v.end(), {uint8_t(x >> 24), uint8_t(x >> 16), uint8_t(x >> 8), uint8_t(x)});
  };
  std::vector<uint8_t> r = {0x00, 0x01, 0x00, 0x00};  // two skipped words
  be(r, value);
  be(r, width);
  be(r, height);
  be(r, 0xDEADBEEF);  // skipped
  return r;
}
// clang-format on

TEST(RcpRecordListTest, StoresRecordsByKeyPair) {
  std::vector<uint8_t> list;
  for (auto r : {Record(30, 1920, 1080), Record(25, 0, 720), Record(15, 640, 480), Record(60, 1920, 1080)})
    list.insert(list.end(), r.begin(), r.end());
  RcpRecordMap records;
  records[{1, 1}] = 1;  // left over from an earlier call
  ASSERT_TRUE(ParseRcpRecordList(list, records));
  EXPECT_EQ(records, (RcpRecordMap{{{640, 480}, 15}, {{1920, 1080}, 60}}));
}

TEST(RcpRecordListTest, TruncatedAndEmptyLists) {
  const std::vector<uint8_t> one = Record(30, 1280, 720);
  RcpRecordMap records;
  EXPECT_FALSE(ParseRcpRecordList({}, records));
  // Cut before the keys are complete: nothing stored. Cut in the last skipped word: stored.
  for (size_t n = 0; n < one.size(); ++n) {
    const std::vector<uint8_t> cut(one.begin(), one.begin() + n);
    EXPECT_EQ(ParseRcpRecordList(cut, records), n >= 16) << "cut at " << n;
  }
  const std::vector<uint8_t> zeros(40, 0);
  EXPECT_FALSE(ParseRcpRecordList(zeros, records));
}

// A hostile camera's 16 MB reply of distinct sizes: only the first records are read.
TEST(RcpRecordListTest, HostileLengthIsBounded) {
  std::vector<uint8_t> list;
  for (uint32_t i = 1; list.size() < 16u << 20; ++i) {
    const std::vector<uint8_t> r = Record(30, i, i);
    list.insert(list.end(), r.begin(), r.end());
  }
  RcpRecordMap records;
  ASSERT_TRUE(ParseRcpRecordList(list, records));
  EXPECT_EQ(records.size(), kMaxRcpRecords);
  const std::pair<uint32_t, uint32_t> last{kMaxRcpRecords, kMaxRcpRecords};
  EXPECT_EQ(records.rbegin()->first, last);
}

}  // namespace
}  // namespace vantrel
