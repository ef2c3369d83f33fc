#include "streaming/base_rtsp_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "control/md5.h"
#include "streaming/base64.h"
#include "streaming/rtsp_client_fake_server.h"
#include "support/fake_driver.h"

namespace vantrel {
namespace {

using testing::FakeReply;
using testing::RequestMethod;
using testing::RtspAnswer;
using testing::RtspFakeServer;

class RecordingUser : public IRTSPClientUser {
 public:
  bool SdpInfoReceived(const SdpInfo& info) override {
    sdpCount++;
    std::lock_guard<std::mutex> guard(mutex);
    video = info.video;
    if (throwOnSdp) throw std::runtime_error("user failure");
    return acceptSdp;
  }
  void OnInterleavedPacket(const CRTPPacket& packet) override {
    std::lock_guard<std::mutex> guard(mutex);
    sequenceNumbers.push_back(packet.GetSequenceNumber());
    packetEvent.Set();
  }
  void OnSessionEnded() override {
    endedCount++;
    ended.Set();
  }

  bool acceptSdp = true;
  bool throwOnSdp = false;
  std::atomic<int> sdpCount{0};
  std::atomic<int> endedCount{0};
  CManualEvent ended;
  CEvent packetEvent;
  std::mutex mutex;
  MediaDescription video;
  std::vector<uint16_t> sequenceNumbers;
};

const char kSdp[] =
    "v=0\r\n"
    "o=- 1 1 IN IP4 127.0.0.1\r\n"
    "s=cam\r\n"
    "t=0 0\r\n"
    "m=video 0 RTP/AVP 96\r\n"
    "a=rtpmap:96 H264/90000\r\n"
    "a=control:trackID=1\r\n";

// A well-behaved camera: answers every method, optionally with a Content-Base.
FakeReply CameraReply(const std::string& request, const std::string& contentBase,
                      const std::string& sessionHeader = "Session: 1234;timeout=60\r\n") {
  std::string method = RequestMethod(request);
  if (method == "DESCRIBE") {
    std::string base = contentBase.empty() ? "" : "Content-Base: " + contentBase + "\r\n";
    return {RtspAnswer(request, "200 OK", base + "Content-Type: application/sdp\r\n", kSdp)};
  }
  if (method == "SETUP")
    return {RtspAnswer(request, "200 OK",
                       sessionHeader + "Transport: RTP/AVP;unicast;client_port=4000-4001\r\n")};
  return {RtspAnswer(request, "200 OK", sessionHeader)};
}

std::string Base64NoBreaks(const std::string& text) {
  std::string encoded = Base64Encode(text);
  std::string out;
  for (char c : encoded)
    if (c != '\r' && c != '\n') out += c;
  return out;
}

class RtspClientTest : public ::testing::Test {
 protected:
  RTSPConnectionParams Params(uint16_t port) {
    RTSPConnectionParams params;
    params.host = "127.0.0.1";
    params.serverPort = port;
    params.clientRtpPort = 3556;
    params.clientRtcpPort = 3557;
    params.urlPath = "?h26x=4&line=2";
    params.receiveTimeoutMs = 2000;
    return params;
  }

