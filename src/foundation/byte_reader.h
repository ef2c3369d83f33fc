// Bounds-checked big-endian reader over a byte span, shared by every parser of bytes that come
// from a camera, a file or the network. Each read checks the remaining length first; a failed
// read returns false (or nullopt) and leaves the position unchanged, so callers never read past
// the end whatever the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace vantrel {

class ByteReader {
 public:
  ByteReader() = default;
  explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  ByteReader(const uint8_t* data, size_t size) : bytes_(data, data ? size : 0) {}

  size_t Remaining() const { return bytes_.size() - pos_; }
  size_t Position() const { return pos_; }
  bool Empty() const { return Remaining() == 0; }
  std::span<const uint8_t> Rest() const { return bytes_.subspan(pos_); }
  const uint8_t* Current() const { return bytes_.data() + pos_; }

  bool ReadU8(uint8_t& out) {
    if (Remaining() < 1) return false;
    out = bytes_[pos_++];
    return true;
  }
  bool ReadU16(uint16_t& out) {
    if (Remaining() < 2) return false;
    out = static_cast<uint16_t>((bytes_[pos_] << 8) | bytes_[pos_ + 1]);
    pos_ += 2;
    return true;
  }
  bool ReadU24(uint32_t& out) {
    if (Remaining() < 3) return false;
    out = (uint32_t{bytes_[pos_]} << 16) | (uint32_t{bytes_[pos_ + 1]} << 8) | bytes_[pos_ + 2];
    pos_ += 3;
    return true;
  }
  bool ReadU32(uint32_t& out) {
    if (Remaining() < 4) return false;
    out = (uint32_t{bytes_[pos_]} << 24) | (uint32_t{bytes_[pos_ + 1]} << 16) |
          (uint32_t{bytes_[pos_ + 2]} << 8) | bytes_[pos_ + 3];
    pos_ += 4;
    return true;
  }
  bool ReadBytes(size_t count, std::span<const uint8_t>& out) {
    if (Remaining() < count) return false;
    out = bytes_.subspan(pos_, count);
    pos_ += count;
    return true;
  }
  bool Skip(size_t count) {
    if (Remaining() < count) return false;
    pos_ += count;
    return true;
  }
  std::optional<uint8_t> PeekU8() const {
    if (Remaining() < 1) return std::nullopt;
    return bytes_[pos_];
  }

 private:
  std::span<const uint8_t> bytes_;
  size_t pos_ = 0;
};

}  // namespace vantrel
