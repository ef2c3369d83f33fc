#include "streaming/sdp_response_parser.h"

#include <cstdio>
#include <vector>

#include "streaming/base64.h"
#include "streaming/key_value.h"

namespace vantrel {

namespace {

constexpr uint32_t FourCC(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) | (uint32_t(uint8_t(s[1])) << 8) | (uint32_t(uint8_t(s[2])) << 16) |
         (uint32_t(uint8_t(s[3])) << 24);
}

std::vector<std::string_view> Split(std::string_view text, char at) {
  std::vector<std::string_view> parts;
  size_t begin = 0;
  while (true) {
    const size_t end = text.find(at, begin);
    parts.push_back(text.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin));
    if (end == std::string_view::npos) break;
    begin = end + 1;
  }
  return parts;
}

std::vector<std::string_view> SplitBlanks(std::string_view text) {
  std::vector<std::string_view> tokens;
  size_t at = 0;
  while (at < text.size()) {
    const size_t begin = text.find_first_not_of(" \t", at);
    if (begin == std::string_view::npos) break;
    size_t end = text.find_first_of(" \t", begin);
    if (end == std::string_view::npos) end = text.size();
    tokens.push_back(text.substr(begin, end - begin));
    at = end;
  }
  return tokens;
}

uint32_t KindOf(std::string_view mediaType) {
  if (mediaType == "video") return kMediaVideo;
  if (mediaType == "audio") return kMediaAudio;
  if (mediaType == "metadata" || mediaType == "data" || mediaType == "application") return kMediaMetadata;
  return kMediaNone;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool DecodeHexPairs(std::string_view text, std::vector<uint8_t>& out) {
  out.clear();
  if (text.size() % 2 != 0) return false;
  out.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    const int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return out.clear(), false;
    out.push_back(static_cast<uint8_t>(hi << 4 | lo));
  }
  return true;
}

bool CSDPResponseParser::Parse(std::string_view text) {
  info_ = SdpInfo();
  audioCodec_ = SdpAudioCodec();
  mpeg4Audio_ = SdpMpeg4Audio();
  current_ = MediaDescription();
  currentKind_ = kMediaNone;
  open_ = false;
  currentHasConnection_ = false;
  sessionConnection_.clear();
  if (text.empty()) return false;

  bool ok = true;
  size_t begin = 0;
  while (begin <= text.size() && ok) {
    size_t end = text.find('\n', begin);
    std::string_view line =
        text.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::string lower = ToLower(line.substr(0, 16));
    if (StartsWith(lower, "m=")) {
      CloseDescription();
      OpenDescription(line);
    } else if (StartsWith(lower, "a=control")) {
      const size_t colon = line.find(':');
      if (open_ && colon != std::string_view::npos) current_.control = std::string(line.substr(colon + 1));
    } else if (StartsWith(lower, "a=fmtp")) {
      ok = HandleFmtp(line);
    } else if (StartsWith(lower, "c=in")) {
      HandleConnection(line, !open_);
    } else if (StartsWith(lower, "a=rtpmap")) {
      HandleRtpmap(line);
    } else if (StartsWith(lower, "a=x-dimensions")) {
      HandleDimensions(line);
    } else if (StartsWith(lower, "a=sendonly")) {
      currentKind_ = kMediaNone;
      dropped_ = open_;
    }
    if (end == std::string_view::npos) break;
    begin = end + 1;
  }
  CloseDescription();
  return ok;
}

void CSDPResponseParser::OpenDescription(std::string_view line) {
  open_ = true;
  dropped_ = false;
  current_ = MediaDescription();
  currentHasConnection_ = false;
  const std::string lower = ToLower(line);
  const std::string_view rest = std::string_view(lower).substr(2);
  currentKind_ = KindOf(rest.substr(0, rest.find(' ')));
  const auto tokens = SplitBlanks(line.substr(2));
  if (tokens.size() >= 3) {
    current_.port = static_cast<uint16_t>(ParseDecimal(tokens[1]).value_or(0));
    current_.protocol = std::string(tokens[2]);
  }
}

void CSDPResponseParser::CloseDescription() {
  if (!open_) return;
  open_ = false;
  if (!currentHasConnection_) current_.connectionAddress = sessionConnection_;
  MediaDescription* slot = info_.Media(currentKind_);
  if (slot != nullptr && slot->control.empty()) *slot = current_;
  currentKind_ = kMediaNone;
}

void CSDPResponseParser::HandleConnection(std::string_view line, bool sessionLevel) {
  const auto tokens = SplitBlanks(line.substr(2));
  if (tokens.size() < 3 || tokens[0] != "IN" || tokens[1] != "IP4") return;
  const std::string address(tokens[2].substr(0, tokens[2].find('/')));
  if (sessionLevel) {
    sessionConnection_ = address;
  } else {
    current_.connectionAddress = address;
    currentHasConnection_ = true;
  }
}