  testing::FakeDriver driver;
  RecordingUser user;
};

TEST_F(RtspClientTest, FullSessionSendsTheExactRequests) {
  RtspFakeServer server([](const std::string& r, size_t) { return CameraReply(r, ""); });
  CBaseRTSPClient client(&driver);
  ASSERT_TRUE(client.Start(Params(server.Port()), &user, kRtspTransportUdp));
  ASSERT_TRUE(server.WaitForRequests(3));
  client.Disconnect();
  ASSERT_TRUE(server.WaitForRequests(4));
  EXPECT_TRUE(user.ended.Wait(5000));

  std::string url = "rtsp://127.0.0.1:" + std::to_string(server.Port()) + "/?h26x=4&line=2";
  std::vector<std::string> requests = server.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(
      requests[0],
      "DESCRIBE " + url + " RTSP/1.0\r\nCSeq: 1\r\nUser-Agent: Vantrel\r\nAccept: application/sdp\r\n\r\n");
  EXPECT_EQ(requests[1], "SETUP " + url +
                             "/trackID=1 RTSP/1.0\r\nCSeq: 2\r\nUser-Agent: Vantrel\r\n"
                             "Transport: RTP/AVP/UDP;unicast;client_port=3556-3557\r\n\r\n");
  EXPECT_EQ(requests[2], "PLAY " + url +
                             " RTSP/1.0\r\nCSeq: 3\r\nUser-Agent: Vantrel\r\nSession: 1234\r\n"
                             "Range: npt=0.000-\r\n\r\n");
  EXPECT_EQ(requests[3],
            "TEARDOWN " + url + " RTSP/1.0\r\nCSeq: 4\r\nUser-Agent: Vantrel\r\nSession: 1234\r\n\r\n");
  EXPECT_EQ(user.sdpCount.load(), 1);
  EXPECT_EQ(user.endedCount.load(), 1);
  EXPECT_FALSE(client.IsConnected());
}

// A stop aborts the client: a session that was about to start does not, the running one ends
// at once, and only the owner's restart (ResetAbort) lets the client start again.
TEST_F(RtspClientTest, AnAbortedClientStartsNoSessionUntilReset) {
  RtspFakeServer server([](const std::string& r, size_t) { return CameraReply(r, ""); });
  CBaseRTSPClient client(&driver);
  client.Abort();
  EXPECT_FALSE(client.Start(Params(server.Port()), &user, kRtspTransportUdp));
  Sleep(200);
  EXPECT_TRUE(server.Requests().empty());
  client.ResetAbort();
  ASSERT_TRUE(client.Start(Params(server.Port()), &user, kRtspTransportUdp));
  ASSERT_TRUE(server.WaitForRequests(3));
  client.Abort();
  EXPECT_TRUE(user.ended.Wait(5000)) << "the session went on after the abort";
  client.Disconnect();
  EXPECT_FALSE(client.IsConnected());
}

struct UrlCase {
  const char* name;
  const char* urlPath;
  const char* contentBase;  // empty: none; "$" stands for the server's host:port
  const char* control;
  const char* expectedDescribe;
  const char* expectedSetup;
};

TEST_F(RtspClientTest, RequestAndTrackUrls) {
  const UrlCase cases[] = {
      {"empty path", "", "", "trackID=1", "rtsp://$/", "rtsp://$/trackID=1"},
      {"leading slashes dropped", "//live", "", "trackID=1", "rtsp://$/live", "rtsp://$/live/trackID=1"},
      {"content base used", "?h26x=4", "rtsp://$/live/", "trackID=1", "rtsp://$/?h26x=4",
       "rtsp://$/live/trackID=1"},
      {"absolute control", "", "", "rtsp://10.0.0.1/x/track5", "rtsp://$/", "rtsp://10.0.0.1/x/track5"},
      // An absolute path replaces the base's path, "*" is the aggregate itself (RFC 3986, 2326).
      {"control with slash", "live/", "", "/stream=0", "rtsp://$/live/", "rtsp://$/stream=0"},
      {"absolute path against content base", "x", "rtsp://$/live/main/", "/media/v1", "rtsp://$/x",
       "rtsp://$/media/v1"},
      {"aggregate control", "live", "rtsp://$/cam/", "*", "rtsp://$/live", "rtsp://$/cam/"},
      {"empty control", "live", "", "", "rtsp://$/live", "rtsp://$/live"},
  };
  for (const UrlCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto replace = [](std::string text, const std::string& hostPort) {
      for (size_t at; (at = text.find('$')) != std::string::npos;) text.replace(at, 1, hostPort);
      return text;
    };
    std::string hostPort;
    RtspFakeServer server([&](const std::string& r, size_t) {
      if (RequestMethod(r) != "DESCRIBE") return CameraReply(r, "");
      std::string sdp = "v=0\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n";
      if (*c.control) sdp += std::string("a=control:") + c.control + "\r\n";
      std::string base = *c.contentBase ? "Content-Base: " + replace(c.contentBase, hostPort) + "\r\n" : "";
      return FakeReply{RtspAnswer(r, "200 OK", base, sdp), false, false};
    });
    hostPort = "127.0.0.1:" + std::to_string(server.Port());
    CBaseRTSPClient client(&driver);
    RTSPConnectionParams params = Params(server.Port());
    params.urlPath = c.urlPath;
    ASSERT_TRUE(client.Start(params, &user, kRtspTransportUdp));
    ASSERT_TRUE(server.WaitForRequests(2));
    client.Disconnect();
    std::vector<std::string> requests = server.Requests();
    EXPECT_EQ(requests[0].substr(0, requests[0].find(" RTSP/1.0")),
              "DESCRIBE " + replace(c.expectedDescribe, hostPort));
    EXPECT_EQ(requests[1].substr(0, requests[1].find(" RTSP/1.0")),
              "SETUP " + replace(c.expectedSetup, hostPort));
  }
}

struct TransportCase {
  const char* name;
  uint32_t mode;
  bool multicast;
  uint32_t blockSize;
  const char* expectedTransport;
  bool expectBlockSize;
};

TEST_F(RtspClientTest, TransportAndBlockSizeLines) {
  const TransportCase cases[] = {
      {"udp", kRtspTransportUdp, false, 100, "RTP/AVP/UDP;unicast;client_port=3556-3557", false},
      {"tcp", kRtspTransportTcp, false, 101, "RTP/AVP/TCP;unicast;client_port=3556-3557", true},
      {"interleaved", kRtspTransportInterleaved, false, 0, "RTP/AVP/TCP;unicast", false},
      {"multicast takes the sdp port", kRtspTransportUdp, true, 0,
       "RTP/AVP/UDP;multicast;client_port=5000-5001", false},
      {"multicast flag ignored over tcp", kRtspTransportTcp, true, 0,
       "RTP/AVP/TCP;unicast;client_port=3556-3557", false},
  };
  for (const TransportCase& c : cases) {
    SCOPED_TRACE(c.name);
    RtspFakeServer server([](const std::string& r, size_t) {
      if (RequestMethod(r) == "DESCRIBE")
        return FakeReply{RtspAnswer(r, "200 OK", "", "v=0\r\nm=video 5000 RTP/AVP 96\r\na=control:t1\r\n")};
      // Interleaved PLAY reads no response; closing ends the session promptly.
      if (RequestMethod(r) == "PLAY") return FakeReply{"", true};
      return CameraReply(r, "");
    });
    CBaseRTSPClient client(&driver);
    client.SetMulticast(c.multicast);
    RTSPConnectionParams params = Params(server.Port());
    params.blockSize = c.blockSize;
    ASSERT_TRUE(client.Start(params, &user, c.mode));
    ASSERT_TRUE(server.WaitForRequests(3));
    client.Disconnect();
    std::vector<std::string> requests = server.Requests();
    EXPECT_NE(requests[1].find(std::string("\r\nTransport: ") + c.expectedTransport + "\r\n"),
              std::string::npos)
        << requests[1];
    std::string blockLine = "Blocksize: " + std::to_string(c.blockSize) + "\r\n";
    EXPECT_EQ(requests[1].find(blockLine) != std::string::npos, c.expectBlockSize);
    EXPECT_EQ(requests[2].find(blockLine) != std::string::npos, c.expectBlockSize);
  }
}

TEST_F(RtspClientTest, DigestChallengeIsAnsweredOnceThenGivesUp) {
  for (bool secondAlsoRefused : {false, true}) {
    SCOPED_TRACE(secondAlsoRefused ? "refused twice" : "accepted on retry");
    RtspFakeServer server([&](const std::string& r, size_t index) {
      bool refuse = index == 0 || (secondAlsoRefused && index == 1);
      if (refuse && RequestMethod(r) == "DESCRIBE")
        return FakeReply{RtspAnswer(r, "401 Unauthorized",
                                    "WWW-Authenticate: Digest realm=\"cam\", nonce=\"abc123\"\r\n")};
      return CameraReply(r, "");
    });
    CBaseRTSPClient client(&driver);
    RTSPConnectionParams params = Params(server.Port());
    params.user = "u";
    params.password = "p";
    params.authMode = kRtspAuthBasic;
    ASSERT_TRUE(client.Start(params, &user, kRtspTransportUdp));
    if (secondAlsoRefused) {
      ASSERT_TRUE(user.ended.Wait(5000));
      EXPECT_EQ(server.Requests().size(), 2u);  // no loop, and no TEARDOWN after a failed DESCRIBE
    } else {
      ASSERT_TRUE(server.WaitForRequests(4));
    }
    client.Disconnect();
    std::vector<std::string> requests = server.Requests();
    std::string url = "rtsp://127.0.0.1:" + std::to_string(server.Port()) + "/?h26x=4&line=2";
    EXPECT_NE(requests[0].find("CSeq: 1\r\nAuthorization: Basic dTpw\r\n"), std::string::npos);
    std::string ha1 = Md5Hex("u:cam:p");
    for (size_t i = 1; i < requests.size(); ++i) {
      std::string method = RequestMethod(requests[i]);
      // The digest URI is the URI of the request line, so the track URL for SETUP.
      std::string uri = method == "SETUP" ? url + "/trackID=1" : url;
      std::string expected = "Authorization: Digest username=\"u\", realm=\"cam\", nonce=\"abc123\", uri=\"" +
                             uri + "\", response=\"" + Md5Hex(ha1 + ":abc123:" + Md5Hex(method + ":" + uri)) +
                             "\"\r\n";
      EXPECT_NE(requests[i].find(expected), std::string::npos) << requests[i];
    }
    EXPECT_NE(requests[1].find("CSeq: 2\r\n"), std::string::npos);
    user.ended.Reset();
  }
}

TEST_F(RtspClientTest, BasicCredentialsGoIntoOneHeaderLine) {
  struct Case {
    size_t userLength, passwordLength, sentLength;  // sentLength: characters of "user:password" sent
  };
  // Past 57 characters the encoding passes 76 characters, where a MIME line break used to end the
  // header early; past 99 the credentials are cut, as they always were.
  const Case cases[] = {{1, 1, 3}, {30, 29, 60}, {40, 40, 81}, {49, 49, 99}, {60, 60, 99}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.userLength + c.passwordLength + 1);
    RtspFakeServer server([](const std::string& r, size_t) { return CameraReply(r, ""); });
    CBaseRTSPClient client(&driver);
    RTSPConnectionParams params = Params(server.Port());
    params.authMode = kRtspAuthBasic;
    params.user = std::string(c.userLength, 'u');
    params.password = std::string(c.passwordLength, 'p');
    ASSERT_TRUE(client.Start(params, &user, kRtspTransportUdp));
    ASSERT_TRUE(server.WaitForRequests(1));
    client.Disconnect();
    std::string credentials = (params.user + ":" + params.password).substr(0, c.sentLength);
    EXPECT_NE(server.Requests()[0].find("\r\nAuthorization: Basic " + Base64NoBreaks(credentials) +
                                        "\r\nUser-Agent: Vantrel\r\n"),
              std::string::npos)
        << server.Requests()[0];
  }
}

TEST_F(RtspClientTest, PauseAndPlayEventsAndKeepAlive) {
  RtspFakeServer server(
      [](const std::string& r, size_t) { return CameraReply(r, "", "Session: 77;timeout=2\r\n"); });
  CBaseRTSPClient client(&driver);
  ASSERT_TRUE(client.Start(Params(server.Port()), &user, kRtspTransportUdp));
  ASSERT_TRUE(server.WaitForRequests(3));  // DESCRIBE, SETUP, PLAY
  EXPECT_EQ(client.GetSessionTimeoutMs(), 2000u);
  client.RequestPause();
  ASSERT_TRUE(server.WaitForRequests(4));
  client.RequestPlay();
  ASSERT_TRUE(server.WaitForRequests(5));
  // A 2 s session timeout makes every 2 s check send a keep-alive.
  ASSERT_TRUE(server.WaitForRequests(7, 8000));
  client.Disconnect();
  std::vector<std::string> requests = server.Requests();
  EXPECT_EQ(RequestMethod(requests[3]), "PAUSE");
  EXPECT_NE(requests[3].find("Session: 77\r\nRange: npt=0.000-\r\n"), std::string::npos);
  EXPECT_EQ(RequestMethod(requests[4]), "PLAY");
  EXPECT_EQ(RequestMethod(requests[5]), "OPTIONS");
  EXPECT_NE(requests[5].find("Session: 77\r\n"), std::string::npos);
  EXPECT_TRUE(client.LastRequestAnswered());
  EXPECT_FALSE(client.IsPaused());
}

// The requests other than keep-alives, which come whenever the session idles and would make
// the order depend on timing.
std::vector<std::string> WithoutKeepAlives(const std::vector<std::string>& requests) {
  std::vector<std::string> kept;
  for (const std::string& r : requests)
    if (RequestMethod(r) != "OPTIONS") kept.push_back(r);
  return kept;
}

// Waits (bounded) until the `n`-th request (counting from 1) with `method` came in.
bool WaitForMethod(RtspFakeServer& server, const std::string& method, int n, int timeoutMs = 10000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (size_t count = 1;; ++count) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !server.WaitForRequests(count, static_cast<int>(left.count()))) return false;
    int seen = 0;
    for (const std::string& r : server.Requests())
      if (RequestMethod(r) == method) ++seen;
    if (seen >= n) return true;
  }
}

