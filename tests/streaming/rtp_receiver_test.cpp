// RTP and RTCP reception against a stand-in camera in another process (tools/rtp_sender.py),
// wired as a channel wires them: the receiver's user filters by sender and feeds the RTCP
// handler's sequence state. The run script starts the sender and says where it listens
// (LUMIVAR_RTP_SENDER) and where it is to send (LUMIVAR_RTP_DEST: 127.0.0.1 or a group).
#include "streaming/rtp_receiver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>

#include "streaming/rtcp_handler.h"
#include "streaming/udp_test_socket.h"
#include "support/fake_driver.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using testing::Ipv4;
using testing::UdpTestSocket;

constexpr uint32_t kSenderSsrc = 0x5EED1234;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// The few fields of the sender's flat JSON replies.
std::string JsonField(const std::string& json, const std::string& key) {
  const std::string needle = "\"" + key + "\": ";
  size_t at = json.find(needle);
  if (at == std::string::npos) return "";
  at += needle.size();
  if (json[at] == '"') return json.substr(at + 1, json.find('"', at + 1) - at - 1);
  return json.substr(at, json.find_first_of(",}", at) - at);
}

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

uint32_t U32At(const std::vector<uint8_t>& d, size_t at) {
  return (uint32_t{d[at]} << 24) | (uint32_t{d[at + 1]} << 16) | (uint32_t{d[at + 2]} << 8) | d[at + 3];
}

class SenderControl {
 public:
  SenderControl() {
    const std::string address = Env("LUMIVAR_RTP_SENDER");
    const size_t colon = address.rfind(':');
    if (colon != std::string::npos) {
      host_ = address.substr(0, colon);
      port_ = static_cast<uint16_t>(std::stoul(address.substr(colon + 1)));
    }
  }
  bool Configured() const { return port_ != 0; }
  void Post(const std::string& json) {
    socket_.SendTo(host_.c_str(), port_, std::vector<uint8_t>(json.begin(), json.end()));
  }
  std::string Reply(uint32_t timeoutMs = 15000) {
    auto data = socket_.Receive(timeoutMs);
    return std::string(data.begin(), data.end());
  }
  std::string Command(const std::string& json) {
    Post(json);
    return Reply();
  }

 private:
  UdpTestSocket socket_;
  std::string host_;
  uint16_t port_ = 0;
};

// What a channel does with the packets, reduced to what the tests look at.
class StreamUser : public IRTPReceiverUser, public IRTCPHandlerUser {
 public:
  StreamUser(uint32_t camera, CRTCPHandler* handler) : camera_(camera), handler_(handler) {}

  void OnRtpPacket(const sockaddr_in* sender, CRTPPacket* packet) override {
    if (sender->sin_addr.s_addr != camera_) return;
    const uint16_t seq = packet->GetSequenceNumber();
    // The sender fills the payload with the sequence number, so mixed-up buffers show.
    const bool intact = packet->GetPayloadLength() >= 2 && packet->GetPayload()[0] == (seq >> 8) &&
                        packet->GetPayload()[1] == (seq & 0xFF) && packet->GetSsrc() == kSenderSsrc;
    handler_->UpdateSequence(seq);
    std::lock_guard<std::mutex> guard(mutex_);
    sequence_.push_back(seq);
    if (!intact) ++damaged_;
    changed_.notify_all();
  }
  void ReceiveTimedOut(IRTPClient*) override {}
  void ClientClosed(IRTPClient*) override {}
  void RTCPByeReceived() override { bye.Set(); }

  bool WaitForPackets(size_t count, std::chrono::milliseconds bound = 10000ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, bound, [&] { return sequence_.size() >= count; });
  }
  std::vector<uint16_t> Sequence() {
    std::lock_guard<std::mutex> guard(mutex_);
    return sequence_;
  }
  int Damaged() {
    std::lock_guard<std::mutex> guard(mutex_);
    return damaged_;
  }

  CEvent bye{false};

 private:
  const uint32_t camera_;
  CRTCPHandler* const handler_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<uint16_t> sequence_;
  int damaged_ = 0;
};

class RtpReceptionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(control_.Configured()) << "run through tests/streaming/tools/run_with_sender.sh";
    dest_ = Env("LUMIVAR_RTP_DEST");
    ASSERT_FALSE(dest_.empty());
    multicast_ = dest_ != "127.0.0.1";
    receiver_.SetUser(&user_);
    handler_.SetUser(&user_);
    const uint32_t camera = Ipv4("127.0.0.1");
    if (multicast_) {
      ASSERT_TRUE(receiver_.StartMulticast(dest_.c_str(), 0, camera));
      ASSERT_TRUE(handler_.StartMulticast(camera, dest_.c_str(), 0, camera));
    } else {
      ASSERT_TRUE(receiver_.Start(0));
      ASSERT_TRUE(handler_.Start(camera, 0));
    }
    rtpPort_ = receiver_.GetPort();
    rtcpPort_ = handler_.GetPort();
  }
  void TearDown() override {
    receiver_.Stop();
    handler_.Stop();
  }

  std::string Stream(uint16_t firstSeq, int count) {
    return control_.Command("{\"cmd\": \"stream\", \"dest\": \"" + dest_ + "\", \"rtp_port\": " +
                            std::to_string(rtpPort_) + ", \"first_seq\": " + std::to_string(firstSeq) +
                            ", \"count\": " + std::to_string(count) + ", \"interval_ms\": 1}");
  }
  std::string Report() {
    return control_.Command("{\"cmd\": \"report\", \"dest\": \"" + dest_ +
                            "\", \"rtcp_port\": " + std::to_string(rtcpPort_) + "}");
  }

  testing::WinsockScope winsock_;
  vantrel::testing::FakeDriver driver_;
  SenderControl control_;
  CRTPReceiver receiver_{&driver_};
  CRTCPHandler handler_{&driver_};
  StreamUser user_{Ipv4("127.0.0.1"), &handler_};
  std::string dest_;
  bool multicast_ = false;
  uint16_t rtpPort_ = 0;
  uint16_t rtcpPort_ = 0;
};

