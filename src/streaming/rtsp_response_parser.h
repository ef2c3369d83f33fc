// Reads one RTSP response for the RTSP client: the status line, the headers the client needs,
// and, for DESCRIBE and SETUP, the SDP body and the Transport header.
//
// Grammar: "RTSP/1.0 <code> <reason>" CR LF, header lines up to an empty line, then a body of
// Content-Length bytes. Only 200 and 401 are examined; anything else fails the parse at the
// status line. Header names, authentication scheme names and Transport parameter names are
// compared without regard to case; Transport parameters may come in any order. Of several
// challenges in one 401, Digest wins over Basic.
// Leniencies: lines may end in a bare LF; a body shorter than Content-Length (the client reads
// with a time-out) is taken as far as it goes; numbers are digits only, so "-1" in
// Content-Length or CSeq is not a number rather than a huge value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "control/http_digest.h"
#include "streaming/sdp_info.h"
#include "streaming/sdp_response_parser.h"

namespace vantrel {

// Request methods as the RTSP client numbers them.
enum RtspMethod : uint32_t {
  kRtspDescribe = 1,
  kRtspSetup = 2,
  kRtspPlay = 3,
  kRtspTeardown = 4,
  kRtspOptions = 5,
  kRtspPause = 6,
  kRtspGetParameter = 7,  // empty: a keep-alive
};

enum RtspChallenge : uint32_t {
  kChallengeNone = 0,
  kChallengeBasic = 1,
  kChallengeDigest = 2,
};

class CRTSPResponseParser {
 public:
  static constexpr size_t kMaxProtocolLength = 128;
  static constexpr size_t kMaxContentTypeLength = 256;
  // Session timeout assumed when the Session header has parameters but no usable "timeout".
  static constexpr uint32_t kDefaultSessionTimeout = 30;

  CRTSPResponseParser() = default;
  virtual ~CRTSPResponseParser() = default;

  // `method` is one of RtspMethod; `text` the whole response as received.
  bool Parse(uint32_t method, std::string_view text);
  // Clears the per-session fields; the status code and the CSeq survive.
  void Reset();

  const std::string& GetProtocol() const { return protocol_; }
  uint32_t GetStatusCode() const { return statusCode_; }
  uint32_t GetCSeq() const { return cseq_; }
  void SetCSeq(uint32_t cseq) { cseq_ = cseq; }
  const std::string& GetContentBase() const { return contentBase_; }
  const std::string& GetContentType() const { return contentType_; }
  uint32_t GetContentLength() const { return contentLength_; }
  const std::string& GetSessionId() const { return sessionId_; }
  uint32_t GetSessionTimeout() const { return sessionTimeout_; }
  uint32_t GetChallengeType() const { return challengeType_; }
  const std::string& GetRealm() const { return realm_; }
  const std::string& GetNonce() const { return nonce_; }
  // The whole Digest challenge (qop, opaque, algorithm, stale) of the last 401 that carried one.
  const Web::DigestChallenge& GetDigestChallenge() const { return digest_; }
  uint8_t GetInterleavedChannel() const { return interleavedChannel_; }
  // The second channel of "interleaved=a-b" (RTCP), a + 1 when the server named one only.
  uint8_t GetInterleavedRtcpChannel() const { return interleavedRtcpChannel_; }
  // The sender address a SETUP reply names in its Transport "source=" parameter, if any.
  const std::string& GetSourceAddress() const { return sourceAddress_; }
  const SdpInfo& GetSdpInfo() const { return sdpInfo_; }
  SdpInfo& GetSdpInfo() { return sdpInfo_; }
  // The SDP parser of the last DESCRIBE, for the audio codec details.
  const CSDPResponseParser& GetSdpParser() const { return sdpParser_; }

 private:
  bool HandleHeader(std::string_view line);
  bool HandleSession(std::string_view line, std::string_view name);
  bool HandleAuthenticate(std::string_view line);
  void HandleTransport(std::string_view text);

  std::string protocol_;
  uint32_t statusCode_ = 0;
  uint32_t cseq_ = 0;
  std::string contentBase_;
  std::string contentType_;
  uint32_t contentLength_ = 0;
  std::string sessionId_;
  uint32_t sessionTimeout_ = 0;
  uint32_t challengeType_ = kChallengeNone;
  std::string realm_;
  std::string nonce_;
  Web::DigestChallenge digest_;
  bool digestInThisResponse_ = false;
  uint8_t interleavedChannel_ = 0;
  uint8_t interleavedRtcpChannel_ = 1;
  std::string sourceAddress_;
  SdpInfo sdpInfo_;
  CSDPResponseParser sdpParser_;
};

}  // namespace vantrel
