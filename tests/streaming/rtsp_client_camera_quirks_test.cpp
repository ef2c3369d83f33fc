// The RTSP client against cameras that use the protocol's wider forms: Digest variants, expired
// nonces, late responses, requests from the server, interleaved data around responses, bare LF
// line ends and folded headers. The scripted peer plays a strict camera: it checks each Digest
// response itself and only answers a correct one with 200.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "control/md5.h"
#include "streaming/base_rtsp_client.h"
#include "streaming/rtsp_client_fake_server.h"
#include "support/fake_driver.h"

namespace vantrel {
namespace {

using testing::FakeReply;
using testing::RequestMethod;
using testing::RtspAnswer;
using testing::RtspFakeServer;

class CountingUser : public IRTSPClientUser {
 public:
  bool SdpInfoReceived(const SdpInfo&) override { return true; }
  void OnInterleavedPacket(const CRTPPacket& packet) override {
    std::lock_guard<std::mutex> guard(mutex);
    sequenceNumbers.push_back(packet.GetSequenceNumber());
  }
  void OnSessionEnded() override {
    endedCount++;
    ended.Set();
  }
  size_t PacketCount() {
    std::lock_guard<std::mutex> guard(mutex);
    return sequenceNumbers.size();
  }

  std::atomic<int> endedCount{0};
  CManualEvent ended;
  std::mutex mutex;
  std::vector<uint16_t> sequenceNumbers;
};

const char kSdp[] = "v=0\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=control:trackID=1\r\n";

// Parameters of an Authorization: Digest line, unquoted.
std::map<std::string, std::string> DigestParams(const std::string& request) {
  std::map<std::string, std::string> params;
  size_t at = request.find("Authorization: Digest ");
  if (at == std::string::npos) return params;
  std::string line = request.substr(at + 22, request.find("\r\n", at) - at - 22);
  size_t pos = 0;
  while (pos < line.size()) {
    size_t eq = line.find('=', pos);
    if (eq == std::string::npos) break;
    std::string name = line.substr(pos, eq - pos);
    std::string value;
    pos = eq + 1;
    if (pos < line.size() && line[pos] == '"') {
      for (++pos; pos < line.size() && line[pos] != '"'; ++pos) {
        if (line[pos] == '\\') ++pos;
        value += line[pos];
      }
      ++pos;
    } else {
      size_t end = line.find(',', pos);
      value = line.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
      pos = end == std::string::npos ? line.size() : end;
    }
    params[name] = value;
    while (pos < line.size() && (line[pos] == ',' || line[pos] == ' ')) ++pos;
  }
  return params;
}

std::string RequestUri(const std::string& request) {
  size_t first = request.find(' ');
  return request.substr(first + 1, request.find(' ', first + 1) - first - 1);
}

// A camera's own check of a Digest response (RFC 2617): the URI must be the request line's and
// every echoed value must match what it offered.
bool DigestValid(const std::string& request, const std::string& realm, const std::string& nonce,
                 const std::string& qop, const std::string& opaque, bool sess) {
  auto p = DigestParams(request);
  if (p.empty() || p["username"] != "admin" || p["realm"] != realm || p["nonce"] != nonce) return false;
  if (p["uri"] != RequestUri(request) || p["opaque"] != opaque || p["qop"] != qop) return false;
  std::string ha1 = Md5Hex("admin:" + realm + ":se,cr\"et");
  if (sess) ha1 = Md5Hex(ha1 + ":" + nonce + ":" + p["cnonce"]);
  std::string a2 = RequestMethod(request) + ":" + p["uri"];
  if (qop == "auth-int") a2 += ":" + Md5Hex("");
  std::string ha2 = Md5Hex(a2);
  std::string expected =
      qop.empty() ? Md5Hex(ha1 + ":" + nonce + ":" + ha2)
                  : Md5Hex(ha1 + ":" + nonce + ":" + p["nc"] + ":" + p["cnonce"] + ":" + qop + ":" + ha2);
  if (!qop.empty() && (p["nc"].size() != 8 || p["cnonce"].empty())) return false;
  return p["response"] == expected;
}

FakeReply Plain(const std::string& r, const std::string& session = "Session: 1234;timeout=60\r\n") {
  std::string method = RequestMethod(r);
  if (method == "DESCRIBE") return {RtspAnswer(r, "200 OK", "Content-Type: application/sdp\r\n", kSdp)};
  if (method == "SETUP")
    return {RtspAnswer(r, "200 OK", session + "Transport: RTP/AVP;unicast;client_port=4000-4001\r\n")};
  return {RtspAnswer(r, "200 OK", session)};
}

bool WaitFor(RtspFakeServer& server, const std::string& method, int n, int timeoutMs = 8000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    int seen = 0;
    for (const std::string& r : server.Requests())
      if (RequestMethod(r) == method) ++seen;
    if (seen >= n) return true;
    Sleep(20);
  }
  return false;
}

std::string RtpFrame(uint8_t channel, uint16_t sequence) {
  const unsigned char rtp[] = {0x80,
                               0x60,
                               static_cast<unsigned char>(sequence >> 8),
                               static_cast<unsigned char>(sequence),
                               0,
                               0,
                               0,
                               1,
                               0,
                               0,
                               0,
                               2,
                               0xAA,
                               0xBB};
  return std::string("$") + char(channel) + std::string("\x00", 1) + char(sizeof(rtp)) +
         std::string(reinterpret_cast<const char*>(rtp), sizeof(rtp));
}

class RtspQuirksTest : public ::testing::Test {
 protected:
  RTSPConnectionParams Params(uint16_t port) {
    RTSPConnectionParams params;
    params.host = "127.0.0.1";
    params.serverPort = port;
    params.clientRtpPort = 3556;
    params.clientRtcpPort = 3557;
    params.urlPath = "live";
    params.receiveTimeoutMs = 2000;
    params.user = "admin";
    params.password = "se,cr\"et";
    return params;
  }

