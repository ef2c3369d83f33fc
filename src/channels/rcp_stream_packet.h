// The RTP header rules the RCP+ stream receiver applies to each packet the streamer hands over
// (payload type 255 = one whole RTP packet). Portable, fuzzed.
//
//    0                   1                   2                   3
//    0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |V=2|P|X|  CC   |M|     PT      |       sequence number         |
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |                           timestamp                           |
//   |                             SSRC                              |
//   |                 CSRC list (CC entries of 4 bytes)             |
//   |   profile (16)   |  extension length in words (16)  | X only  |
//   |                  extension words                   | X only   |
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//
// A packet must be longer than its header. The padding count in the last byte is trusted only
// as far as the payload reaches: a count that would eat into the header (or past it) drops the
// packet instead of yielding a negative length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace vantrel {

struct StreamedRtpPayload {
  const uint8_t* data = nullptr;
  size_t size = 0;
  uint16_t sequenceNumber = 0;
  uint32_t timestamp = 0;
  bool marker = false;
};

// Payload type a connection accepts: 0 while sending, else by media kind (1 JPEG 26, 2 MPEG-4 34,
// 3 the third video kind 35); 255 matches nothing.
uint8_t ExpectedPayloadType(bool sending, uint32_t mode);

std::optional<StreamedRtpPayload> ParseStreamedRtpPacket(std::span<const uint8_t> packet,
                                                         uint8_t expectedPayloadType);

}  // namespace vantrel
