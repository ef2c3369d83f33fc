// One RTP packet (RFC 3550 section 5.1), parsed from a datagram or an interleaved RTSP frame and
// handed from the receivers to the channels and depacketizers.
//
//    0                   1                   2                   3
//    0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |V=2|P|X|  CC   |M|     PT      |       sequence number         |
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |                           timestamp                           |
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |                             SSRC                              |
//   +=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+
//   |                      CSRC list (CC words)                     |
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |  extension profile (X=1)      |   extension length (words)    |
//   |                   extension data (length words)               |
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |                 payload ...   | padding ... | padding count   |
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//
// Leniencies: a padding count of 0 with the P bit set is taken as "no padding" (some encoders
// set P on keep-alive packets); an empty payload is accepted because cameras send them as
// keep-alives. A header-only datagram (12 bytes) is rejected.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vantrel {

class CRTPPacket {
 public:
  // Smallest datagram accepted: the fixed header plus at least one byte.
  static constexpr size_t kMinDatagramSize = 13;

  CRTPPacket() = default;
  virtual ~CRTPPacket() = default;

  // Replaces the packet's contents with the parsed datagram. On failure the packet is empty.
  // Reuses the arrays' storage, so a packet object parsed again and again does not allocate once
  // its buffers have grown to the stream's packet size.
  bool Parse(const uint8_t* data, size_t size);

  // Writes the packet in wire format (no padding); for tests, tools and the benchmark.
  std::vector<uint8_t> Serialize() const;

  uint8_t GetCsrcCount() const { return csrcCount_; }
  const std::vector<uint32_t>& GetCsrcList() const { return csrcList_; }
  uint32_t GetSsrc() const { return ssrc_; }
  bool GetMarker() const { return marker_ != 0; }
  bool GetPadding() const { return padding_ != 0; }
  uint8_t GetPayloadType() const { return payloadType_; }
  uint16_t GetSequenceNumber() const { return sequenceNumber_; }
  uint32_t GetTimestamp() const { return timestamp_; }
  bool HasExtension() const { return hasExtension_; }
  uint16_t GetExtensionProfile() const { return extensionProfile_; }
  // In 32-bit words, as on the wire.
  uint16_t GetExtensionLength() const { return extensionLength_; }
  const std::vector<uint8_t>& GetExtensionData() const { return extensionData_; }
  uint32_t GetPayloadLength() const { return payloadLength_; }
  // Valid for GetPayloadLength() bytes; may be null when the payload is empty.
  const uint8_t* GetPayload() const { return payload_.data(); }
  // When the receiver read the datagram, in its own clock's ticks (0 = unknown); not on the wire.
  uint64_t GetArrivalTicks() const { return arrivalTicks_; }
  void SetArrivalTicks(uint64_t ticks) { arrivalTicks_ = ticks; }

  void SetSsrc(uint32_t ssrc) { ssrc_ = ssrc; }
  void SetMarker(bool marker) { marker_ = marker ? 1 : 0; }
  void SetPayloadType(uint8_t type) { payloadType_ = type & 0x7F; }
  void SetSequenceNumber(uint16_t sequence) { sequenceNumber_ = sequence; }
  void SetTimestamp(uint32_t timestamp) { timestamp_ = timestamp; }
  void SetCsrcList(const std::vector<uint32_t>& list);
  // Data is padded with zeros to whole 32-bit words.
  void SetExtension(uint16_t profile, const uint8_t* data, size_t size);
  void ClearExtension();
  void SetPayload(const uint8_t* data, size_t size);

  void Clear();

 private:
  uint8_t csrcCount_ = 0;
  std::vector<uint32_t> csrcList_;
  uint32_t ssrc_ = 0;
  uint8_t marker_ = 0;
  uint8_t padding_ = 0;
  uint8_t payloadType_ = 0;
  uint16_t sequenceNumber_ = 0;
  uint32_t timestamp_ = 0;
  bool hasExtension_ = false;
  uint16_t extensionProfile_ = 0;
  uint16_t extensionLength_ = 0;
  std::vector<uint8_t> extensionData_;
  uint32_t payloadLength_ = 0;
  std::vector<uint8_t> payload_;
  uint64_t arrivalTicks_ = 0;
};

}  // namespace vantrel
