// The RTP header rules of the RCP+ stream receiver: whatever the packet, the payload handed on
// lies inside it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "channels/rcp_stream_packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t expected = vantrel::ExpectedPayloadType(data[0] & 0x80, data[0] & 0x03);
  std::span<const uint8_t> packet(data + 1, size - 1);
  auto payload = vantrel::ParseStreamedRtpPacket(packet, expected);
  if (!payload) return 0;
  if (payload->data < packet.data() + 12 || payload->data + payload->size > packet.data() + packet.size())
    std::abort();
  volatile uint8_t sum = 0;
  for (size_t i = 0; i < payload->size; ++i) sum = static_cast<uint8_t>(sum + payload->data[i]);
  return 0;
}
