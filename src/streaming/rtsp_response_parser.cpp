#include "streaming/rtsp_response_parser.h"

#include <algorithm>
#include <vector>

#include "streaming/key_value.h"

namespace vantrel {

namespace {

// Splits the text into lines at LF, dropping a CR before it.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    std::string_view line =
        text.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    begin = end + 1;
  }
  return lines;
}

std::string RemoveQuotes(std::string_view text) {
  std::string out;
  for (char c : TrimBlanks(text))
    if (c != '"') out += c;
  return out;
}

// The value after "name:" of a header line, trimmed.
std::string_view HeaderValue(std::string_view line) {
  const size_t colon = line.find(':');
  return colon == std::string_view::npos ? std::string_view() : TrimBlanks(line.substr(colon + 1));
}

}  // namespace

void CRTSPResponseParser::Reset() {
  protocol_.clear();
  contentBase_.clear();
  contentType_.clear();
  contentLength_ = 0;
  sessionId_.clear();
  sessionTimeout_ = 0;
  challengeType_ = kChallengeNone;
  realm_.clear();
  nonce_.clear();
  digest_ = Web::DigestChallenge();
  interleavedChannel_ = 0;
  interleavedRtcpChannel_ = 1;
  sourceAddress_.clear();
  sdpInfo_ = SdpInfo();
}

bool CRTSPResponseParser::Parse(uint32_t method, std::string_view text) {
  const size_t firstEnd = text.find('\n');
  std::string_view statusLine = text.substr(0, firstEnd);
  if (!statusLine.empty() && statusLine.back() == '\r') statusLine.remove_suffix(1);
  statusLine = TrimBlanks(statusLine);
  const size_t blank = statusLine.find_first_of(" \t");
  if (blank == std::string_view::npos || blank > kMaxProtocolLength) return false;
  const auto code = ParseDecimal(statusLine.substr(blank));
  if (!code) return false;
  protocol_ = std::string(statusLine.substr(0, blank));
  statusCode_ = *code;
  if (statusCode_ != 200 && statusCode_ != 401) return false;
  digestInThisResponse_ = false;

  // Headers run to the first empty line; the body follows it.
  size_t bodyStart = text.size();
  size_t headerEnd = text.size();
  if (firstEnd != std::string_view::npos) {
    size_t at = firstEnd + 1;
    while (at < text.size()) {
      size_t end = text.find('\n', at);
      std::string_view line =
          text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (line.empty()) {
        headerEnd = at;
        bodyStart = end == std::string_view::npos ? text.size() : end + 1;
        break;
      }
      if (!HandleHeader(line)) return false;
      if (end == std::string_view::npos) break;
      at = end + 1;
    }
  }

  // Content-Length is counted from the body start; a short read keeps what arrived.
  std::string_view body;
  if (contentLength_ > 0 && bodyStart < text.size())
    body = text.substr(bodyStart, std::min<size_t>(contentLength_, text.size() - bodyStart));

  if (method == kRtspDescribe) {
    if (statusCode_ == 401 && body.empty()) return true;
    const bool ok = sdpParser_.Parse(body);
    sdpInfo_ = sdpParser_.GetSdpInfo();
    return ok;
  }
  if (method == kRtspSetup) HandleTransport(text.substr(0, headerEnd));
  return true;
}

bool CRTSPResponseParser::HandleHeader(std::string_view line) {
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return true;
  const std::string_view name = TrimBlanks(line.substr(0, colon));
  const std::string lower = ToLower(line);
  if (EqualsNoCase(name, "CSeq")) {
    const auto value = ParseDecimal(HeaderValue(lower));
    if (!value) return false;
    cseq_ = *value;
  } else if (EqualsNoCase(name, "Content-Base")) {
    const size_t scheme = lower.find("rtsp://", colon);
    if (scheme == std::string::npos) return contentBase_.clear(), false;
    contentBase_ = std::string(TrimBlanks(line.substr(scheme)));
  } else if (EqualsNoCase(name, "Content-Type")) {
    const std::string_view value = HeaderValue(lower);
    const std::string_view word = value.substr(0, value.find_first_of(" \t"));
    if (word.empty()) return false;
    contentType_ = std::string(word.substr(0, kMaxContentTypeLength));
  } else if (EqualsNoCase(name, "Content-Length")) {
    const auto value = ParseDecimal(HeaderValue(lower));
    if (!value) return false;
    contentLength_ = *value;
  } else if (EqualsNoCase(name, "Session")) {
    return HandleSession(line, line.substr(0, colon + 1));
  } else if (EqualsNoCase(name, "WWW-Authenticate")) {
    return HandleAuthenticate(line);
  }
  // Date, Transport (read for SETUP below), Range, RTP-Info, Server, Accept-Ranges,
  // RTCP-Interval and any unknown header: nothing to do.
  return true;
}

