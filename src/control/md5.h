// MD5 message digest (RFC 1321). Used for HTTP and RTSP Digest authentication, where the
// digests travel as 32 lower-case hexadecimal digits. Portable: no Windows headers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vantrel {

using Md5Digest = std::array<uint8_t, 16>;

// Incremental form, for callers that hash a message in pieces.
class CMd5 {
 public:
  CMd5() { Reset(); }

  void Reset();
  void Update(std::span<const uint8_t> data);
  void Update(std::string_view text) {
    Update(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
  }
  // Pads the message and returns the digest; the object starts over afterwards.
  Md5Digest Final();

 private:
  void Transform(const uint8_t block[64]);

  uint32_t state_[4];
  uint64_t bitCount_;
  uint8_t buffer_[64];
};

Md5Digest Md5(std::span<const uint8_t> data);
Md5Digest Md5(std::string_view text);

// Lower-case hex, two digits per byte.
std::string ToHex(std::span<const uint8_t> bytes);

// MD5 of the text as 32 lower-case hexadecimal digits.
std::string Md5Hex(std::string_view text);

namespace HUtils {
using vantrel::Md5Hex;
}  // namespace HUtils

}  // namespace vantrel