void CSDPResponseParser::HandleDimensions(std::string_view line) {
  const size_t colon = line.find(':');
  if (!open_ || colon == std::string_view::npos) return;
  const std::string value(line.substr(colon + 1, 32));
  unsigned width = 0, height = 0;
  // A JPEG picture has 16-bit sizes; anything else is no size at all.
  if (std::sscanf(value.c_str(), "%u,%u", &width, &height) != 2 || width == 0 || height == 0 ||
      width > 0xFFFF || height > 0xFFFF)
    return;
  current_.width = width;
  current_.height = height;
}

void CSDPResponseParser::HandleRtpmap(std::string_view line) {
  if (!open_) return;
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return;
  const std::string_view value = line.substr(colon + 1);
  const size_t blank = value.find(' ');
  current_.payloadType = static_cast<uint8_t>(ParseDecimal(value.substr(0, blank)).value_or(0));
  current_.encoding = blank == std::string_view::npos ? std::string() : std::string(value.substr(blank + 1));
  if (currentKind_ != kMediaAudio) return;

  const std::string encoding = ToLower(current_.encoding);
  const auto parts = Split(encoding, '/');
  const std::string_view name = parts[0];
  const uint32_t clockRate = parts.size() > 1 ? ParseDecimal(parts[1]).value_or(0) : 0;
  if (encoding.find("mpeg4-generic") != std::string::npos) {
    audioCodec_.sampleRate = clockRate;
    const uint32_t channels = parts.size() > 2 ? ParseDecimal(parts[2]).value_or(0) : 0;
    audioCodec_.channels = static_cast<uint8_t>(channels == 0 || channels > 255 ? 1 : channels);
  } else if (encoding.find("pcmu") != std::string::npos) {
    audioCodec_.tag = FourCC("711M");
    audioCodec_.sampleRate = clockRate;
  } else if (encoding.find("pcma") != std::string::npos) {
    audioCodec_.tag = FourCC("711A");
    audioCodec_.sampleRate = clockRate;
  } else if (encoding.find("g726") != std::string::npos) {
    audioCodec_.tag = FourCC("7261");
    audioCodec_.sampleRate = clockRate;
    const size_t dash = name.find('-');
    if (dash != std::string_view::npos) {
      const uint32_t kbits = ParseDecimal(name.substr(dash + 1)).value_or(0);
      audioCodec_.bitRate = kbits <= 0xFFFFFFFFu / 1000 ? kbits * 1000 : 0;
    }
  }
}

bool CSDPResponseParser::HandleFmtp(std::string_view line) {
  // A description dropped by "a=sendonly" (a back channel) may carry format parameters of its
  // own; they are skipped rather than failing the whole description of the camera.
  if (open_ && dropped_) return true;
  if (!open_ || currentKind_ == kMediaNone) return false;
  if (currentKind_ == kMediaVideo) {
    const std::string sprop = ExtractValue(line, "sprop-parameter-sets", '=', " ;\r\n");
    if (!sprop.empty()) {
      const auto sets = Split(sprop, ',');
      if (sets.size() >= 2 && info_.sequenceParameterSet.empty() && info_.pictureParameterSet.empty()) {
        std::vector<uint8_t> sps, pps;
        // Both or neither: a parser given only one set could never insert them.
        if (Base64Decode(sets[0], sps) && Base64Decode(sets[1], pps) && !sps.empty() && !pps.empty()) {
          info_.sequenceParameterSet = std::move(sps);
          info_.pictureParameterSet = std::move(pps);
        }
      }
    } else if (info_.configuration.empty()) {
      const std::string config = ExtractValue(line, "config", '=', " ;\r\n");
      if (config.find('=') != std::string::npos)
        Base64Decode(config, info_.configuration);
      else
        DecodeHexPairs(config, info_.configuration);
    }
  } else if (currentKind_ == kMediaAudio) {
    if (ToLower(current_.encoding).find("mpeg4-generic") == std::string::npos) return true;
    const char* const kDelimiters = " ;\r\n";
    mpeg4Audio_.mode = ExtractValueNoCase(line, "mode", '=', kDelimiters);
    if (ToLower(mpeg4Audio_.mode).find("aac") == std::string::npos) return true;
    mpeg4Audio_.streamType = ExtractValueNoCase(line, "streamtype", '=', kDelimiters);
    mpeg4Audio_.profileLevelId = ExtractValueNoCase(line, "profile-level-id", '=', kDelimiters);
    DecodeHexPairs(ExtractValueNoCase(line, "config", '=', kDelimiters), mpeg4Audio_.config);
    auto number = [&](const char* key, uint32_t& field) {
      if (auto v = ParseDecimal(ExtractValueNoCase(line, key, '=', kDelimiters))) field = *v;
    };
    number("sizelength", mpeg4Audio_.sizeLength);
    number("indexlength", mpeg4Audio_.indexLength);
    number("indexdeltalength", mpeg4Audio_.indexDeltaLength);
    number("ctsdeltalength", mpeg4Audio_.ctsDeltaLength);
    number("dtsdeltalength", mpeg4Audio_.dtsDeltaLength);
  }
  return true;
}

}  // namespace vantrel
