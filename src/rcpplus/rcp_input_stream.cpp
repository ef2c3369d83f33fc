#include "rcpplus/rcp_input_stream.h"

#include <cstring>
#include <utility>

namespace rcpplus {

RcpInputStream::RcpInputStream(std::vector<uint8_t>&& bytes)
    : owned_(std::move(bytes)), reader_(owned_.data(), owned_.size()) {}

uint8_t RcpInputStream::readOctet() {
  uint8_t value = 0;
  if (!reader_.ReadU8(value)) throw RcpStreamEnd();
  return value;
}

uint16_t RcpInputStream::readUShort() {
  uint16_t value = 0;
  if (!reader_.ReadU16(value)) throw RcpStreamEnd();
  return value;
}

uint32_t RcpInputStream::readULong() {
  uint32_t value = 0;
  if (!reader_.ReadU32(value)) throw RcpStreamEnd();
  return value;
}

void RcpInputStream::readString(char* buffer, size_t length) {
  std::span<const uint8_t> bytes;
  if (!reader_.ReadBytes(length, bytes)) throw RcpStreamEnd();
  if (length != 0) std::memcpy(buffer, bytes.data(), length);
}

std::string RcpInputStream::readString(size_t length) {
  std::span<const uint8_t> bytes;
  if (!reader_.ReadBytes(length, bytes)) throw RcpStreamEnd();
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

void RcpInputStream::skip(size_t count) {
  if (!reader_.Skip(count)) throw RcpStreamEnd();
}

}  // namespace rcpplus