std::string CSeqOf(const std::string& request) {
  size_t at = request.find("CSeq: ");
  return at == std::string::npos ? std::string() : request.substr(at + 6, request.find("\r\n", at) - at - 6);
}

TEST_F(RtspClientTest, ResumeAfterPausePlaysWithoutARange) {
  RtspFakeServer server(
      [](const std::string& r, size_t) { return CameraReply(r, "", "Session: 77;timeout=60\r\n"); });
  CBaseRTSPClient client(&driver);
  RTSPConnectionParams params = Params(server.Port());
  params.blockSize = 1400;
  ASSERT_TRUE(client.Start(params, &user, kRtspTransportUdp));
  ASSERT_TRUE(WaitForMethod(server, "PLAY", 1));

  // Each wish meets a session already in that state first; neither may reach the camera.
  client.RequestPlay();
  client.RequestPause();
  ASSERT_TRUE(WaitForMethod(server, "PAUSE", 1));
  client.RequestPause();
  client.RequestPlay();
  ASSERT_TRUE(WaitForMethod(server, "PLAY", 2));
  // A second round: the first resume must not leave the session believing it starts afresh.
  client.RequestPause();
  ASSERT_TRUE(WaitForMethod(server, "PAUSE", 2));
  client.RequestPlay();
  ASSERT_TRUE(WaitForMethod(server, "PLAY", 3));
  client.Disconnect();
  EXPECT_FALSE(client.IsPaused());

  std::string url = "rtsp://127.0.0.1:" + std::to_string(server.Port()) + "/?h26x=4&line=2";
  std::vector<std::string> requests = WithoutKeepAlives(server.Requests());
  std::vector<std::string> methods;
  for (const std::string& r : requests) methods.push_back(RequestMethod(r));
  ASSERT_EQ(methods, (std::vector<std::string>{"DESCRIBE", "SETUP", "PLAY", "PAUSE", "PLAY", "PAUSE", "PLAY",
                                               "TEARDOWN"}));
  auto expected = [&](const char* method, const std::string& request, const std::string& tail) {
    return std::string(method) + " " + url + " RTSP/1.0\r\nCSeq: " + CSeqOf(request) +
           "\r\nUser-Agent: Vantrel\r\nSession: 77\r\n" + tail + "\r\n";
  };
  EXPECT_EQ(requests[2], expected("PLAY", requests[2], "Range: npt=0.000-\r\nBlocksize: 1400\r\n"));
  EXPECT_EQ(requests[3], expected("PAUSE", requests[3], "Range: npt=0.000-\r\n"));
  EXPECT_EQ(requests[4], expected("PLAY", requests[4], "Blocksize: 1400\r\n"));
  EXPECT_EQ(requests[5], expected("PAUSE", requests[5], "Range: npt=0.000-\r\n"));
  EXPECT_EQ(requests[6], expected("PLAY", requests[6], "Blocksize: 1400\r\n"));
}

