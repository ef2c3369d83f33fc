#include "streaming/udp_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "streaming/udp_test_socket.h"
#include "support/fake_driver.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using testing::Endpoint;
using testing::UdpTestSocket;

class RecordingUser : public IRTPClientUser {
 public:
  void DatagramReceived(IRTPClient*, const sockaddr_in* sender, const uint8_t* data,
                        uint32_t length) override {
    std::lock_guard<std::mutex> guard(mutex_);
    datagrams_.emplace_back(data, data + length);
    lastSender_ = *sender;
    changed_.notify_all();
  }
  void ReceiveTimedOut(IRTPClient*) override {
    std::lock_guard<std::mutex> guard(mutex_);
    ++timeouts_;
    changed_.notify_all();
  }
  void ClientClosed(IRTPClient*) override { ++closed_; }
  void BurstReceived(IRTPClient*) override {
    std::lock_guard<std::mutex> guard(mutex_);
    ++bursts_;
    deliveredAtLastBurst_ = datagrams_.size();
    changed_.notify_all();
  }

  // True once a burst's end was reported after the count-th datagram.
  bool WaitForBurstEndAfter(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, 3000ms, [&] { return deliveredAtLastBurst_ >= count; });
  }
  int Bursts() {
    std::lock_guard<std::mutex> guard(mutex_);
    return bursts_;
  }

  bool WaitForDatagrams(size_t count, std::chrono::milliseconds bound = 3000ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, bound, [&] { return datagrams_.size() >= count; });
  }
  bool WaitForTimeouts(int count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, 3000ms, [&] { return timeouts_ >= count; });
  }
  std::vector<std::vector<uint8_t>> Datagrams() {
    std::lock_guard<std::mutex> guard(mutex_);
    return datagrams_;
  }
  sockaddr_in LastSender() {
    std::lock_guard<std::mutex> guard(mutex_);
    return lastSender_;
  }
  std::atomic<int> closed_{0};

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::vector<uint8_t>> datagrams_;
  sockaddr_in lastSender_{};
  int timeouts_ = 0;
  int bursts_ = 0;
  size_t deliveredAtLastBurst_ = 0;
};

class UdpClientTest : public ::testing::Test {
 protected:
  testing::WinsockScope winsock_;
  vantrel::testing::FakeDriver driver_;
};

TEST_F(UdpClientTest, OpenRefusals) {
  RecordingUser user;
  CUDPClient client(&driver_);
  EXPECT_FALSE(client.Open(nullptr, 0));
  for (const char* group :
       {static_cast<const char*>(nullptr), "", "239.1.1", "not-an-address", "239.1.1.1.1"})
    EXPECT_FALSE(client.OpenMulticast(&user, group, 0, 0)) << (group ? group : "null");
  EXPECT_FALSE(client.IsOpen());
  EXPECT_EQ(user.closed_, 0);  // nothing was open, so nothing to report closed

  // A port another socket holds.
  UdpTestSocket holder;
  EXPECT_FALSE(client.Open(&user, holder.Port()));
  EXPECT_EQ(client.GetPort(), 0);
}

TEST_F(UdpClientTest, SecondOpenKeepsTheStreamingSocket) {
  RecordingUser user;
  CUDPClient client(&driver_);
  ASSERT_TRUE(client.Open(&user, 0));
  const uint16_t port = client.GetPort();
  EXPECT_NE(port, 0);
  EXPECT_FALSE(client.Open(&user, 0));
  EXPECT_EQ(client.GetPort(), port);

  UdpTestSocket camera;
  ASSERT_TRUE(camera.SendTo("127.0.0.1", port, {1, 2, 3}));
  ASSERT_TRUE(user.WaitForDatagrams(1));
  EXPECT_EQ(user.Datagrams()[0], (std::vector<uint8_t>{1, 2, 3}));
  const sockaddr_in from = user.LastSender();
  EXPECT_EQ(from.sin_addr.s_addr, testing::Ipv4("127.0.0.1"));
  EXPECT_EQ(ntohs(from.sin_port), camera.Port());
}

