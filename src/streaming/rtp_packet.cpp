#include "streaming/rtp_packet.h"

#include "foundation/byte_reader.h"

namespace vantrel {

void CRTPPacket::Clear() {
  csrcCount_ = 0;
  csrcList_.clear();
  ssrc_ = 0;
  marker_ = 0;
  padding_ = 0;
  payloadType_ = 0;
  sequenceNumber_ = 0;
  timestamp_ = 0;
  ClearExtension();
  payloadLength_ = 0;
  payload_.clear();
  arrivalTicks_ = 0;
}

bool CRTPPacket::Parse(const uint8_t* data, size_t size) {
  Clear();
  if (data == nullptr || size < kMinDatagramSize) return false;
  ByteReader reader(data, size);
  uint8_t first = 0, second = 0;
  uint16_t sequence = 0;
  uint32_t timestamp = 0, ssrc = 0;
  if (!reader.ReadU8(first) || !reader.ReadU8(second) || !reader.ReadU16(sequence) ||
      !reader.ReadU32(timestamp) || !reader.ReadU32(ssrc))
    return false;
  if ((first >> 6) != 2) return false;

  const uint8_t csrcCount = first & 0x0F;
  if (csrcCount > 0) {
    if (4u * csrcCount >= size - 12) return false;
    csrcList_.resize(csrcCount);
    for (uint8_t i = 0; i < csrcCount; ++i)
      if (!reader.ReadU32(csrcList_[i])) return Clear(), false;
  }

  if (first & 0x10) {
    uint16_t profile = 0, words = 0;
    std::span<const uint8_t> ext;
    if (!reader.ReadU16(profile) || !reader.ReadU16(words) || !reader.ReadBytes(size_t{words} * 4, ext))
      return Clear(), false;
    hasExtension_ = true;
    extensionProfile_ = profile;
    extensionLength_ = words;
    extensionData_.assign(ext.begin(), ext.end());
  }

  size_t paddingCount = 0;
  if (first & 0x20) paddingCount = data[size - 1];
  if (paddingCount > reader.Remaining()) return Clear(), false;

  csrcCount_ = csrcCount;
  ssrc_ = ssrc;
  marker_ = (second & 0x80) ? 1 : 0;
  padding_ = (first & 0x20) ? 1 : 0;
  payloadType_ = second & 0x7F;
  sequenceNumber_ = sequence;
  timestamp_ = timestamp;
  const size_t payloadSize = reader.Remaining() - paddingCount;
  payload_.assign(reader.Current(), reader.Current() + payloadSize);
  payloadLength_ = static_cast<uint32_t>(payloadSize);
  return true;
}

std::vector<uint8_t> CRTPPacket::Serialize() const {
  std::vector<uint8_t> out;
  out.reserve(12 + 4 * csrcList_.size() + 4 + extensionData_.size() + payload_.size());
  auto put16 = [&out](uint16_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
  };
  auto put32 = [&put16](uint32_t v) {
    put16(static_cast<uint16_t>(v >> 16));
    put16(static_cast<uint16_t>(v));
  };
  out.push_back(static_cast<uint8_t>(0x80 | (hasExtension_ ? 0x10 : 0) | (csrcList_.size() & 0x0F)));
  out.push_back(static_cast<uint8_t>((marker_ ? 0x80 : 0) | (payloadType_ & 0x7F)));
  put16(sequenceNumber_);
  put32(timestamp_);
  put32(ssrc_);
  for (size_t i = 0; i < csrcList_.size() && i < 15; ++i) put32(csrcList_[i]);
  if (hasExtension_) {
    put16(extensionProfile_);
    put16(extensionLength_);
    out.insert(out.end(), extensionData_.begin(), extensionData_.end());
  }
  out.insert(out.end(), payload_.begin(), payload_.end());
  return out;
}

void CRTPPacket::SetCsrcList(const std::vector<uint32_t>& list) {
  csrcList_.assign(list.begin(),
                   list.begin() + static_cast<std::ptrdiff_t>(list.size() < 15 ? list.size() : 15));
  csrcCount_ = static_cast<uint8_t>(csrcList_.size());
}

void CRTPPacket::SetExtension(uint16_t profile, const uint8_t* data, size_t size) {
  const size_t words = (size + 3) / 4 > 0xFFFF ? 0xFFFF : (size + 3) / 4;
  hasExtension_ = true;
  extensionProfile_ = profile;
  extensionLength_ = static_cast<uint16_t>(words);
  extensionData_.assign(words * 4, 0);
  for (size_t i = 0; i < size && i < words * 4; ++i) extensionData_[i] = data[i];
}

void CRTPPacket::ClearExtension() {
  hasExtension_ = false;
  extensionProfile_ = 0;
  extensionLength_ = 0;
  extensionData_.clear();
}

void CRTPPacket::SetPayload(const uint8_t* data, size_t size) {
  if (data == nullptr) size = 0;
  payload_.assign(data, data + size);
  payloadLength_ = static_cast<uint32_t>(size);
}

}  // namespace vantrel