TEST_F(RtpReceptionTest, PacketsArriveInOrderAndTheReportDescribesThem) {
  constexpr uint16_t kFirst = 65500;
  constexpr int kCount = 100;
  ASSERT_NE(Stream(kFirst, kCount), "");
  ASSERT_TRUE(user_.WaitForPackets(kCount));
  const auto sequence = user_.Sequence();
  for (int i = 0; i < kCount; ++i) ASSERT_EQ(sequence[i], static_cast<uint16_t>(kFirst + i)) << i;
  EXPECT_EQ(user_.Damaged(), 0);

  const std::string reply = Report();
  const auto rr = FromHex(JsonField(reply, "rr"));
  ASSERT_EQ(rr.size(), 32u) << reply;
  EXPECT_EQ(JsonField(reply, "rr_from"), "127.0.0.1");
  EXPECT_EQ(rr[0], 0x81);
  EXPECT_EQ(rr[1], 201);
  EXPECT_EQ(U32At(rr, 4), handler_.GetOwnSsrc());
  EXPECT_EQ(U32At(rr, 8), kSenderSsrc);
  // One wrap: the cycle count plus the last sequence number.
  EXPECT_EQ(U32At(rr, 16), 65536u + static_cast<uint16_t>(kFirst + kCount - 1));
  EXPECT_EQ(U32At(rr, 24), std::stoul(JsonField(reply, "lsr")));
  const double roundTripMs = std::stod(JsonField(reply, "rr_after_ms"));
  EXPECT_LE(U32At(rr, 28), static_cast<uint32_t>((roundTripMs + 5) * 65.536));

  // A later report still goes to the sender and reflects the newer packets.
  ASSERT_NE(Stream(static_cast<uint16_t>(kFirst + kCount), 10), "");
  ASSERT_TRUE(user_.WaitForPackets(kCount + 10));
  const auto second = FromHex(JsonField(Report(), "rr"));
  ASSERT_EQ(second.size(), 32u);
  EXPECT_EQ(U32At(second, 16), 65536u + static_cast<uint16_t>(kFirst + kCount + 9));
}

TEST_F(RtpReceptionTest, ByeIsReportedAndSaidBack) {
  ASSERT_EQ(FromHex(JsonField(Report(), "rr")).size(), 32u);
  control_.Command("{\"cmd\": \"bye\", \"dest\": \"" + dest_ +
                   "\", \"rtcp_port\": " + std::to_string(rtcpPort_) + "}");
  EXPECT_TRUE(user_.bye.Wait(5000));

  // After the camera's BYE there is nothing to say goodbye to; after a new report there is.
  ASSERT_EQ(FromHex(JsonField(Report(), "rr")).size(), 32u);
  const uint32_t ssrc = handler_.GetOwnSsrc();
  control_.Post("{\"cmd\": \"expect\", \"dest\": \"" + dest_ + "\", \"wait_ms\": 5000}");
  handler_.Stop();
  const auto bye = FromHex(JsonField(control_.Reply(), "data"));
  ASSERT_EQ(bye.size(), 8u);
  EXPECT_EQ(U32At(bye, 0), 0x81CB0001u);
  EXPECT_EQ(U32At(bye, 4), ssrc);
}

TEST_F(RtpReceptionTest, StopWhileDataFlowsIsBounded) {
  control_.Post("{\"cmd\": \"flood\", \"dest\": \"" + dest_ +
                "\", \"rtp_port\": " + std::to_string(rtpPort_) + ", \"duration_ms\": 4000}");
  ASSERT_TRUE(user_.WaitForPackets(200));
  const auto started = std::chrono::steady_clock::now();
  receiver_.Stop();
  const auto took = std::chrono::steady_clock::now() - started;
  // The UDP join bound (6 s) and the queue thread's stop bound (2 s).
  EXPECT_LT(took, 8000ms);
  EXPECT_EQ(receiver_.GetPort(), 0);
  EXPECT_EQ(receiver_.GetQueuedCount(), 0u);
  EXPECT_NE(control_.Reply(), "");
}

}  // namespace
}  // namespace vantrel