TEST_F(RtspClientTest, AWishMadeWhileReconnectingDecidesTheNextSession) {
  for (bool resume : {true, false}) {
    SCOPED_TRACE(resume ? "resume while reconnecting" : "pause while reconnecting");
    CBaseRTSPClient client(&driver);
    {
      // The first session is paused when its connection goes.
      RtspFakeServer first([](const std::string& r, size_t) { return CameraReply(r, ""); });
      ASSERT_TRUE(client.Start(Params(first.Port()), &user, kRtspTransportUdp));
      ASSERT_TRUE(WaitForMethod(first, "PLAY", 1));
      client.RequestPause();
      ASSERT_TRUE(WaitForMethod(first, "PAUSE", 1));
      client.Disconnect();
    }
    if (resume) client.RequestPlay();
    RtspFakeServer second(
        [](const std::string& r, size_t) { return CameraReply(r, "", "Session: 88;timeout=2\r\n"); });
    ASSERT_TRUE(client.Start(Params(second.Port()), &user, kRtspTransportUdp));
    if (!resume) {
      // The session idles into a keep-alive: by then a pending PLAY would have gone out first.
      ASSERT_TRUE(WaitForMethod(second, "OPTIONS", 1));
      EXPECT_TRUE(client.IsPaused());
      client.RequestPlay();
    }
    ASSERT_TRUE(WaitForMethod(second, "PLAY", 1));
    client.Disconnect();

    std::vector<std::string> requests = WithoutKeepAlives(second.Requests());
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(RequestMethod(requests[1]), "SETUP");
    // The new session's first PLAY starts its stream, so it carries the range again.
    std::string url = "rtsp://127.0.0.1:" + std::to_string(second.Port()) + "/?h26x=4&line=2";
    EXPECT_EQ(requests[2], "PLAY " + url + " RTSP/1.0\r\nCSeq: " + CSeqOf(requests[2]) +
                               "\r\nUser-Agent: Vantrel\r\nSession: 88\r\nRange: npt=0.000-\r\n\r\n");
    EXPECT_EQ(RequestMethod(requests[3]), "TEARDOWN");
  }
}

