// Splits the bytes of an RTSP connection into what the client must act on: responses, requests
// the server sends on its own (RFC 2326 lets it send OPTIONS, SET_PARAMETER, ANNOUNCE…), and
// interleaved "$" frames of any channel. One reader sees everything, so a response that arrives
// between two frames, or a frame that arrives while a response is awaited, is never mistaken for
// the other.
//
// Messages are handed out with their header block normalised: lines end in CR LF whether the
// peer sent CR LF or a bare LF, folded header lines are joined, and the body follows unchanged.
// Bounds: a header block longer than kMaxHeaderBytes is discarded, a body longer than
// kMaxBodyBytes is cut (the rest is read and dropped so the next message starts where it should);
// bytes that start neither a frame nor a message line are skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel {

struct RtspMessage {
  enum class Kind { kInterleaved, kResponse, kRequest };
  Kind kind = Kind::kResponse;
  uint8_t channel = 0;           // interleaved frames
  std::string data;              // frame payload, or the normalised message text
  std::optional<uint32_t> cseq;  // responses and requests that carry one
  std::string method;            // requests
};

class CRTSPMessageReader {
 public:
  static constexpr size_t kMaxHeaderBytes = 16384;
  static constexpr size_t kMaxBodyBytes = 1 << 20;

  void Append(const char* data, size_t size);
  // The next complete message, or nullopt until more bytes arrive.
  std::optional<RtspMessage> Next();
  void Clear();
  // Bytes held but not yet handed out.
  size_t Pending() const { return buffer_.size() - start_; }

 private:
  void Consume(size_t count);
  bool SkipNoise();

  std::string buffer_;
  size_t start_ = 0;
  size_t discard_ = 0;  // bytes of an overlong body still to drop
};

// The value of header `name` (any case) in a normalised message text; empty when absent.
std::string_view RtspHeaderValue(std::string_view message, std::string_view name);

}  // namespace vantrel
