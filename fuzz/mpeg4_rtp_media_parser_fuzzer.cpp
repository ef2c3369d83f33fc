#include <cstddef>
#include <cstdint>

#include "streaming/mp4_parser.h"
#include "streaming/mpeg4_rtp_media_parser.h"
#include "streaming_fuzz_support.h"

// RFC 4571 framed RTP packets through both entries of the MPEG-4 depacketizer (RFC 2190 style
// payloads and RFC 3016 packets); the whole input also goes to the VOL and H.263 header readers
// and serves as SDP configuration.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vantrel::CMP4Parser reader;
  uint32_t w = 0, h = 0;
  reader.GetPictureSize(data, size, w, h);
  vantrel::CMP4Parser::GetShortHeaderSize(data, size, w, h);
  vantrel::CMP4Parser::IsIntraPicture(data, size);

  vantrel::fuzzing::Harness harness;
  vantrel::CMpeg4RTPMediaParser payloads(&harness.driver), packets(&harness.driver);
  payloads.SetClient(&harness.client);
  packets.SetClient(&harness.client);
  packets.SetParameterSets({}, {}, std::vector<uint8_t>(data, data + (size < 64 ? size : 64)));
  vantrel::CRTPPacket packet;
  vantrel::fuzzing::ForEachFramedPacket(data, size, [&](const uint8_t* p, size_t n) {
    if (!packet.Parse(p, n)) return;
    payloads.ProcessPayload(packet.GetPayload(), packet.GetPayloadLength(), packet.GetSequenceNumber(),
                            packet.GetTimestamp(), packet.GetMarker());
    packets.ProcessPacket(packet);
  });
  return 0;
}