TEST_F(RtspClientTest, UnansweredKeepAliveClearsTheLastRequestFlag) {
  RtspFakeServer server([](const std::string& r, size_t) {
    if (RequestMethod(r) == "OPTIONS") return FakeReply{"", false, true};
    return CameraReply(r, "", "Session: 77;timeout=2\r\n");
  });
  CBaseRTSPClient client(&driver);
  RTSPConnectionParams params = Params(server.Port());
  params.receiveTimeoutMs = 500;
  ASSERT_TRUE(client.Start(params, &user, kRtspTransportUdp));
  ASSERT_TRUE(server.WaitForRequests(4, 8000));
  for (int i = 0; i < 40 && client.LastRequestAnswered(); ++i) Sleep(100);
  EXPECT_FALSE(client.LastRequestAnswered());
  auto begin = std::chrono::steady_clock::now();
  client.Disconnect();
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(3));
}

TEST_F(RtspClientTest, InterleavedFramesReachTheUser) {
  RtspFakeServer server([](const std::string& r, size_t) {
    if (RequestMethod(r) == "SETUP")
      return FakeReply{
          RtspAnswer(r, "200 OK", "Session: 9\r\nTransport: RTP/AVP/TCP;unicast;interleaved=2-3\r\n")};
    if (RequestMethod(r) == "PLAY") {
      // clang-format off
      const unsigned char rtp[] = {
          0x80, 0x60, 0x00, 0x07,  // V=2, PT=96, sequence 7
          0x00, 0x00, 0x00, 0x01,  // timestamp
          0x00, 0x00, 0x00, 0x02,  // SSRC
          0xAA, 0xBB};             // payload
      // clang-format on
      std::string packet(reinterpret_cast<const char*>(rtp), sizeof(rtp));
      std::string rtcp = std::string("$\x03\x00\x04", 4) + "abcd";  // RTCP channel: skipped
      std::string frame = std::string("$\x02\x00", 3) + char(sizeof(rtp)) + packet;
      return FakeReply{RtspAnswer(r, "200 OK", "Session: 9\r\n") + rtcp + frame};
    }
    return CameraReply(r, "");
  });
  CBaseRTSPClient client(&driver);
  ASSERT_TRUE(client.Start(Params(server.Port()), &user, kRtspTransportInterleaved));
  ASSERT_TRUE(user.packetEvent.Wait(5000));
  client.Disconnect();
  std::lock_guard<std::mutex> guard(user.mutex);
  EXPECT_EQ(user.sequenceNumbers, std::vector<uint16_t>{7});
}

