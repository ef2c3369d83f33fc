#include <cstddef>
#include <cstdint>

#include "streaming/jpeg_rtp_media_parser.h"
#include "streaming_fuzz_support.h"

// RFC 4571 framed RTP packets (header extensions included) through the RTP/JPEG depacketizer.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vantrel::fuzzing::Harness harness;
  vantrel::CJpegRTPMediaParser parser(&harness.driver);
  parser.SetClient(&harness.client);
  vantrel::CRTPPacket packet;
  vantrel::fuzzing::ForEachFramedPacket(data, size, [&](const uint8_t* p, size_t n) {
    if (packet.Parse(p, n)) parser.ProcessPacket(packet);
    if (parser.GetFrameBuffer().size() > vantrel::CRTPMediaParser::kMaxFrameSize + 65536 + 1024)
      __builtin_trap();
  });
  return 0;
}
