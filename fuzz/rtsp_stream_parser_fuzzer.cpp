#include <cstddef>
#include <cstdint>

#include "streaming/rtsp_stream_parser.h"

namespace {
class Counter : public vantrel::IRTSPClientUser {
 public:
  bool SdpInfoReceived(const vantrel::SdpInfo&) override { return true; }
  void OnInterleavedPacket(const vantrel::CRTPPacket& p) override { payload += p.GetPayloadLength(); }
  void OnSessionEnded() override {}
  size_t payload = 0;
};
}  // namespace

// First byte: chunk size and channel; the rest is the connection's byte stream. Whole and
// chunked feeding must find the same packets.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t chunk = (data[0] & 0x1F) + 1;
  const uint8_t channel = (data[0] >> 5) * 2;
  Counter whole, chunked;
  vantrel::CRTSPStreamParser a(&whole, channel), b(&chunked, channel);
  a.Process(data + 1, size - 1);
  for (size_t at = 1; at < size; at += chunk) b.Process(data + at, size - at < chunk ? size - at : chunk);
  if (whole.payload != chunked.payload) __builtin_trap();
  return 0;
}