TEST_F(RtspClientTest, LongHeaderBlockIsReadWhole) {
  // A header block past 512 bytes must not leave its tail on the connection: the SETUP
  // answer would then be read from the middle of the DESCRIBE answer.
  RtspFakeServer server([](const std::string& r, size_t) {
    if (RequestMethod(r) == "DESCRIBE")
      return FakeReply{RtspAnswer(r, "200 OK", "X-Padding: " + std::string(900, 'x') + "\r\n", kSdp)};
    return CameraReply(r, "");
  });
  CBaseRTSPClient client(&driver);
  ASSERT_TRUE(client.Start(Params(server.Port()), &user, kRtspTransportUdp));
  ASSERT_TRUE(server.WaitForRequests(3));
  client.Disconnect();
  EXPECT_EQ(user.sdpCount.load(), 1);
  std::lock_guard<std::mutex> guard(user.mutex);
  EXPECT_EQ(user.video.control, "trackID=1");
}

TEST_F(RtspClientTest, RefusedSdpOrThrowingUserEndsBeforePlay) {
  for (bool throwing : {false, true}) {
    SCOPED_TRACE(throwing ? "throws" : "refuses");
    RtspFakeServer server([](const std::string& r, size_t) { return CameraReply(r, ""); });
    user.acceptSdp = false;
    user.throwOnSdp = throwing;
    user.ended.Reset();
    CBaseRTSPClient client(&driver);
    ASSERT_TRUE(client.Start(Params(server.Port()), &user, kRtspTransportUdp));
    ASSERT_TRUE(user.ended.Wait(5000));
    client.Disconnect();
    std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(RequestMethod(requests[2]), "TEARDOWN");
  }
}

