// The receiver on its own, fed by a socket in this process.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "streaming/rtp_receiver.h"
#include "streaming/udp_test_socket.h"
#include "support/fake_driver.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using testing::RtpDatagram;
using testing::UdpTestSocket;

class QueueUser : public IRTPReceiverUser {
 public:
  void OnRtpPacket(const sockaddr_in*, CRTPPacket* packet) override {
    std::unique_lock<std::mutex> lock(mutex_);
    sequence_.push_back(packet->GetSequenceNumber());
    payloads_.emplace_back(packet->GetPayload(), packet->GetPayload() + packet->GetPayloadLength());
    extensions_.push_back(packet->GetExtensionData());
    changed_.notify_all();
    changed_.wait(lock, [&] { return !hold_; });
  }
  void ReceiveTimedOut(IRTPClient*) override { ++timeouts; }
  void ClientClosed(IRTPClient*) override { ++closed; }

  void Hold(bool hold) {
    std::lock_guard<std::mutex> guard(mutex_);
    hold_ = hold;
    changed_.notify_all();
  }
  bool WaitForPackets(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, 5000ms, [&] { return sequence_.size() >= count; });
  }
  std::vector<uint16_t> Sequence() {
    std::lock_guard<std::mutex> guard(mutex_);
    return sequence_;
  }
  std::vector<std::vector<uint8_t>> Payloads() {
    std::lock_guard<std::mutex> guard(mutex_);
    return payloads_;
  }
  std::vector<std::vector<uint8_t>> Extensions() {
    std::lock_guard<std::mutex> guard(mutex_);
    return extensions_;
  }
  std::atomic<int> timeouts{0};
  std::atomic<int> closed{0};

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<uint16_t> sequence_;
  std::vector<std::vector<uint8_t>> payloads_;
  std::vector<std::vector<uint8_t>> extensions_;
  bool hold_ = false;
};

class RtpReceiverUnitTest : public ::testing::Test {
 protected:
  void SetUp() override { receiver_.SetUser(&user_); }

  testing::WinsockScope winsock_;
  vantrel::testing::FakeDriver driver_;
  QueueUser user_;
  CRTPReceiver receiver_{&driver_};
  UdpTestSocket camera_;
};

TEST_F(RtpReceiverUnitTest, OnlyWellFormedPacketsAreDelivered) {
  ASSERT_TRUE(receiver_.Start(0));
  const uint16_t port = receiver_.GetPort();
  auto versionOne = RtpDatagram(2);
  versionOne[0] = 0x40;
  auto csrcOverrun = RtpDatagram(3, 4);
  csrcOverrun[0] = 0x82;  // two CSRCs claimed, 4 bytes follow the header
  auto headerOnly = RtpDatagram(4, 0);
  for (const auto& datagram : {RtpDatagram(1, 1), versionOne, csrcOverrun, headerOnly, RtpDatagram(5)})
    ASSERT_TRUE(camera_.SendTo("127.0.0.1", port, datagram));
  ASSERT_TRUE(user_.WaitForPackets(2));
  // Datagrams are handled in order, so a follower shows that nothing else was let through.
  ASSERT_TRUE(camera_.SendTo("127.0.0.1", port, RtpDatagram(6)));
  ASSERT_TRUE(user_.WaitForPackets(3));
  EXPECT_EQ(user_.Sequence(), (std::vector<uint16_t>{1, 5, 6}));
}

TEST_F(RtpReceiverUnitTest, SlowUserDoesNotLosePackets) {
  ASSERT_TRUE(receiver_.Start(0));
  const uint16_t port = receiver_.GetPort();
  user_.Hold(true);
  constexpr uint16_t kCount = 200;
  ASSERT_TRUE(camera_.SendTo("127.0.0.1", port, RtpDatagram(0)));
  ASSERT_TRUE(user_.WaitForPackets(1));
  // While the user is busy with the first packet the socket thread keeps queueing. Sent in
  // batches so that the socket's own buffer is not what is being tested.
  for (uint16_t i = 1; i < kCount; ++i) {
    ASSERT_TRUE(camera_.SendTo("127.0.0.1", port, RtpDatagram(i)));
    if (i % 20 == 0 || i == kCount - 1) {
      for (int wait = 0; wait < 500 && receiver_.GetQueuedCount() < i; ++wait) Sleep(10);
      ASSERT_EQ(receiver_.GetQueuedCount(), i);
    }
  }
  user_.Hold(false);
  ASSERT_TRUE(user_.WaitForPackets(kCount));
  const auto sequence = user_.Sequence();
  for (uint16_t i = 0; i < kCount; ++i) ASSERT_EQ(sequence[i], i);
}

