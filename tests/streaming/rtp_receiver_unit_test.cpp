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
  std::atomic<int> timeouts{0};
  std::atomic<int> closed{0};

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<uint16_t> sequence_;
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
