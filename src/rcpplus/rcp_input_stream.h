// Reader over the bytes of an RCP+ payload, the way the camera maker's client library hands
// them out. The system also wraps byte lists fetched over HTTP in one, so a single parser serves
// both paths.
//
// Wire format: every multi-byte value is in network byte order (big-endian), packed with no
// padding:
//
//   readOctet   1 byte
//   readUShort  2 bytes, most significant first
//   readULong   4 bytes, most significant first
//   readString  `length` raw bytes, no length prefix and no terminator on the wire
//
// A read or skip that needs more bytes than are left throws RcpStreamEnd and consumes nothing:
// that is the library's documented contract and every caller catches it as end of data. It is
// the one place in the code base where exceptions are used, so callers must catch at the call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/byte_reader.h"

namespace rcpplus {

// Thrown by every RcpInputStream read that runs past the end of the data.
class RcpStreamEnd : public std::out_of_range {
 public:
  RcpStreamEnd() : std::out_of_range("rcpplus::RcpInputStream: read past the end of the data") {}
};

class RcpInputStream {
 public:
  RcpInputStream() = default;
  // Borrows `bytes`: the caller keeps them alive for the life of the stream.
  explicit RcpInputStream(std::span<const uint8_t> bytes) : reader_(bytes) {}
  RcpInputStream(const uint8_t* data, size_t size) : reader_(data, size) {}
  // Takes the bytes over, for replies whose buffer would otherwise die before the parse ends.
  explicit RcpInputStream(std::vector<uint8_t>&& bytes);

  RcpInputStream(const RcpInputStream&) = delete;
  RcpInputStream& operator=(const RcpInputStream&) = delete;
  virtual ~RcpInputStream() = default;

  // The library blocks here until a streamed payload has arrived; a buffer is complete from
  // the start, so this returns at once. True while bytes are left.
  bool wait() const { return available() > 0; }

  uint8_t readOctet();
  uint16_t readUShort();
  uint32_t readULong();
  // Copies exactly `length` bytes into `buffer` (which must hold them); adds no terminator.
  void readString(char* buffer, size_t length);
  // The same, as text; an embedded zero byte ends nothing, the bytes are kept as they are.
  std::string readString(size_t length);
  void skip(size_t count);

  size_t available() const { return reader_.Remaining(); }
  size_t position() const { return reader_.Position(); }

 private:
  std::vector<uint8_t> owned_;
  vantrel::ByteReader reader_;
};

}  // namespace rcpplus
