#include "streaming/rtsp_response_parser.h"

#include <gtest/gtest.h>

#include <string>

namespace vantrel {
namespace {

const char kSdp[] =
    "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=Session\r\nc=IN IP4 0.0.0.0\r\nt=0 0\r\n"
    "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=control:trackID=1\r\n"
    "a=fmtp:96 "
    "packetization-mode=1;sprop-parameter-sets=Z0LAFdkBQZ+fAWoMDA1KAAADAAIAAAMAZR4sXJA=,aMuMsg==\r\n"
    "m=audio 0 RTP/AVP 0\r\na=rtpmap:0 PCMU/8000\r\na=control:trackID=2\r\n";

std::string Describe(const std::string& body) {
  return "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Base: rtsp://127.0.0.5/live/\r\nContent-Type: "
         "application/sdp\r\n"
         "Content-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

TEST(RTSPResponseParserTest, DescribeFillsHeadersAndSdp) {
  CRTSPResponseParser parser;
  ASSERT_TRUE(parser.Parse(kRtspDescribe, Describe(kSdp)));
  EXPECT_EQ(parser.GetProtocol(), "RTSP/1.0");
  EXPECT_EQ(parser.GetStatusCode(), 200u);
  EXPECT_EQ(parser.GetCSeq(), 2u);
  EXPECT_EQ(parser.GetContentBase(), "rtsp://127.0.0.5/live/");
  EXPECT_EQ(parser.GetContentType(), "application/sdp");
  EXPECT_EQ(parser.GetSdpInfo().video.control, "trackID=1");
  EXPECT_EQ(parser.GetSdpInfo().pictureParameterSet, (std::vector<uint8_t>{0x68, 0xCB, 0x8C, 0xB2}));
  EXPECT_EQ(parser.GetSdpInfo().audio.encoding, "PCMU/8000");
}

TEST(RTSPResponseParserTest, StatusAndHeaderVerdicts) {
  const struct {
    const char* name;
    uint32_t method;
    std::string text;
    bool ok;
  } cases[] = {
      {"404", kRtspOptions, "RTSP/1.0 404 Not Found\r\nCSeq: 1\r\n\r\n", false},
      {"no code", kRtspOptions, "RTSP/1.0\r\n\r\n", false},
      {"garbage code", kRtspOptions, "RTSP/1.0 OK\r\n\r\n", false},
      {"200 options", kRtspOptions, "RTSP/1.0 200 OK\r\nCSeq: 3\r\nPublic: DESCRIBE\r\n\r\n", true},
      {"bare LF lines", kRtspOptions, "RTSP/1.0 200 OK\nCSeq: 3\n\n", true},
      {"CSeq not a number", kRtspOptions, "RTSP/1.0 200 OK\r\nCSeq: x\r\n\r\n", false},
      {"negative Content-Length", kRtspOptions, "RTSP/1.0 200 OK\r\nContent-Length: -5\r\n\r\n", false},
      {"Content-Base without rtsp", kRtspOptions, "RTSP/1.0 200 OK\r\nContent-Base: http://x/\r\n\r\n",
       false},
      {"empty Content-Type", kRtspOptions, "RTSP/1.0 200 OK\r\nContent-Type:\r\n\r\n", false},
      {"401 describe without body", kRtspDescribe, "RTSP/1.0 401 Unauthorized\r\nCSeq: 1\r\n\r\n", true},
      {"200 describe without body", kRtspDescribe, "RTSP/1.0 200 OK\r\nCSeq: 1\r\n\r\n", false},
      {"digest without nonce", kRtspDescribe,
       "RTSP/1.0 401 U\r\nWWW-Authenticate: Digest realm=\"r\"\r\n\r\n", false},
      {"session without id", kRtspSetup, "RTSP/1.0 200 OK\r\nSession: ;timeout=5\r\n\r\n", false},
  };
  for (const auto& c : cases) {
    CRTSPResponseParser parser;
    EXPECT_EQ(parser.Parse(c.method, c.text), c.ok) << c.name;
  }
}

TEST(RTSPResponseParserTest, SessionIdAndTimeout) {
  const struct {
    const char* header;
    const char* id;
    uint32_t timeout;
  } cases[] = {
      {"Session: 1234;timeout=0", "1234", 30},  {"Session: 1234", "1234", 0},
      {"Session: 1234;timeout=60", "1234", 60}, {"Session: AbCd12 ;timeout=x", "AbCd12", 30},
      {"session: 77;Timeout=15", "77", 15},     {"Session:99", "99", 0},
  };
  for (const auto& c : cases) {
    CRTSPResponseParser parser;
    ASSERT_TRUE(parser.Parse(kRtspPlay, std::string("RTSP/1.0 200 OK\r\n") + c.header + "\r\n\r\n"))
        << c.header;
    EXPECT_EQ(parser.GetSessionId(), c.id) << c.header;
    EXPECT_EQ(parser.GetSessionTimeout(), c.timeout) << c.header;
  }
}

TEST(RTSPResponseParserTest, AuthenticateChallenges) {
  CRTSPResponseParser parser;
  ASSERT_TRUE(
      parser.Parse(kRtspDescribe,
                   "RTSP/1.0 401 Unauthorized\r\nCSeq: 4\r\n"
                   "WWW-Authenticate: Digest realm=\"Cam Realm\", nonce=\"ab12CD\", stale=FALSE\r\n\r\n"));
  EXPECT_EQ(parser.GetChallengeType(), kChallengeDigest);
  EXPECT_EQ(parser.GetRealm(), "Cam Realm");
  EXPECT_EQ(parser.GetNonce(), "ab12CD");

  CRTSPResponseParser basic;
  ASSERT_TRUE(basic.Parse(kRtspDescribe, "RTSP/1.0 401 U\r\nWWW-Authenticate: Basic realm=\"x\"\r\n\r\n"));
  EXPECT_EQ(basic.GetChallengeType(), kChallengeBasic);
  EXPECT_EQ(basic.GetRealm(), "x");

  CRTSPResponseParser other;
  ASSERT_TRUE(other.Parse(kRtspDescribe, "RTSP/1.0 401 U\r\nWWW-Authenticate: Bearer realm=\"x\"\r\n\r\n"));
  EXPECT_EQ(other.GetChallengeType(), kChallengeNone);
  EXPECT_EQ(other.GetRealm(), "");
}

TEST(RTSPResponseParserTest, ChallengesAsCamerasWriteThem) {
  struct Case {
    const char* name;
    const char* headers;
    uint32_t type;
    const char* realm;
    const char* opaque;
  };
  const Case cases[] = {
      {"Digest wins over Basic offered first",
       "WWW-Authenticate: Basic realm=\"b\"\r\nWWW-Authenticate: Digest realm=\"d\", nonce=\"n\"\r\n",
       kChallengeDigest, "d", ""},
      {"Basic after Digest changes nothing",
       "WWW-Authenticate: Digest realm=\"d\", nonce=\"n\", opaque=\"o\"\r\nWWW-Authenticate: Basic "
       "realm=\"b\"\r\n",
       kChallengeDigest, "d", "o"},
      {"scheme in any case", "WWW-Authenticate: dIgEsT realm=\"d\", nonce=\"n\"\r\n", kChallengeDigest, "d",
       ""},
      {"quoted comma", "WWW-Authenticate: Digest realm=\"a, b\", nonce=\"n\"\r\n", kChallengeDigest, "a, b",
       ""},
      {"unusable Digest beside Basic",
       "WWW-Authenticate: Digest realm=\"d\", nonce=\"n\", algorithm=SHA-512-256\r\nWWW-Authenticate: BASIC "
       "realm=\"b\"\r\n",
       kChallengeBasic, "b", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CRTSPResponseParser parser;
    ASSERT_TRUE(
        parser.Parse(kRtspDescribe, std::string("RTSP/1.0 401 U\r\nCSeq: 2\r\n") + c.headers + "\r\n"));
    EXPECT_EQ(parser.GetChallengeType(), c.type);
    EXPECT_EQ(parser.GetRealm(), c.realm);
    EXPECT_EQ(parser.GetDigestChallenge().opaque, c.opaque);
  }
}

TEST(RTSPResponseParserTest, TransportParametersInAnyOrderAndCase) {
  struct Case {
    const char* transport;
    uint8_t rtp, rtcp;
    const char* source;
  };
  const Case cases[] = {
      {"RTP/AVP/TCP;unicast;interleaved=0-1", 0, 1, ""},
      {"RTP/AVP/TCP;INTERLEAVED=6-7;unicast;Source=10.1.2.3", 6, 7, "10.1.2.3"},
      {"RTP/AVP/TCP;ssrc=0A0B;interleaved=4", 4, 5, ""},
      {"RTP/AVP;unicast;source=192.168.0.9;client_port=3556-3557;server_port=6970-6971", 0, 1, "192.168.0.9"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.transport);
    CRTSPResponseParser parser;
    ASSERT_TRUE(parser.Parse(kRtspDescribe, Describe(kSdp)));
    ASSERT_TRUE(parser.Parse(
        kRtspSetup, std::string("RTSP/1.0 200 OK\r\nSession: 5\r\ntransport: ") + c.transport + "\r\n\r\n"));
    EXPECT_EQ(parser.GetInterleavedChannel(), c.rtp);
    EXPECT_EQ(parser.GetInterleavedRtcpChannel(), c.rtcp);
    EXPECT_EQ(parser.GetSourceAddress(), c.source);
  }
}

TEST(RTSPResponseParserTest, SetupTransportRules) {
  CRTSPResponseParser parser;
  ASSERT_TRUE(parser.Parse(kRtspDescribe, Describe(kSdp)));
  ASSERT_TRUE(
      parser.Parse(kRtspSetup,
                   "RTSP/1.0 200 OK\r\nCSeq: 3\r\nSession: 5;timeout=60\r\n"
                   "Transport: RTP/AVP;multicast;destination=239.1.2.3;port=5000-5001;ttl=1\r\n\r\n"));
  EXPECT_EQ(parser.GetSdpInfo().video.port, 5000);
  EXPECT_EQ(parser.GetSdpInfo().audio.port, 5000);
  EXPECT_EQ(parser.GetSdpInfo().video.connectionAddress, "239.1.2.3");

  CRTSPResponseParser unicast;
  ASSERT_TRUE(unicast.Parse(kRtspDescribe, Describe(kSdp)));
  ASSERT_TRUE(unicast.Parse(kRtspSetup,
                            "RTSP/1.0 200 OK\r\nSession: 5\r\n"
                            "Transport: RTP/AVP/TCP;unicast;client_port=3556-3557;server_port=6970-6971;"
                            "interleaved=4-5;destination=0.0.0.0\r\n\r\n"));
  EXPECT_EQ(unicast.GetInterleavedChannel(), 4);
  EXPECT_EQ(unicast.GetSdpInfo().video.port, 0) << "client_port and server_port are not \"port\"";
  EXPECT_EQ(unicast.GetSdpInfo().video.connectionAddress, "0.0.0.0") << "0.0.0.0 is not a destination";
}

TEST(RTSPResponseParserTest, ResetKeepsStatusAndCSeqOnly) {
  CRTSPResponseParser parser;
  ASSERT_TRUE(parser.Parse(kRtspDescribe, Describe(kSdp)));
  parser.Reset();
  EXPECT_EQ(parser.GetCSeq(), 2u);
  EXPECT_EQ(parser.GetStatusCode(), 200u);
  EXPECT_EQ(parser.GetContentBase(), "");
  EXPECT_EQ(parser.GetSdpInfo().video.control, "");
}

TEST(RTSPResponseParserTest, ShortBodyIsTakenAsFarAsItGoes) {
  std::string text = Describe(kSdp);
  text.resize(text.size() - 40);
  CRTSPResponseParser parser;
  EXPECT_TRUE(parser.Parse(kRtspDescribe, text));
  EXPECT_EQ(parser.GetSdpInfo().video.control, "trackID=1");
}

}  // namespace
}  // namespace vantrel
