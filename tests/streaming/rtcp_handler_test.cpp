#include "streaming/rtcp_handler.h"

#include <gtest/gtest.h>

#include <atomic>

#include "streaming/udp_test_socket.h"
#include "support/fake_driver.h"

namespace vantrel {
namespace {

using testing::Ipv4;
using testing::UdpTestSocket;

uint32_t U32At(const std::vector<uint8_t>& d, size_t at) {
  return (uint32_t{d[at]} << 24) | (uint32_t{d[at + 1]} << 16) | (uint32_t{d[at + 2]} << 8) | d[at + 3];
}

// clang-format off
const std::vector<uint8_t> kSenderReport = {
    0x80, 200, 0x00, 0x06,   // V=2, SR, 6 words
    0x11, 0x22, 0x33, 0x44,  // SSRC of sender
    0xAA, 0xBB, 0xCC, 0xDD,  // NTP seconds
    0xEE, 0xFF, 0x01, 0x02,  // NTP fraction
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x64,
};
const std::vector<uint8_t> kBye = {0x81, 203, 0x00, 0x01, 0x11, 0x22, 0x33, 0x44};
// clang-format on

class CountingUser : public IRTCPHandlerUser {
 public:
  void RTCPByeReceived() override {
    ++byes;
    event.Set();
  }
  std::atomic<int> byes{0};
  CEvent event{false};
};

class RtcpHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    handler_.SetUser(&user_);
    ASSERT_TRUE(handler_.Start(Ipv4("127.0.0.1"), 0));
    port_ = handler_.GetPort();
    ASSERT_NE(port_, 0);
  }

  testing::WinsockScope winsock_;
  vantrel::testing::FakeDriver driver_;
  CountingUser user_;
  CRTCPHandler handler_{&driver_};
  uint16_t port_ = 0;
};

TEST_F(RtcpHandlerTest, SenderReportIsAnsweredWithReceiverReport) {
  for (uint16_t s : {65534, 65535, 0, 1}) handler_.UpdateSequence(s);
  UdpTestSocket camera;
  ASSERT_TRUE(camera.SendTo("127.0.0.1", port_, kSenderReport));
  const auto rr = camera.Receive();
  ASSERT_EQ(rr.size(), 32u);
  EXPECT_EQ(rr[0], 0x81);
  EXPECT_EQ(rr[1], 201);
  EXPECT_EQ(U32At(rr, 0) & 0xFFFF, 7u);
  EXPECT_EQ(U32At(rr, 4), handler_.GetOwnSsrc());
  EXPECT_EQ(U32At(rr, 8), 0x11223344u);
  EXPECT_EQ(U32At(rr, 12), 0u);
  EXPECT_EQ(U32At(rr, 16), 65536u + 1);
  EXPECT_EQ(U32At(rr, 20), 0u);
  EXPECT_EQ(U32At(rr, 24), 0xCCDDEEFFu);
  EXPECT_LT(U32At(rr, 28), 65536u);  // answered well within a second
}

TEST_F(RtcpHandlerTest, BrokenReportsAreIgnored) {
  UdpTestSocket camera;
  std::vector<uint8_t> truncated = kSenderReport;
  truncated[3] = 0x01;  // claims 8 bytes: no room for the NTP timestamp
  truncated.resize(8);
  ASSERT_TRUE(camera.SendTo("127.0.0.1", port_, truncated));
  ASSERT_TRUE(camera.SendTo("127.0.0.1", port_, {0x80, 200, 0x00}));
  EXPECT_TRUE(camera.Receive(300).empty());
  ASSERT_TRUE(camera.SendTo("127.0.0.1", port_, kSenderReport));
  const auto rr = camera.Receive();
  ASSERT_EQ(rr.size(), 32u);
  EXPECT_EQ(U32At(rr, 24), 0xCCDDEEFFu);
}

TEST_F(RtcpHandlerTest, ReportsFromStrangersAreIgnored) {
  // Wine binds only to its interfaces' addresses, so here the camera is another loopback
  // address and the test socket plays the stranger.
  CRTCPHandler handler(&driver_);
  handler.SetUser(&user_);
  ASSERT_TRUE(handler.Start(Ipv4("127.0.0.2"), 0));
  UdpTestSocket stranger;
  std::vector<uint8_t> compound = kSenderReport;
  compound.insert(compound.end(), kBye.begin(), kBye.end());
  ASSERT_TRUE(stranger.SendTo("127.0.0.1", handler.GetPort(), kSenderReport));
  ASSERT_TRUE(stranger.SendTo("127.0.0.1", handler.GetPort(), compound));
  EXPECT_TRUE(stranger.Receive(300).empty());
  // Had a report been taken, stopping would say BYE to it.
  handler.Stop();
  EXPECT_TRUE(stranger.Receive(300).empty());
  EXPECT_EQ(user_.byes, 0);
}

TEST_F(RtcpHandlerTest, ByeCountsOnlyAfterASenderReport) {
  UdpTestSocket camera;
  ASSERT_TRUE(camera.SendTo("127.0.0.1", port_, kBye));
  std::vector<uint8_t> compound = kSenderReport;
  compound.insert(compound.end(), kBye.begin(), kBye.end());
  ASSERT_TRUE(camera.SendTo("127.0.0.1", port_, compound));
  ASSERT_TRUE(user_.event.Wait(3000));
  // A second BYE without a new report is not news.
  ASSERT_TRUE(camera.SendTo("127.0.0.1", port_, kBye));
  ASSERT_TRUE(camera.SendTo("127.0.0.1", port_, kSenderReport));
  ASSERT_FALSE(camera.Receive().empty());
  EXPECT_EQ(user_.byes, 1);
}

TEST_F(RtcpHandlerTest, StopSaysByeToTheReportAddress) {
  UdpTestSocket camera;
  ASSERT_TRUE(camera.SendTo("127.0.0.1", port_, kSenderReport));
  ASSERT_EQ(camera.Receive().size(), 32u);
  const uint32_t ssrc = handler_.GetOwnSsrc();
  handler_.Stop();
  const auto bye = camera.Receive();
  ASSERT_EQ(bye.size(), 8u);
  EXPECT_EQ(U32At(bye, 0), 0x81CB0001u);
  EXPECT_EQ(U32At(bye, 4), ssrc);
  EXPECT_EQ(handler_.GetPort(), 0);
}

TEST_F(RtcpHandlerTest, StartRules) {
  // Already started.
  EXPECT_FALSE(handler_.Start(Ipv4("127.0.0.1"), 0));
  CRTCPHandler other(&driver_);
  EXPECT_FALSE(other.Start(0, 0));
  ASSERT_TRUE(other.Start(Ipv4("127.0.0.1"), 0));
  EXPECT_NE(other.GetOwnSsrc(), 0u);
  EXPECT_NE(other.GetOwnSsrc(), handler_.GetOwnSsrc());

  // Without a sender report nothing is said at stop.
  UdpTestSocket camera;
  const uint16_t port = other.GetPort();
  other.Stop();
  ASSERT_TRUE(other.Start(Ipv4("127.0.0.1"), port));
  other.Stop();
  EXPECT_TRUE(camera.Receive(300).empty());
}

}  // namespace
}  // namespace vantrel
