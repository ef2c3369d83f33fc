#include <cstddef>
#include <cstdint>

#include "streaming/h264_rtp_media_parser.h"
#include "streaming/h264_sps_reader.h"
#include "streaming_fuzz_support.h"

// RFC 4571 framed RTP packets through the H.264 depacketizer; the whole input also goes to the
// SPS reader, and the first packet's payload serves as SDP parameter sets.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint32_t w = 0, h = 0;
  vantrel::CH264SpsReader::FindAndParse(data, size, w, h);
  vantrel::fuzzing::Harness harness;
  vantrel::CH264RTPMediaParser parser(&harness.driver);
  parser.SetClient(&harness.client);
  vantrel::CRTPPacket packet;
  bool first = true;
  vantrel::fuzzing::ForEachFramedPacket(data, size, [&](const uint8_t* p, size_t n) {
    if (first) {
      first = false;
      const std::vector<uint8_t> sps(p, p + n / 2), pps(p + n / 2, p + n);
      parser.SetParameterSets(sps, pps, {});
    }
    if (packet.Parse(p, n)) parser.ProcessPacket(packet);
    if (parser.GetFrameBuffer().size() > vantrel::CRTPMediaParser::kMaxFrameSize + 65536) __builtin_trap();
  });
  return 0;
}
