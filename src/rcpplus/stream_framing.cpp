#include "rcpplus/stream_framing.h"

#include <cstring>

#include "foundation/byte_reader.h"

namespace rcpplus {

namespace {

void PutU16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

}  // namespace

std::optional<FrameBounds> BoundsOf(uint8_t type) {
  switch (static_cast<FrameType>(type)) {
    case FrameType::kConnect:
      return FrameBounds{17, 17};
    case FrameType::kConnected:
      return FrameBounds{12, 12};
    case FrameType::kPacket:
      // Payload type plus an RTP header and at least one byte.
      return FrameBounds{14, 0xFFFF};
    case FrameType::kTransmit:
      return FrameBounds{2, 0xFFFF};
    case FrameType::kBye:
      return FrameBounds{4, 4};
  }
  return std::nullopt;
}

void FrameParser::Feed(std::span<const uint8_t> bytes) {
  if (failed_ || bytes.empty()) return;
  // Consumed bytes are dropped lazily so that a burst of small frames costs no moves.
  if (start_ > 0 && start_ == buffer_.size()) {
    buffer_.clear();
    start_ = 0;
  } else if (start_ > 65536) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

FrameParser::Result FrameParser::Next(Frame& frame) {
  if (failed_) return Result::kError;
  vantrel::ByteReader reader(std::span<const uint8_t>(buffer_).subspan(start_));
  uint8_t magic = 0, type = 0;
  uint16_t length = 0;
  if (!reader.ReadU8(magic)) return Result::kNeedMore;
  if (magic != kFrameMagic) {
    failed_ = true;
    return Result::kError;
  }
  if (!reader.ReadU8(type)) return Result::kNeedMore;
  const std::optional<FrameBounds> bounds = BoundsOf(type);
  if (!bounds) {
    failed_ = true;
    return Result::kError;
  }
  if (!reader.ReadU16(length)) return Result::kNeedMore;
  if (length < bounds->min || length > bounds->max) {
    failed_ = true;
    return Result::kError;
  }
  std::span<const uint8_t> payload;
  if (!reader.ReadBytes(length, payload)) return Result::kNeedMore;
  frame.type = static_cast<FrameType>(type);
  frame.payload.assign(payload.begin(), payload.end());
  start_ += kFrameHeaderSize + length;
  return Result::kFrame;
}

std::optional<ConnectedInfo> ParseConnected(std::span<const uint8_t> payload) {
  vantrel::ByteReader reader(payload);
  ConnectedInfo info;
  if (!reader.ReadU32(info.word) || !reader.ReadU32(info.clientId) || !reader.ReadU32(info.error))
    return std::nullopt;
  return info;
}

std::vector<uint8_t> BuildFrame(FrameType type, std::span<const uint8_t> payload) {
  if (payload.size() > 0xFFFF) return {};
  std::vector<uint8_t> out;
  out.reserve(kFrameHeaderSize + payload.size());
  out.push_back(kFrameMagic);
  out.push_back(static_cast<uint8_t>(type));
  PutU16(out, static_cast<uint16_t>(payload.size()));
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

std::vector<uint8_t> BuildConnect(const ConnectRequest& request) {
  std::vector<uint8_t> payload;
  PutU16(payload, request.mode);
  PutU16(payload, request.coding);
  payload.push_back(request.value);
  PutU32(payload, request.arg1);
  PutU32(payload, request.arg2);
  PutU32(payload, request.clientId);
  return BuildFrame(FrameType::kConnect, payload);
}

std::vector<uint8_t> BuildBye(uint32_t reason) {
  std::vector<uint8_t> payload;
  PutU32(payload, reason);
  return BuildFrame(FrameType::kBye, payload);
}

std::vector<uint8_t> BuildTransmit(uint8_t payloadType, std::span<const uint8_t> data) {
  if (data.empty() || data.size() + 1 > 0xFFFF) return {};
  std::vector<uint8_t> out;
  out.reserve(kFrameHeaderSize + 1 + data.size());
  out.push_back(kFrameMagic);
  out.push_back(static_cast<uint8_t>(FrameType::kTransmit));
  PutU16(out, static_cast<uint16_t>(data.size() + 1));
  out.push_back(payloadType);
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

std::optional<int> ParseStatusLine(const std::string& head) {
  // "HTTP/1.x NNN" and nothing looser: the camera speaks our protocol.
  if (head.size() < 12 || head.compare(0, 7, "HTTP/1.") != 0 || head[8] != ' ') return std::nullopt;
  int status = 0;
  for (size_t i = 9; i < 12; ++i) {
    if (head[i] < '0' || head[i] > '9') return std::nullopt;
    status = status * 10 + (head[i] - '0');
  }
  if (head.size() > 12 && head[12] != ' ' && head[12] != '\r') return std::nullopt;
  return status;
}

bool ParseStreamUrl(const std::string& url, StreamUrl& out) {
  const size_t schemeEnd = url.find("://");
  if (schemeEnd == std::string::npos || schemeEnd == 0) return false;
  StreamUrl parsed;
  parsed.scheme = url.substr(0, schemeEnd);
  std::string rest = url.substr(schemeEnd + 3);
  const size_t at = rest.rfind('@');
  if (at != std::string::npos) {
    const std::string login = rest.substr(0, at);
    const size_t colon = login.find(':');
    parsed.user = login.substr(0, colon);
    if (colon != std::string::npos) parsed.password = login.substr(colon + 1);
    rest = rest.substr(at + 1);
  }
  const size_t colon = rest.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 >= rest.size() || rest.size() - colon > 6)
    return false;
  uint32_t port = 0;
  for (size_t i = colon + 1; i < rest.size(); ++i) {
    if (rest[i] < '0' || rest[i] > '9') return false;
    port = port * 10 + static_cast<uint32_t>(rest[i] - '0');
  }
  if (port == 0 || port > 0xFFFF) return false;
  parsed.host = rest.substr(0, colon);
  parsed.port = static_cast<uint16_t>(port);
  out = std::move(parsed);
  return true;
}

std::string EncodeBase64(const std::string& text) {
  // The library sits below the streaming code's Base64 and needs only this one encoding.
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  const auto byte = [&](size_t k) { return static_cast<uint32_t>(static_cast<uint8_t>(text[k])); };
  for (; i + 3 <= text.size(); i += 3) {
    const uint32_t v = (byte(i) << 16) | (byte(i + 1) << 8) | byte(i + 2);
    for (int s = 18; s >= 0; s -= 6) out += kAlphabet[(v >> s) & 0x3F];
  }
  if (text.size() - i == 1) {
    const uint32_t v = byte(i) << 16;
    out += kAlphabet[(v >> 18) & 0x3F];
    out += kAlphabet[(v >> 12) & 0x3F];
    out += "==";
  } else if (text.size() - i == 2) {
    const uint32_t v = (byte(i) << 16) | (byte(i + 1) << 8);
    out += kAlphabet[(v >> 18) & 0x3F];
    out += kAlphabet[(v >> 12) & 0x3F];
    out += kAlphabet[(v >> 6) & 0x3F];
    out += '=';
  }
  return out;
}

}  // namespace rcpplus
