// CBaseRTPDataChannel: the reception machinery for data channels: filters and the payload
// hook, the worker's start and stop, the quiet port search and the multicast argument checks.
#include "channels/base_rtp_data_channel.h"

#include <gtest/gtest.h>
#include <winsock2.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

#include "support/fake_driver.h"
#include "support/rtp_test_peer.h"
#include "support/winsock_test.h"

namespace vantrel {
namespace {

using testing::BusyUdpPort;
using testing::FakeDriver;
using testing::MakeAddress;
using testing::MakeRtpPacket;
using testing::RtpStreamer;
using testing::WaitUntil;

class TestDataChannel : public CBaseRTPDataChannel {
 public:
  explicit TestDataChannel(IDriver* driver) : CBaseRTPDataChannel(0, driver) {}
  ~TestDataChannel() override { StopChannel(); }

  using CBaseRTPDataChannel::dataEvent_;
  using CBaseRTPDataChannel::GetRtpPort;
  using CBaseRTPDataChannel::JoinMulticast;
  using CBaseRTPDataChannel::SetPayloadFilter;
  using CBaseRTPDataChannel::StartChannel;
  using CBaseRTPDataChannel::StopChannel;

  struct Payload {
    std::vector<uint8_t> bytes;
    uint16_t sequence;
  };
  std::vector<Payload> Payloads() {
    std::lock_guard<std::mutex> guard(mutex);
    return payloads;
  }

  std::atomic<bool> portsOpen{false};
  std::atomic<uint16_t> boundPort{0};
  std::atomic<int> unicastRuns{0};

 protected:
  void RunUnicast() override {
    ++unicastRuns;
    if (OpenPorts()) {
      boundPort = GetRtpPort();
      portsOpen = true;
    }
    GetStopEvent().Wait(kWaitInfinite);
  }
  void RunMulticast() override { GetStopEvent().Wait(kWaitInfinite); }
  void ProcessData(const uint8_t* payload, uint32_t size, uint16_t sequence) override {
    std::lock_guard<std::mutex> guard(mutex);
    payloads.push_back({std::vector<uint8_t>(payload, payload + size), sequence});
  }

 private:
  std::mutex mutex;
  std::vector<Payload> payloads;
};

class BaseRtpDataChannelTest : public testing::WinsockTest {
 protected:
  void SetUp() override {
    driver.info.address = "127.0.0.1";
    // Above the receivers' teardown time (their select time-outs), so a stop is never a kill.
    driver.info.timeout = 3000;
    driver.hostDirectory = "C:\\nonexistent\\";
  }

  FakeDriver driver;
};

TEST_F(BaseRtpDataChannelTest, PayloadsPassOnlyFromTheCameraWithTheExpectedType) {
  struct Case {
    const char* sender;
    uint8_t filter;
    uint8_t payloadType;
    bool delivered;
  };
  const Case cases[] = {
      {"127.0.0.1", CBaseRTPDataChannel::kAnyPayload, 0, true},
      {"127.0.0.1", 0, 0, true},
      {"127.0.0.1", 0, 8, false},
      {"10.1.2.3", CBaseRTPDataChannel::kAnyPayload, 0, false},
  };
  TestDataChannel channel(&driver);
  uint16_t sequence = 7;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sender);
    channel.SetPayloadFilter(c.filter);
    size_t before = channel.Payloads().size();
    sockaddr_in sender = MakeAddress(c.sender, 6000);
    CRTPPacket packet = MakeRtpPacket(c.payloadType, ++sequence, 160, false, {0xD5, 0x55, 0xD5});
    channel.OnRtpPacket(&sender, &packet);
    auto payloads = channel.Payloads();
    ASSERT_EQ(payloads.size() - before, c.delivered ? 1u : 0u);
    if (c.delivered) {
      EXPECT_EQ(payloads.back().bytes, (std::vector<uint8_t>{0xD5, 0x55, 0xD5}));
      EXPECT_EQ(payloads.back().sequence, sequence);
    }
  }
}

TEST_F(BaseRtpDataChannelTest, WorkerBindsAQuietPairAndStopReleasesIt) {
  // Other programs may hold any pair of the range: the test takes the first two it finds free.
  const uint16_t occupiedPort =
      testing::FirstFreeUdpPair(CRtpReception::kFirstPort, CRtpReception::kPortLimit);
  ASSERT_NE(occupiedPort, 0);
  BusyUdpPort occupied(occupiedPort);
  ASSERT_TRUE(occupied.IsBound());
  const uint16_t streamedPort = testing::FirstFreeUdpPair(occupiedPort + 2, CRtpReception::kPortLimit);
  ASSERT_NE(streamedPort, 0);
  RtpStreamer leftover([&] { return streamedPort; }, 0);

  TestDataChannel channel(&driver);
  ASSERT_TRUE(channel.StartChannel("Test data channel"));
  ASSERT_TRUE(WaitUntil([&] { return channel.portsOpen.load(); }, 5000));
  const uint16_t bound = channel.boundPort.load();
  EXPECT_NE(bound, occupiedPort);
  EXPECT_NE(bound, streamedPort);
  EXPECT_EQ(bound % 2, 0);
  EXPECT_EQ(channel.unicastRuns.load(), 1);

  auto started = std::chrono::steady_clock::now();
  channel.StopChannel();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2 * driver.info.timeout));
  EXPECT_EQ(channel.GetRtpPort(), 0);

  // A restart runs the worker again on a fresh search.
  channel.portsOpen = false;
  ASSERT_TRUE(channel.StartChannel("Test data channel"));
  ASSERT_TRUE(WaitUntil([&] { return channel.portsOpen.load(); }, 5000));
  EXPECT_EQ(channel.unicastRuns.load(), 2);
}

TEST_F(BaseRtpDataChannelTest, MulticastJoinRefusesIncompleteDescriptions) {
  struct Case {
    const char* group;
    uint16_t port;
  };
  const Case cases[] = {{"", 5000}, {"239.255.1.1", 0}, {"239.255.1.1", 65535}, {"not-an-address", 5000}};
  TestDataChannel channel(&driver);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.group) + ":" + std::to_string(c.port));
    EXPECT_FALSE(channel.JoinMulticast(c.group, c.port, 0));
    EXPECT_EQ(channel.GetRtpPort(), 0);
  }
}

}  // namespace
}  // namespace vantrel
