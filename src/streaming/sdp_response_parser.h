// Turns the SDP body of a DESCRIBE response into an SdpInfo record.
//
// Grammar: lines separated by CR LF (a bare LF is accepted too); each line is classified by its
// lower-cased start ("m=", "a=control", "a=fmtp", "c=in", "a=rtpmap", "a=recvonly",
// "a=sendonly"), values keep their case. Only an empty text and an "a=fmtp" line outside a
// video, audio or metadata description fail the parse; every other oddity is skipped so that a
// camera's extra attributes never cost the session.
// Leniency: a session-level "c=" line (before the first "m=") is the connection address of
// every description that has no "c=" line of its own, as RFC 4566 section 5.7 defines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "streaming/sdp_info.h"

namespace vantrel {

// The audio codec a PCM/G.726/AAC description names; used by the audio channel.
struct SdpAudioCodec {
  static constexpr uint32_t kNone = 1;  // the tag before any rtpmap named a codec
  uint32_t tag = kNone;                 // "711M", "711A", "7261" as FourCC, first char lowest
  uint32_t sampleRate = 0;
  uint32_t bitRate = 0;  // bits per second
  uint8_t channels = 1;
};

// MPEG-4 generic audio parameters (RFC 3640).
struct SdpMpeg4Audio {
  std::string streamType;
  std::string profileLevelId;
  std::string mode;
  std::vector<uint8_t> config;
  uint32_t sizeLength = 13;
  uint32_t indexLength = 3;
  uint32_t indexDeltaLength = 3;
  uint32_t ctsDeltaLength = 0;
  uint32_t dtsDeltaLength = 0;
};

class CSDPResponseParser {
 public:
  CSDPResponseParser() = default;
  virtual ~CSDPResponseParser() = default;

  bool Parse(std::string_view text);

  const SdpInfo& GetSdpInfo() const { return info_; }
  const SdpAudioCodec& GetAudioCodec() const { return audioCodec_; }
  const SdpMpeg4Audio& GetMpeg4Audio() const { return mpeg4Audio_; }

 private:
  void OpenDescription(std::string_view line);
  void CloseDescription();
  void HandleRtpmap(std::string_view line);
  void HandleDimensions(std::string_view line);
  bool HandleFmtp(std::string_view line);
  void HandleConnection(std::string_view line, bool sessionLevel);

  SdpInfo info_;
  SdpAudioCodec audioCodec_;
  SdpMpeg4Audio mpeg4Audio_;
  // The description being read, its kind (0 when none or dropped), and whether it had a "c=".
  MediaDescription current_;
  uint32_t currentKind_ = kMediaNone;
  bool open_ = false;
  bool dropped_ = false;  // the open description was dropped by "a=sendonly"
  bool currentHasConnection_ = false;
  std::string sessionConnection_;
};

// Hexadecimal digit pairs to bytes; false (and `out` empty) on an odd count or a non-digit.
bool DecodeHexPairs(std::string_view text, std::vector<uint8_t>& out);

}  // namespace vantrel