bool CRTSPResponseParser::HandleSession(std::string_view line, std::string_view name) {
  // The key is the header name as received, so "session:" from a lower-casing server matches too.
  sessionId_ = std::string(TrimBlanks(ExtractValue(line, name, ' ', ";\r\n")));
  if (sessionId_.empty()) {
    // "Session:1234" without the blank: take the value after the colon.
    const std::string_view value = HeaderValue(line);
    sessionId_ = std::string(TrimBlanks(value.substr(0, value.find(';'))));
  }
  if (line.find(';') != std::string_view::npos) {
    const auto timeout = ParseDecimal(ExtractValueNoCase(line, "timeout", '=', ";\r\n"));
    sessionTimeout_ = (!timeout || *timeout == 0) ? kDefaultSessionTimeout : *timeout;
  }
  return !sessionId_.empty();
}

bool CRTSPResponseParser::HandleAuthenticate(std::string_view line) {
  std::string_view rest = HeaderValue(line);
  const size_t wordEnd = rest.find_first_of(" \t\r\n");
  const std::string_view word = rest.substr(0, wordEnd);
  if (EqualsNoCase(word, "Digest")) {
    const auto challenge = Web::ParseDigestChallenge(rest);
    // One we cannot answer (another algorithm) is skipped: a usable one may stand beside it. One
    // without a nonce is broken, and the response with it.
    if (!challenge) return digestInThisResponse_ || ToLower(rest).find("nonce") != std::string::npos;
    challengeType_ = kChallengeDigest;
    digest_ = *challenge;
    realm_ = digest_.realm;
    nonce_ = digest_.nonce;
    digestInThisResponse_ = true;
    return !realm_.empty();
  }
  if (!EqualsNoCase(word, "Basic")) return true;
  // Offered beside Digest, Basic would send the password in the clear for no gain.
  if (digestInThisResponse_) return true;
  challengeType_ = kChallengeBasic;
  rest = wordEnd == std::string_view::npos ? std::string_view() : rest.substr(wordEnd);
  realm_ = RemoveQuotes(ExtractValueNoCase(rest, "realm", '=', ",\r\n"));
  nonce_.clear();
  return true;
}

void CRTSPResponseParser::HandleTransport(std::string_view text) {
  for (std::string_view line : Lines(text)) {
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || !EqualsNoCase(TrimBlanks(line.substr(0, colon)), "Transport"))
      continue;
    line = HeaderValue(line);
    // The server may pick other channels than asked; the ones it names are the ones it uses.
    const std::string interleaved = ExtractValueNoCase(line, "interleaved", '=', ";");
    if (!interleaved.empty()) {
      const auto rtp = ParseDecimal(interleaved);
      const size_t dash = interleaved.find('-');
      const auto rtcp = dash == std::string::npos ? std::nullopt : ParseDecimal(interleaved.substr(dash + 1));
      interleavedChannel_ = static_cast<uint8_t>(rtp.value_or(0));
      interleavedRtcpChannel_ = static_cast<uint8_t>(rtcp && *rtcp <= 255 ? *rtcp : interleavedChannel_ + 1);
    }
    sourceAddress_ = std::string(TrimBlanks(ExtractValueNoCase(line, "source", '=', ";\r\n")));

    if (sdpInfo_.video.port == 0 || sdpInfo_.audio.port == 0 || sdpInfo_.metadata.port == 0) {
      const std::string port = ExtractValueNoCase(line, "port", '=', ";\r\n");
      uint16_t first = 0;
      const size_t dash = port.find('-');
      if (dash != std::string::npos) {
        const std::string_view a = std::string_view(port).substr(0, dash),
                               b = std::string_view(port).substr(dash + 1);
        const bool digitsOnly = !a.empty() && !b.empty() &&
                                a.find_first_not_of("0123456789") == std::string_view::npos &&
                                b.find_first_not_of("0123456789") == std::string_view::npos;
        const auto value = digitsOnly ? ParseDecimal(a) : std::nullopt;
        if (value && *value <= 0xFFFF) first = static_cast<uint16_t>(*value);
      }
      for (MediaDescription* media : {&sdpInfo_.video, &sdpInfo_.audio, &sdpInfo_.metadata})
        if (media->port == 0) media->port = first;
    }
    const std::string destination(TrimBlanks(ExtractValueNoCase(line, "destination", '=', ";\r\n")));
    if (!destination.empty() && destination != "0.0.0.0")
      for (MediaDescription* media : {&sdpInfo_.video, &sdpInfo_.audio, &sdpInfo_.metadata})
        media->connectionAddress = destination;
  }
}

}  // namespace vantrel