// A host stalled in its callback: the queue keeps the newest packets within its byte bound,
// drops the oldest, says so once per overflow run, and delivers in order when the host is back.
TEST_F(RtpReceiverUnitTest, StalledUserMeetsABoundedQueue) {
  const size_t datagramBytes = RtpDatagram(0).size();
  receiver_.SetQueueLimit(10 * datagramBytes);
  ASSERT_TRUE(receiver_.Start(0));
  const uint16_t port = receiver_.GetPort();
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    const uint16_t first = static_cast<uint16_t>(round * 100);
    user_.Hold(true);
    ASSERT_TRUE(camera_.SendTo("127.0.0.1", port, RtpDatagram(first)));
    ASSERT_TRUE(user_.WaitForPackets(round * 11 + 1));
    for (uint16_t i = 1; i <= 40; ++i) {
      ASSERT_TRUE(camera_.SendTo("127.0.0.1", port, RtpDatagram(first + i)));
      if (i % 10 == 0) Sleep(50);  // the socket's own buffer is not what is tested
    }
    for (int wait = 0; wait < 200 && user_.Sequence().size() < 1 && receiver_.GetQueuedCount() < 10; ++wait)
      Sleep(10);
    Sleep(100);
    EXPECT_EQ(receiver_.GetQueuedCount(), 10u);
    EXPECT_LE(receiver_.GetQueuedBytes(), 10 * datagramBytes);
    user_.Hold(false);
    ASSERT_TRUE(user_.WaitForPackets(round * 11 + 11));
    std::vector<uint16_t> sequence = user_.Sequence();
    std::vector<uint16_t> expected{first};
    for (uint16_t i = 31; i <= 40; ++i) expected.push_back(first + i);
    EXPECT_EQ(std::vector<uint16_t>(sequence.end() - 11, sequence.end()), expected);
  }
  int warnings = 0;
  for (const auto& line : driver_.Lines())
    if (line.level == kLogWarning && line.text.find("RTP queue") != std::string::npos) ++warnings;
  EXPECT_EQ(warnings, 2);  // one per overflow run
}

// Packets are received into reused storage: nothing of a longer or extended packet may show
// through in a later, shorter one.
TEST_F(RtpReceiverUnitTest, ReusedPacketsCarryOnlyTheirOwnContents) {
  ASSERT_TRUE(receiver_.Start(0));
  const uint16_t port = receiver_.GetPort();
  auto extended = RtpDatagram(2, 0);
  extended[0] = 0x90;  // X bit: one extension word follows
  for (uint8_t b : {0xBE, 0xDE, 0x00, 0x01, 0x11, 0x22, 0x33, 0x44, 0x55}) extended.push_back(b);
  auto padded = RtpDatagram(5, 4);
  padded[0] = 0xA0;  // P bit: the last two bytes are padding
  padded.back() = 2;
  struct Case {
    std::vector<uint8_t> datagram;
    std::vector<uint8_t> payload;
    std::vector<uint8_t> extension;
  };
  const std::vector<Case> cases = {
      {RtpDatagram(1, 1400), std::vector<uint8_t>(1400, 0xAB), {}},
      {extended, {0x55}, {0x11, 0x22, 0x33, 0x44}},
      {RtpDatagram(3, 1), {0xAB}, {}},
      {RtpDatagram(4, 0), {}, {}},  // header only: rejected
      {padded, {0xAB, 0xAB}, {}},
      {RtpDatagram(6, 700), std::vector<uint8_t>(700, 0xAB), {}},
  };
  // Twice over, so the second round is received into nodes the first one left behind.
  for (int round = 0; round < 2; ++round) {
    for (const auto& c : cases) ASSERT_TRUE(camera_.SendTo("127.0.0.1", port, c.datagram));
    ASSERT_TRUE(user_.WaitForPackets(5 * (round + 1)));
  }
  const auto payloads = user_.Payloads();
  const auto extensions = user_.Extensions();
  const std::vector<uint16_t> sequence = {1, 2, 3, 5, 6, 1, 2, 3, 5, 6};
  ASSERT_EQ(user_.Sequence(), sequence);
  for (size_t i = 0; i < sequence.size(); ++i) {
    const Case& c = cases[sequence[i] - 1];
    EXPECT_EQ(payloads[i], c.payload) << "packet " << i;
    EXPECT_EQ(extensions[i], c.extension) << "packet " << i;
  }
}

TEST_F(RtpReceiverUnitTest, DeliversAgainAfterStopAndStart) {
  for (uint16_t run = 1; run <= 3; ++run) {
    ASSERT_TRUE(receiver_.Start(0)) << run;
    ASSERT_TRUE(camera_.SendTo("127.0.0.1", receiver_.GetPort(), RtpDatagram(run)));
    ASSERT_TRUE(user_.WaitForPackets(run)) << run;
    receiver_.Stop();
    EXPECT_EQ(receiver_.GetQueuedCount(), 0u);
  }
  EXPECT_EQ(user_.Sequence(), (std::vector<uint16_t>{1, 2, 3}));
}

TEST_F(RtpReceiverUnitTest, FailedStartLeavesNothingRunning) {
  UdpTestSocket holder;
  EXPECT_FALSE(receiver_.Start(holder.Port()));
  EXPECT_EQ(receiver_.GetPort(), 0);
  EXPECT_FALSE(receiver_.IsRunning());
  EXPECT_FALSE(receiver_.StartMulticast("not a group", 0, 0));
  EXPECT_FALSE(receiver_.IsRunning());
  // Usable afterwards; a second start while running is refused.
  ASSERT_TRUE(receiver_.Start(0));
  EXPECT_FALSE(receiver_.Start(0));
  ASSERT_TRUE(camera_.SendTo("127.0.0.1", receiver_.GetPort(), RtpDatagram(9)));
  EXPECT_TRUE(user_.WaitForPackets(1));
}

TEST_F(RtpReceiverUnitTest, TimeoutsAndCloseReachTheUser) {
  ASSERT_TRUE(receiver_.Start(0));
  // The select time-out is 2 s.
  for (int i = 0; i < 500 && user_.timeouts == 0; ++i) Sleep(10);
  EXPECT_GE(user_.timeouts, 1);
  receiver_.Stop();
  EXPECT_EQ(user_.closed, 1);
  EXPECT_FALSE(receiver_.IsRunning());
  receiver_.Stop();
  EXPECT_EQ(user_.closed, 1);
}

}  // namespace
}  // namespace vantrel
