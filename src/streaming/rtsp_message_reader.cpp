#include "streaming/rtsp_message_reader.h"

#include <algorithm>

#include "streaming/key_value.h"

namespace vantrel {

namespace {

constexpr size_t kCompactAfterBytes = 65536;
// A first line this long without an end is noise, not a status or request line.
constexpr size_t kMaxFirstLineBytes = 1024;

bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }

std::string_view WithoutCr(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// "METHOD uri RTSP/1.0": the method token in capitals (and '_'), the version last.
bool IsRequestLine(std::string_view line) {
  const size_t blank = line.find(' ');
  if (blank == 0 || blank == std::string_view::npos) return false;
  for (char c : line.substr(0, blank))
    if (!IsUpper(c) && c != '_') return false;
  line = TrimBlanks(line);
  return line.size() > blank + 9 && line.substr(line.size() - 8, 5) == "RTSP/";
}

}  // namespace

std::string_view RtspHeaderValue(std::string_view message, std::string_view name) {
  size_t at = message.find('\n');
  while (at != std::string_view::npos && at + 1 < message.size()) {
    const size_t begin = at + 1;
    const size_t end = message.find('\n', begin);
    std::string_view line =
        WithoutCr(message.substr(begin, end == std::string_view::npos ? end : end - begin));
    if (line.empty()) break;
    const size_t colon = line.find(':');
    if (colon != std::string_view::npos && EqualsNoCase(TrimBlanks(line.substr(0, colon)), name))
      return TrimBlanks(line.substr(colon + 1));
    at = end;
  }
  return {};
}

void CRTSPMessageReader::Append(const char* data, size_t size) {
  if (data != nullptr && size > 0) buffer_.append(data, size);
}

void CRTSPMessageReader::Clear() {
  buffer_.clear();
  start_ = 0;
  discard_ = 0;
}

void CRTSPMessageReader::Consume(size_t count) {
  start_ += std::min(count, Pending());
  if (start_ == buffer_.size()) {
    buffer_.clear();
    start_ = 0;
  } else if (start_ > kCompactAfterBytes) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
}

bool CRTSPMessageReader::SkipNoise() {
  size_t at = start_;
  while (at < buffer_.size() && buffer_[at] != '$' && !IsUpper(buffer_[at])) ++at;
  Consume(at - start_);
  return Pending() > 0;
}

std::optional<RtspMessage> CRTSPMessageReader::Next() {
  for (;;) {
    if (discard_ > 0) {
      const size_t drop = std::min(discard_, Pending());
      Consume(drop);
      discard_ -= drop;
      if (discard_ > 0) return std::nullopt;
    }
    if (!SkipNoise()) return std::nullopt;
    const std::string_view view(buffer_.data() + start_, Pending());

    if (view[0] == '$') {
      if (view.size() < 4) return std::nullopt;
      const size_t length = (size_t{static_cast<uint8_t>(view[2])} << 8) | static_cast<uint8_t>(view[3]);
      if (view.size() < 4 + length) return std::nullopt;
      RtspMessage frame;
      frame.kind = RtspMessage::Kind::kInterleaved;
      frame.channel = static_cast<uint8_t>(view[1]);
      frame.data.assign(view.data() + 4, length);
      Consume(4 + length);
      return frame;
    }

    const size_t firstEnd = view.find('\n');
    if (firstEnd == std::string_view::npos) {
      if (view.size() <= kMaxFirstLineBytes) return std::nullopt;
      Consume(1);  // not a line: the search for a frame or message resumes after it
      continue;
    }
    const std::string_view first = TrimBlanks(WithoutCr(view.substr(0, firstEnd)));
    const bool response = StartsWith(first, "RTSP/");
    if (!response && !IsRequestLine(first)) {
      Consume(firstEnd + 1);
      continue;
    }

    // The header block ends at the first empty line, CR LF or bare LF alike.
    size_t headerEnd = std::string_view::npos, bodyStart = 0;
    for (size_t nl = firstEnd; nl != std::string_view::npos && nl < kMaxHeaderBytes;
         nl = view.find('\n', nl + 1)) {
      if (nl + 1 < view.size() && view[nl + 1] == '\n') {
        headerEnd = nl + 1;
        bodyStart = nl + 2;
        break;
      }
      if (nl + 2 < view.size() && view[nl + 1] == '\r' && view[nl + 2] == '\n') {
        headerEnd = nl + 1;
        bodyStart = nl + 3;
        break;
      }
    }
    if (headerEnd == std::string_view::npos) {
      if (view.size() <= kMaxHeaderBytes) return std::nullopt;
      Consume(firstEnd + 1);  // an endless header block: give up on this message
      continue;
    }

    std::string text;
    text.reserve(headerEnd + 2);
    for (size_t at = 0; at < headerEnd;) {
      const size_t end = view.find('\n', at);
      std::string_view line = WithoutCr(view.substr(at, end - at));
      at = end + 1;
      if (!text.empty() && (line.front() == ' ' || line.front() == '\t')) {
        // A folded line continues the header above it.
        text.push_back(' ');
        text.append(TrimBlanks(line));
        continue;
      }
      if (!text.empty()) text.append("\r\n");
      text.append(line);
    }
    text.append("\r\n\r\n");

    size_t length = 0;
    const std::string_view lengthText = RtspHeaderValue(text, "Content-Length");
    if (!lengthText.empty() && lengthText.find_first_not_of("0123456789") == std::string_view::npos &&
        lengthText.size() <= 9)
      length = std::stoul(std::string(lengthText));
    const size_t kept = std::min(length, kMaxBodyBytes);
    if (view.size() < bodyStart + kept) return std::nullopt;

    RtspMessage message;
    message.kind = response ? RtspMessage::Kind::kResponse : RtspMessage::Kind::kRequest;
    message.cseq = ParseDecimal(RtspHeaderValue(text, "CSeq"));
    if (!response) message.method = std::string(first.substr(0, first.find(' ')));
    text.append(view.substr(bodyStart, kept));
    message.data = std::move(text);
    Consume(bodyStart + kept);
    discard_ = length - kept;
    return message;
  }
}

}  // namespace vantrel