  testing::FakeDriver driver;
  CountingUser user;
};

TEST_F(RtspQuirksTest, DigestVariantsAreAnsweredAsTheCameraChecksThem) {
  struct Case {
    const char* name;
    std::string challenge;  // the WWW-Authenticate lines of the 401
    const char* realm;
    const char* qop;
    const char* opaque;
    bool sess;
  };
  const Case cases[] = {
      {"plain", "WWW-Authenticate: Digest realm=\"cam\", nonce=\"n1\"\r\n", "cam", "", "", false},
      {"qop auth with opaque",
       "WWW-Authenticate: Digest realm=\"cam\", qop=\"auth,auth-int\", nonce=\"n1\", opaque=\"op9\"\r\n",
       "cam", "auth", "op9", false},
      {"auth-int as the sole offer",
       "WWW-Authenticate: Digest realm=\"cam\", nonce=\"n1\", qop=\"auth-int\"\r\n", "cam", "auth-int", "",
       false},
      {"MD5-sess", "WWW-Authenticate: Digest realm=\"cam\", nonce=\"n1\", qop=auth, algorithm=MD5-sess\r\n",
       "cam", "auth", "", true},
      {"Basic offered first",
       "WWW-Authenticate: Basic realm=\"cam\"\r\nWWW-Authenticate: Digest realm=\"cam\", nonce=\"n1\"\r\n",
       "cam", "", "", false},
      {"names in other case", "www-authenticate: DIGEST REALM=\"cam\", NONCE=\"n1\"\r\n", "cam", "", "",
       false},
      {"comma and escaped quote in realm",
       "WWW-Authenticate: Digest realm=\"a, \\\"b\\\"\", nonce=\"n1\"\r\n", "a, \"b\"", "", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RtspFakeServer server([&](const std::string& r, size_t) {
      if (!DigestValid(r, c.realm, "n1", c.qop, c.opaque, c.sess))
        return FakeReply{RtspAnswer(r, "401 Unauthorized", c.challenge)};
      return Plain(r);
    });
    user.ended.Reset();
    CBaseRTSPClient client(&driver);
    ASSERT_TRUE(client.Start(Params(server.Port()), &user, kRtspTransportUdp));
    EXPECT_TRUE(WaitFor(server, "PLAY", 1, 5000));
    client.Disconnect();
    std::vector<std::string> requests = server.Requests();
    ASSERT_GE(requests.size(), 4u);
    EXPECT_TRUE(DigestValid(requests[2], c.realm, "n1", c.qop, c.opaque, c.sess)) << requests[2];  // SETUP
    if (*c.qop) {
      // The nonce count rises with each request on the same nonce.
      EXPECT_EQ(DigestParams(requests[1])["nc"], "00000001");
      EXPECT_EQ(DigestParams(requests[2])["nc"], "00000002");
    }
  }
}

TEST_F(RtspQuirksTest, StaleAndExpiredNoncesAreAnsweredWithoutEndingTheSession) {
  // The camera rotates its nonce: once before SETUP (stale=true) and once on the keep-alive in the
  // middle of the session (a plain 401 naming a new nonce).
  std::mutex mutex;
  std::string nonce = "n1";
  int rotations = 0;
  RtspFakeServer server([&](const std::string& r, size_t) {
    std::lock_guard<std::mutex> guard(mutex);
    const std::string method = RequestMethod(r);
    bool rotate = (method == "SETUP" && rotations == 0) || (method == "OPTIONS" && rotations == 1);
    if (rotate && DigestValid(r, "cam", nonce, "", "", false)) {
      ++rotations;
      nonce = "n" + std::to_string(rotations + 1);
      std::string stale = method == "SETUP" ? ", stale=true" : "";
      return FakeReply{
          RtspAnswer(r, "401 Unauthorized",
                     "WWW-Authenticate: Digest realm=\"cam\", nonce=\"" + nonce + "\"" + stale + "\r\n")};
    }
    if (!DigestValid(r, "cam", nonce, "", "", false))
      return FakeReply{RtspAnswer(r, "401 Unauthorized",
                                  "WWW-Authenticate: Digest realm=\"cam\", nonce=\"" + nonce + "\"\r\n")};
    return Plain(r, "Session: 55;timeout=2\r\n");
  });
  CBaseRTSPClient client(&driver);
  ASSERT_TRUE(client.Start(Params(server.Port()), &user, kRtspTransportUdp));
  ASSERT_TRUE(WaitFor(server, "PLAY", 1));
  ASSERT_TRUE(WaitFor(server, "OPTIONS", 3));  // refused, repeated, and the next regular one
  EXPECT_TRUE(client.LastRequestAnswered());
  EXPECT_EQ(user.endedCount.load(), 0);
  client.Disconnect();
  std::vector<std::string> methods;
  for (const std::string& r : server.Requests()) methods.push_back(RequestMethod(r));
  ASSERT_GE(methods.size(), 7u);
  EXPECT_EQ(
      std::vector<std::string>(methods.begin(), methods.begin() + 7),
      (std::vector<std::string>{"DESCRIBE", "DESCRIBE", "SETUP", "SETUP", "PLAY", "OPTIONS", "OPTIONS"}));
}

TEST_F(RtspQuirksTest, RefusedLoginEndsAfterBoundedRetriesAndIsLoggedOnce) {
  RtspFakeServer server([](const std::string& r, size_t index) {
    // A fresh nonce on every refusal must not keep the client asking.
    return FakeReply{
        RtspAnswer(r, "401 Unauthorized",
                   "WWW-Authenticate: Digest realm=\"cam\", nonce=\"x" + std::to_string(index) + "\"\r\n")};
  });
  CBaseRTSPClient client(&driver);
  ASSERT_TRUE(client.Start(Params(server.Port()), &user, kRtspTransportUdp));
  ASSERT_TRUE(user.ended.Wait(5000));
  client.Disconnect();
  // The first refusal teaches the scheme; a new nonce right after correct-looking credentials
  // is a refusal, not an expiry.
  EXPECT_EQ(server.Requests().size(), 2u);
  int logged = 0;
  for (const auto& line : driver.Lines())
    if (line.text.find("RTSP login refused") != std::string::npos && line.level == kLogError) ++logged;
  EXPECT_EQ(logged, 1);
}

TEST_F(RtspQuirksTest, ResponsesAreMatchedByCSeq) {
  // Before each answer the camera sends something that is not it: a request of its own, a
  // duplicate of an earlier answer, an interleaved frame.
  std::string describeAnswer;
  RtspFakeServer server([&](const std::string& r, size_t) {
    const std::string method = RequestMethod(r);
    if (method == "RTSP/1.0") return FakeReply{};  // the client's answer to our request
    FakeReply reply = Plain(r);
    if (method == "DESCRIBE") {
      describeAnswer = reply.text;
      reply.text =
          "SET_PARAMETER rtsp://127.0.0.1/live RTSP/1.0\r\nCSeq: 90\r\nContent-Length: 0\r\n\r\n"
          "OPTIONS * RTSP/1.0\r\nCSeq: 91\r\n\r\n" +
          reply.text;
    } else if (method == "SETUP") {
      reply.text = describeAnswer + RtpFrame(0, 5) + reply.text;
    }
    return reply;
  });
  CBaseRTSPClient client(&driver);
  ASSERT_TRUE(client.Start(Params(server.Port()), &user, kRtspTransportUdp));
  ASSERT_TRUE(WaitFor(server, "PLAY", 1));
  client.Disconnect();
  std::vector<std::string> requests = server.Requests();
  std::vector<std::string> answers;
  for (const std::string& r : requests)
    if (RequestMethod(r) == "RTSP/1.0") answers.push_back(r.substr(0, r.find("\r\n", r.find("CSeq"))));
  EXPECT_EQ(answers, (std::vector<std::string>{"RTSP/1.0 501 Not Implemented\r\nCSeq: 90",
                                               "RTSP/1.0 200 OK\r\nCSeq: 91"}));
  for (const std::string& r : requests) {
    if (RequestMethod(r) == "PLAY") {
      EXPECT_NE(r.find("Session: 1234\r\n"), std::string::npos) << r;
    }
  }
}

TEST_F(RtspQuirksTest, TolerantReading) {
  struct Case {
    const char* name;
    bool bareLf;
    std::string transport;  // the SETUP answer's Transport and Session lines
    uint8_t channel;        // where the camera sends its RTP
  };
  const Case cases[] = {
      {"bare LF", true, "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\nSession: 7\r\n", 0},
      {"other channels, other order and case", false,
       "transport: RTP/AVP/TCP;Interleaved=6-7;UNICAST;ssrc=1234\r\nsession: 7;timeout=60\r\n", 6},
      {"folded Transport", false, "Transport: RTP/AVP/TCP;unicast;\r\n   interleaved=4-5\r\nSession: 7\r\n",
       4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto lf = [&](std::string text) {
      if (!c.bareLf) return text;
      // The header block only: Content-Length counts the body as it is.
      size_t end = text.find("\r\n\r\n") + 4;
      std::string out;
      for (char ch : text.substr(0, end))
        if (ch != '\r') out += ch;
      return out + text.substr(end);
    };
    RtspFakeServer server([&](const std::string& r, size_t) {
      const std::string method = RequestMethod(r);
      if (method == "SETUP") return FakeReply{lf(RtspAnswer(r, "200 OK", c.transport))};
      if (method == "PLAY")
        return FakeReply{lf(RtspAnswer(r, "200 OK", "Session: 7\r\n")) + RtpFrame(c.channel + 1, 1) +
                         RtpFrame(c.channel, 2) + RtpFrame(c.channel, 3)};
      return FakeReply{lf(Plain(r).text)};
    });
    CBaseRTSPClient client(&driver);
    ASSERT_TRUE(client.Start(Params(server.Port()), &user, kRtspTransportInterleaved));
    for (int i = 0; i < 100 && user.PacketCount() < 2; ++i) Sleep(20);
    client.Disconnect();
    std::lock_guard<std::mutex> guard(user.mutex);
    EXPECT_EQ(user.sequenceNumbers, (std::vector<uint16_t>{2, 3}));
    user.sequenceNumbers.clear();
  }
}

TEST_F(RtspQuirksTest, InterleavedSessionsGetKeepAlivesAndStopAtOnce) {
  for (bool answerKeepAlive : {true, false}) {
    SCOPED_TRACE(answerKeepAlive ? "keep-alive answered" : "keep-alive ignored");
    std::atomic<bool> playing{false};
    RtspFakeServer server([&](const std::string& r, size_t) {
      const std::string method = RequestMethod(r);
      if (method == "SETUP")
        return FakeReply{
            RtspAnswer(r, "200 OK", "Session: 7;timeout=2\r\nTransport: RTP/AVP/TCP;interleaved=0-1\r\n")};
      if (method == "PLAY") playing = true;
      if (method == "OPTIONS" && !answerKeepAlive) return FakeReply{};
      return Plain(r, "Session: 7;timeout=2\r\n");
    });
    std::atomic<bool> done{false};
    std::thread camera([&] {
      // Media flow all along, also while a keep-alive answer is awaited.
      for (uint16_t sequence = 0; !done; Sleep(40))
        if (playing) server.SendRaw(RtpFrame(0, sequence++));
    });
    CBaseRTSPClient client(&driver);
    ASSERT_TRUE(client.Start(Params(server.Port()), &user, kRtspTransportInterleaved));
    EXPECT_TRUE(WaitFor(server, "OPTIONS", 2, 8000));
    size_t before = user.PacketCount();
    Sleep(300);
    EXPECT_GT(user.PacketCount(), before);
    EXPECT_TRUE(client.LastRequestAnswered());
    EXPECT_EQ(user.endedCount.load(), 0);
    for (const std::string& r : server.Requests()) {
      if (RequestMethod(r) == "OPTIONS") {
        EXPECT_NE(r.find("Session: 7\r\n"), std::string::npos);
      }
    }
    auto begin = std::chrono::steady_clock::now();
    client.Disconnect();
    // Bound, not a speed figure: a stop that waited on a blocked receive took seconds.
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(1500));
    done = true;
    camera.join();
    user.ended.Reset();
    user.endedCount = 0;
  }
}

TEST_F(RtspQuirksTest, InterleavedSenderReportsAreAnsweredOnTheRtcpChannel) {
  const unsigned char sr[] = {0x80, 0xC8, 0x00, 0x06, 0x00, 0x00, 0x00, 0x2A, 0x11, 0x22,
                              0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x00, 0x00, 0x00, 0x00,
                              0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  RtspFakeServer server([&](const std::string& r, size_t) {
    const std::string method = RequestMethod(r);
    if (method == "SETUP")
      return FakeReply{RtspAnswer(r, "200 OK", "Session: 7\r\nTransport: RTP/AVP/TCP;interleaved=2-3\r\n")};
    if (method == "PLAY")
      return FakeReply{RtspAnswer(r, "200 OK", "Session: 7\r\n") + RtpFrame(2, 41) +
                       std::string("$\x03\x00\x1C", 4) +
                       std::string(reinterpret_cast<const char*>(sr), sizeof(sr))};
    return Plain(r, "Session: 7\r\n");
  });
  CBaseRTSPClient client(&driver);
  ASSERT_TRUE(client.Start(Params(server.Port()), &user, kRtspTransportInterleaved));
  ASSERT_TRUE(WaitFor(server, "PLAY", 1));
  Sleep(300);
  client.Disconnect();  // the TEARDOWN carries whatever came before it
  std::string all;
  for (const std::string& r : server.Requests()) all += r;
  const size_t at = all.find(std::string("$\x03\x00\x20\x81\xC9", 6));
  ASSERT_NE(at, std::string::npos) << "no receiver report";
  const std::string rr = all.substr(at + 4, 32);
  EXPECT_EQ(rr.substr(8, 4), std::string("\x00\x00\x00\x2A", 4));   // the camera's SSRC
  EXPECT_EQ(rr.substr(16, 4), std::string("\x00\x00\x00\x29", 4));  // highest sequence 41
  EXPECT_EQ(rr.substr(24, 4), std::string("\x33\x44\x55\x66", 4));  // LSR
}

TEST_F(RtspQuirksTest, StopEndsAWaitForAnUnansweredRequest) {
  for (uint32_t mode : {kRtspTransportUdp, kRtspTransportInterleaved}) {
    SCOPED_TRACE(mode);
    RtspFakeServer server([](const std::string&, size_t) { return FakeReply{"", false, true}; });
    CBaseRTSPClient client(&driver);
    RTSPConnectionParams params = Params(server.Port());
    params.receiveTimeoutMs = 8000;
    ASSERT_TRUE(client.Start(params, &user, mode));
    ASSERT_TRUE(server.WaitForRequests(1));
    auto begin = std::chrono::steady_clock::now();
    client.Disconnect();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(1500));
  }
}

}  // namespace
}  // namespace vantrel
