#include "channels/rcp_stream_packet.h"

#include "foundation/byte_reader.h"

namespace vantrel {

uint8_t ExpectedPayloadType(bool sending, uint32_t mode) {
  if (sending) return 0;
  switch (mode) {
    case 1:
      return 26;
    case 2:
      return 34;
    case 3:
      return 35;
    default:
      return 255;
  }
}

std::optional<StreamedRtpPayload> ParseStreamedRtpPacket(std::span<const uint8_t> packet,
                                                         uint8_t expectedPayloadType) {
  constexpr size_t kFixedHeader = 12;
  if (packet.size() <= kFixedHeader || (packet[0] >> 6) != 2) return std::nullopt;
  size_t header = kFixedHeader + 4u * (packet[0] & 0x0F);
  if (packet[0] & 0x10) {
    ByteReader reader(packet);
    uint16_t words = 0;
    if (!reader.Skip(header + 2) || !reader.ReadU16(words)) return std::nullopt;
    header += 4 + 4u * words;
  }
  if (packet.size() <= header) return std::nullopt;
  if ((packet[1] & 0x7F) != expectedPayloadType) return std::nullopt;
  size_t size = packet.size() - header;
  if (packet[0] & 0x20) {
    const size_t padding = packet.back();
    if (padding > size) return std::nullopt;
    size -= padding;
  }
  StreamedRtpPayload out;
  out.data = packet.data() + header;
  out.size = size;
  out.sequenceNumber = static_cast<uint16_t>((packet[2] << 8) | packet[3]);
  out.timestamp =
      (uint32_t{packet[4]} << 24) | (uint32_t{packet[5]} << 16) | (uint32_t{packet[6]} << 8) | packet[7];
  out.marker = (packet[1] & 0x80) != 0;
  return out;
}

}  // namespace vantrel
