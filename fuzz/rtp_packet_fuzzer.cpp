#include <cstddef>
#include <cstdint>
#include <vector>

#include "streaming/rtp_packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vantrel::CRTPPacket packet;
  if (packet.Parse(data, size)) {
    // What was parsed must lie inside the datagram and survive a round trip.
    if (packet.GetPayloadLength() > size) __builtin_trap();
    const std::vector<uint8_t> bytes = packet.Serialize();
    vantrel::CRTPPacket again;
    if (!again.Parse(bytes.data(), bytes.size()) && packet.GetPayloadLength() > 0) __builtin_trap();
  }
  return 0;
}
