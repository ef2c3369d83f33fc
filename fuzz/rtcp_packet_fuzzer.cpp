// Walks arbitrary datagrams as RTCP compound packets, feeds the same bytes to the sequence
// bookkeeping as a run of sequence numbers, and checks that what we build parses back.
#include <cstdint>
#include <cstdlib>

#include "streaming/rtcp_packet.h"

using namespace vantrel::rtcp;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> bytes(data, data ? size : 0);
  CCompoundReader reader(bytes);
  PacketView packet;
  size_t walked = 0;
  while (reader.Next(packet)) {
    walked += packet.bytes.size();
    if (packet.bytes.size() < kHeaderSize || packet.bytes.size() % 4 != 0 || walked > bytes.size()) abort();
    if (auto sr = ReadSenderReport(packet)) {
      ReceiverReportFields fields;
      fields.versionBits = sr->versionBits;
      fields.senderSsrc = sr->senderSsrc;
      fields.lsr = sr->lsr;
      auto rr = BuildReceiverReport(fields);
      CCompoundReader back(rr);
      PacketView built;
      if (!back.Next(built) || built.type != kTypeReceiverReport || built.bytes.size() != rr.size()) abort();
    }
  }

  SequenceState state;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    state.Update(static_cast<uint16_t>((bytes[i] << 8) | bytes[i + 1]));
    if (state.maxSeq >= SequenceState::kSequenceModulo || state.cycles % SequenceState::kSequenceModulo != 0)
      abort();
  }
  return 0;
}
