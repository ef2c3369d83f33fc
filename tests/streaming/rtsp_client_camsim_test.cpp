// Whole RTSP sessions against the camera simulator's RTSP servers (GStreamer), started by the
// rtsp_server fixture: 127.0.0.230 without auth, .231 Basic, .232 Digest (user "u", password "p").
#include <gtest/gtest.h>
#include <winsock2.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <string>

#include "streaming/base_rtsp_client.h"
#include "support/fake_driver.h"

namespace vantrel {
namespace {

class SessionUser : public IRTSPClientUser {
 public:
  bool SdpInfoReceived(const SdpInfo& info) override {
    std::lock_guard<std::mutex> guard(mutex);
    video = info.video;
    spsSize = info.sequenceParameterSet.size();
    sdpEvent.Set();
    return true;
  }
  void OnInterleavedPacket(const CRTPPacket& packet) override {
    std::lock_guard<std::mutex> guard(mutex);
    payloadTypes.insert(packet.GetPayloadType());
    if (++packets >= 20) enoughPackets.Set();
  }
  void OnSessionEnded() override { ended.Set(); }

  std::mutex mutex;
  MediaDescription video;
  size_t spsSize = 0;
  std::set<uint8_t> payloadTypes;
  int packets = 0;
  CManualEvent sdpEvent;
  CManualEvent enoughPackets;
  CManualEvent ended;
};

// Sends one fault command to a simulated camera's control port; returns its reply line.
std::string SendFault(const char* address, const std::string& command) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(8554);
  to.sin_addr.s_addr = inet_addr(address);
  std::string reply;
  if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof(to)) == 0) {
    std::string line = command + "\n";
    send(s, line.data(), static_cast<int>(line.size()), 0);
    char buffer[256];
    int got = recv(s, buffer, sizeof(buffer), 0);
    if (got > 0) reply.assign(buffer, static_cast<size_t>(got));
  }
  closesocket(s);
  return reply;
}

class RtspClientCamsimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
  void TearDown() override { WSACleanup(); }

  RTSPConnectionParams Params(const char* host, const char* query) {
    RTSPConnectionParams params;
    params.host = host;
    params.user = "u";
    params.password = "p";
    params.urlPath = query;
    params.clientRtpPort = 3556;
    params.clientRtcpPort = 3557;
    return params;
  }

  testing::FakeDriver driver;
};

struct SessionCase {
  const char* name;
  const char* host;
  const char* query;
  uint32_t transport;
  const char* encodingPrefix;
  uint8_t payloadType;
};

TEST_F(RtspClientCamsimTest, SessionsWithEachAuthAndTransport) {
  const SessionCase cases[] = {
      {"no auth, interleaved H.264", "127.0.0.230", "?h26x=4", kRtspTransportInterleaved, "H264", 96},
      {"no auth, UDP H.264 line 2", "127.0.0.230", "?h26x=4&line=2&inst=2", kRtspTransportUdp, "H264", 96},
      {"Basic, interleaved Motion JPEG", "127.0.0.231", "?h26x=0&line=2", kRtspTransportInterleaved, "JPEG",
       26},
      {"Basic, UDP H.264", "127.0.0.231", "?h26x=4", kRtspTransportUdp, "H264", 96},
      {"Digest, interleaved H.264", "127.0.0.232", "?h26x=4&line=3", kRtspTransportInterleaved, "H264", 96},
      {"Digest, UDP H.264", "127.0.0.232", "?h26x=4", kRtspTransportUdp, "H264", 96},
  };
  for (const SessionCase& c : cases) {
    SCOPED_TRACE(c.name);
    SessionUser user;
    CBaseRTSPClient client(&driver);
    ASSERT_TRUE(client.Start(Params(c.host, c.query), &user, c.transport));
    ASSERT_TRUE(user.sdpEvent.Wait(15000));
    {
      std::lock_guard<std::mutex> guard(user.mutex);
      EXPECT_EQ(user.video.encoding.rfind(c.encodingPrefix, 0), 0u) << user.video.encoding;
      EXPECT_EQ(user.video.payloadType, c.payloadType);
      if (c.payloadType == 96) {
        EXPECT_GT(user.spsSize, 0u);
      }
    }
    if (c.transport == kRtspTransportInterleaved) {
      ASSERT_TRUE(user.enoughPackets.Wait(10000));
      std::lock_guard<std::mutex> guard(user.mutex);
      EXPECT_EQ(user.payloadTypes, std::set<uint8_t>{c.payloadType});
    } else {
      // PLAY answered: the session keeps running and the last request was answered.
      for (int i = 0; i < 50 && client.GetResponseParser().GetCSeq() < 3; ++i) Sleep(100);
      EXPECT_TRUE(client.LastRequestAnswered());
      EXPECT_FALSE(user.ended.Wait(0));
    }
    client.Disconnect();
    EXPECT_TRUE(user.ended.Wait(0));
    EXPECT_FALSE(client.IsConnected());
  }
}

TEST_F(RtspClientCamsimTest, WrongPasswordEndsBeforeSetup) {
  for (const char* host : {"127.0.0.231", "127.0.0.232"}) {
    SCOPED_TRACE(host);
    SessionUser user;
    CBaseRTSPClient client(&driver);
    RTSPConnectionParams params = Params(host, "?h26x=4");
    params.password = "wrong";
    ASSERT_TRUE(client.Start(params, &user, kRtspTransportUdp));
    ASSERT_TRUE(user.ended.Wait(10000));
    EXPECT_FALSE(user.sdpEvent.Wait(0));
    EXPECT_EQ(client.GetResponseParser().GetStatusCode(), 401u);
    client.Disconnect();
  }
}

TEST_F(RtspClientCamsimTest, RefusedConnectionFailsPromptly) {
  SessionUser user;
  CBaseRTSPClient client(&driver);
  auto begin = std::chrono::steady_clock::now();
  EXPECT_FALSE(client.Start(Params("127.0.0.239", "?h26x=4"), &user, kRtspTransportUdp));
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));
}

TEST_F(RtspClientCamsimTest, ServerThatStopsAnsweringIsLeftWithinTheTimeouts) {
  // Kept last: the frozen server answers nothing for a few seconds.
  ASSERT_EQ(SendFault("127.0.0.230", "freeze seconds=4").rfind("ok", 0), 0u);
  SessionUser user;
  CBaseRTSPClient client(&driver);
  RTSPConnectionParams params = Params("127.0.0.230", "?h26x=4");
  params.receiveTimeoutMs = 1000;
  auto begin = std::chrono::steady_clock::now();
  ASSERT_TRUE(client.Start(params, &user, kRtspTransportUdp));
  ASSERT_TRUE(user.ended.Wait(5000));
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(3));
  EXPECT_FALSE(user.sdpEvent.Wait(0));
  client.Disconnect();
}

}  // namespace
}  // namespace vantrel