TEST_F(RtspClientTest, SilentOrClosingServerEndsTheSessionWithinTheTimeout) {
  for (bool close : {false, true}) {
    SCOPED_TRACE(close ? "closes" : "silent");
    RtspFakeServer server([&](const std::string&, size_t) { return FakeReply{"", close, !close}; });
    user.ended.Reset();
    CBaseRTSPClient client(&driver);
    RTSPConnectionParams params = Params(server.Port());
    params.receiveTimeoutMs = 500;
    auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(client.Start(params, &user, kRtspTransportUdp));
    ASSERT_TRUE(user.ended.Wait(5000));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(3));
    EXPECT_FALSE(client.LastRequestAnswered());
    client.Disconnect();
  }
}

TEST_F(RtspClientTest, ConnectFailures) {
  // Nothing listens on the port of a listener that was just closed.
  uint16_t port;
  {
    RtspFakeServer server([](const std::string&, size_t) { return FakeReply{}; });
    port = server.Port();
  }
  struct {
    const char* name;
    std::string host;
    uint16_t port;
  } cases[] = {{"refused", "127.0.0.1", port}, {"empty host", "", 554}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CBaseRTSPClient client(&driver);
    RTSPConnectionParams params = Params(c.port);
    params.host = c.host;
    auto begin = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.Start(params, &user, kRtspTransportUdp));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(3));
    EXPECT_FALSE(client.IsConnected());
  }
}

}  // namespace
}  // namespace vantrel
