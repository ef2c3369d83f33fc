#include "streaming/rtsp_stream_parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace vantrel {
namespace {

class Collector : public IRTSPClientUser {
 public:
  bool SdpInfoReceived(const SdpInfo&) override { return true; }
  void OnInterleavedPacket(const CRTPPacket& packet) override {
    sequences.push_back(packet.GetSequenceNumber());
  }
  void OnSessionEnded() override {}
  std::vector<uint16_t> sequences;
};

std::vector<uint8_t> Frame(uint8_t channel, uint16_t sequence, size_t payload = 3) {
  std::vector<uint8_t> rtp = {0x80, 0x60, uint8_t(sequence >> 8), uint8_t(sequence), 0, 0, 0, 0, 0, 0, 0, 1};
  rtp.resize(12 + payload, 0x41);
  std::vector<uint8_t> out(4 + rtp.size());
  out[0] = '$';
  out[1] = channel;
  out[2] = uint8_t(rtp.size() >> 8);
  out[3] = uint8_t(rtp.size());
  std::copy(rtp.begin(), rtp.end(), out.begin() + 4);
  return out;
}

// A stream mixing what shares the RTSP connection with our channel's packets.
std::vector<uint8_t> MixedStream() {
  std::vector<uint8_t> s;
  auto add = [&s](const std::vector<uint8_t>& v) { s.insert(s.end(), v.begin(), v.end()); };
  const std::string response = "RTSP/1.0 200 OK\r\nCSeq: 5\r\nSession: 1\r\n\r\n";
  add(std::vector<uint8_t>(response.begin(), response.end()));
  add(Frame(2, 1));
  add({'$', 2, 0, 0});        // zero length: skipped
  add(Frame(3, 99));          // RTCP channel: skipped
  add({'$', '$', 2, 0, 13});  // "$$" then a real frame header: the second '$' starts it
  add({0x80, 0x60, 0, 2, 0, 0, 0, 0, 0, 0, 0, 1, 0x41});
  add(Frame(2, 3, 1400));
  add({'$', 2, 0, 5, 1, 2, 3, 4, 5});  // not RTP: dropped
  add(Frame(0, 77));
  add(Frame(2, 4));
  return s;
}

const std::vector<uint16_t> kExpected = {1, 2, 3, 4};

TEST(RTSPStreamParserTest, WholeBuffer) {
  Collector c;
  CRTSPStreamParser parser(&c, 2);
  const auto s = MixedStream();
  parser.Process(s.data(), s.size());
  EXPECT_EQ(c.sequences, kExpected);
}

TEST(RTSPStreamParserTest, OneByteAtATime) {
  Collector c;
  CRTSPStreamParser parser(&c, 2);
  for (uint8_t b : MixedStream()) parser.Process(&b, 1);
  EXPECT_EQ(c.sequences, kExpected);
}

TEST(RTSPStreamParserTest, RandomSplits) {
  const auto s = MixedStream();
  std::mt19937 rng(std::random_device{}());
  for (int round = 0; round < 200; ++round) {
    Collector c;
    CRTSPStreamParser parser(&c, 2);
    size_t at = 0;
    while (at < s.size()) {
      const size_t n = std::min<size_t>(s.size() - at, 1 + rng() % 40);
      parser.Process(s.data() + at, n);
      at += n;
    }
    ASSERT_EQ(c.sequences, kExpected) << "round " << round;
  }
}

TEST(RTSPStreamParserTest, TruncatedFrameWaitsForTheRest) {
  Collector c;
  CRTSPStreamParser parser(&c, 0);
  const auto f = Frame(0, 9);
  parser.Process(f.data(), f.size() - 1);
  EXPECT_TRUE(c.sequences.empty());
  parser.Process(&f.back(), 1);
  EXPECT_EQ(c.sequences, std::vector<uint16_t>{9});
  parser.Process(nullptr, 10);
}

}  // namespace
}  // namespace vantrel