TEST_F(UdpClientTest, OversizedDatagramGrowsTheReceiveSize) {
  RecordingUser user;
  CUDPClient client(&driver_);
  ASSERT_TRUE(client.Open(&user, 0));
  client.SetReceiveSize(100);
  UdpTestSocket camera;
  const std::vector<uint8_t> big(150, 0x5A);
  ASSERT_TRUE(camera.SendTo("127.0.0.1", client.GetPort(), big));
  // The oversized datagram is lost; the next one of that size fits.
  ASSERT_TRUE(camera.SendTo("127.0.0.1", client.GetPort(), big));
  ASSERT_TRUE(user.WaitForDatagrams(1));
  EXPECT_EQ(client.GetReceiveSize(), 100u + CUDPClient::kReceiveSizeStep);
  auto got = user.Datagrams();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], big);
}

TEST_F(UdpClientTest, BurstWithEmptyAndOversizedDatagramsDeliversTheRestInOrder) {
  RecordingUser user;
  CUDPClient client(&driver_);
  ASSERT_TRUE(client.Open(&user, 0));
  client.SetReceiveSize(200);
  UdpTestSocket camera;
  // Sent back to back, so the client finds them queued together and reads them in one go.
  const std::vector<std::vector<uint8_t>> burst = {{1}, {}, std::vector<uint8_t>(300, 0x33), {2, 2},
                                                   {},  {}, std::vector<uint8_t>(200, 0x44), {3}};
  for (const auto& datagram : burst) ASSERT_TRUE(camera.SendTo("127.0.0.1", client.GetPort(), datagram));
  const std::vector<std::vector<uint8_t>> expected = {{1}, {2, 2}, std::vector<uint8_t>(200, 0x44), {3}};
  ASSERT_TRUE(user.WaitForDatagrams(expected.size()));
  std::this_thread::sleep_for(100ms);  // anything wrongly let through would show up by now
  EXPECT_EQ(user.Datagrams(), expected);
  EXPECT_EQ(client.GetReceiveSize(), 200u + CUDPClient::kReceiveSizeStep);
}

// A user that hands datagrams to another thread signals it only at a burst's end; a burst end
// missing after the last datagram would leave that thread asleep with packets waiting.
TEST_F(UdpClientTest, EveryDeliveredDatagramIsFollowedByABurstEnd) {
  RecordingUser user;
  CUDPClient client(&driver_);
  ASSERT_TRUE(client.Open(&user, 0));
  UdpTestSocket camera;
  size_t sent = 0;
  for (size_t burst : {1u, 40u, 3u}) {
    for (size_t i = 0; i < burst; ++i)
      ASSERT_TRUE(camera.SendTo("127.0.0.1", client.GetPort(), {static_cast<uint8_t>(i), 1}));
    sent += burst;
    ASSERT_TRUE(user.WaitForDatagrams(sent));
    EXPECT_TRUE(user.WaitForBurstEndAfter(sent)) << "after " << sent << " datagrams";
  }
  // Bursts are read as they come, never one wake-up per empty read: at most one per datagram.
  EXPECT_GE(user.Bursts(), 3);
  EXPECT_LE(user.Bursts(), static_cast<int>(sent));
}

// A key frame of a 1080p stream arrives as a burst of hundreds of datagrams; the socket must hold
// them while the receive thread is held up, which a 64 KiB buffer cannot.
TEST_F(UdpClientTest, SocketHoldsAKeyFrameBurstWhileTheReaderIsBusy) {
  class BlockingUser : public RecordingUser {
   public:
    void DatagramReceived(IRTPClient* client, const sockaddr_in* sender, const uint8_t* data,
                          uint32_t length) override {
      RecordingUser::DatagramReceived(client, sender, data, length);
      std::unique_lock<std::mutex> lock(holdMutex_);
      released_.wait(lock, [&] { return !holding_; });
    }
    void Release() {
      std::lock_guard<std::mutex> guard(holdMutex_);
      holding_ = false;
      released_.notify_all();
    }

   private:
    std::mutex holdMutex_;
    std::condition_variable released_;
    bool holding_ = true;
  } user;
  CUDPClient client(&driver_);
  // Lets the receive thread go before the client is destroyed, even when an assertion ends the test.
  struct Releaser {
    BlockingUser& user;
    ~Releaser() { user.Release(); }
  } releaser{user};
  ASSERT_TRUE(client.Open(&user, 0));
  client.SetReceiveSize(1500);
  UdpTestSocket camera;
  ASSERT_TRUE(camera.SendTo("127.0.0.1", client.GetPort(), {0}));
  ASSERT_TRUE(user.WaitForDatagrams(1));  // the receive thread is now held inside the first one
  constexpr int kBurst = 400;             // 400 x 1400 bytes: 560 KB, about a 4 Mbit/s key frame
  for (int i = 0; i < kBurst; ++i) {
    std::vector<uint8_t> datagram(1400, static_cast<uint8_t>(i));
    datagram[0] = static_cast<uint8_t>(i >> 8);
    ASSERT_TRUE(camera.SendTo("127.0.0.1", client.GetPort(), datagram));
  }
  std::this_thread::sleep_for(100ms);
  user.Release();
  ASSERT_TRUE(user.WaitForDatagrams(1 + kBurst, 5000ms)) << user.Datagrams().size() << " arrived";
  const auto got = user.Datagrams();
  for (int i = 0; i < kBurst; ++i) {
    ASSERT_EQ(got[1 + i].size(), 1400u);
    ASSERT_EQ(got[1 + i][0], static_cast<uint8_t>(i >> 8)) << i;
    ASSERT_EQ(got[1 + i][1], static_cast<uint8_t>(i)) << i;
  }
}

TEST_F(UdpClientTest, QuietSocketReportsTimeouts) {
  RecordingUser user;
  CUDPClient client(&driver_);
  client.SetSelectTimeout(50);
  ASSERT_TRUE(client.Open(&user, 0));
  EXPECT_TRUE(user.WaitForTimeouts(3));
}

TEST_F(UdpClientTest, SendDeliversAllBytesAndFailsWhenClosed) {
  RecordingUser user;
  CUDPClient client(&driver_);
  UdpTestSocket peer;
  const std::vector<uint8_t> data = {9, 8, 7, 6, 5};
  EXPECT_FALSE(client.Send(Endpoint("127.0.0.1", peer.Port()), data.data(), 5));
  ASSERT_TRUE(client.Open(&user, 0));
  EXPECT_TRUE(client.Send(Endpoint("127.0.0.1", peer.Port()), data.data(), 5));
  EXPECT_EQ(peer.Receive(), data);
  client.Close();
  EXPECT_FALSE(client.Send(Endpoint("127.0.0.1", peer.Port()), data.data(), 5));
}

TEST_F(UdpClientTest, CloseWhileFloodedIsBoundedAndReportsOnce) {
  RecordingUser user;
  CUDPClient client(&driver_);
  ASSERT_TRUE(client.Open(&user, 0));
  const uint16_t port = client.GetPort();
  std::atomic<bool> flooding{true};
  std::thread flood([&] {
    UdpTestSocket camera;
    const auto packet = testing::RtpDatagram(1, 1000);
    while (flooding) camera.SendTo("127.0.0.1", port, packet);
  });
  ASSERT_TRUE(user.WaitForDatagrams(100));
  const auto started = std::chrono::steady_clock::now();
  client.Close();
  const auto took = std::chrono::steady_clock::now() - started;
  flooding = false;
  flood.join();
  // The join bound: max(select 2 s, socket 5 s) + 1 s.
  EXPECT_LT(took, 6000ms);
  EXPECT_EQ(user.closed_, 1);
  EXPECT_EQ(client.GetPort(), 0);
  EXPECT_FALSE(client.IsRunning());
  client.Close();
  EXPECT_EQ(user.closed_, 1);

  // The same object opens again afterwards.
  ASSERT_TRUE(client.Open(&user, port));
  UdpTestSocket camera;
  const size_t before = user.Datagrams().size();
  ASSERT_TRUE(camera.SendTo("127.0.0.1", port, {42}));
  ASSERT_TRUE(user.WaitForDatagrams(before + 1));
}

}  // namespace
}  // namespace vantrel
