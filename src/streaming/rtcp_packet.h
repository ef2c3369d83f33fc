// RTCP at the byte level: walking an incoming compound packet, reading the few sender-report
// fields a receiver report echoes, the RTP sequence bookkeeping behind the extended highest
// sequence number, and building our receiver report and BYE. Portable (no Win32) so it is
// tested under the sanitizers and fuzzed.
//
// Every RTCP packet starts with the same four bytes:
//
//   0                   1                   2                   3
//   0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
//  +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//  |V=2|P|  count  |      PT       |   length (32-bit words - 1)   |
//  +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//
// A sender report (PT 200) continues with the sender's SSRC and its 64-bit NTP timestamp; the
// middle 32 bits of that timestamp (packet bytes 10 to 13) are the LSR we echo:
//
//  +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//  |                         SSRC of sender                        |  4
//  +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//  |              NTP timestamp, most significant word             |  8
//  +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//  |             NTP timestamp, least significant word             | 12
//  +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//  |   RTP timestamp, sender's packet count, sender's octet count  | 16..27
//  +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//
// Leniencies, because cameras are not always strict:
//  - The version bits are not checked; whatever the camera uses is echoed back in our reports.
//  - The walk stops quietly at the first packet whose length field runs past the datagram; the
//    whole packets before it still count. Trailing bytes shorter than a header are ignored.
//  - A sender report shorter than its 28-byte fixed part is skipped rather than read past its
//    own end (its length field is the only bound we trust).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "foundation/byte_reader.h"

namespace vantrel::rtcp {

inline constexpr uint8_t kTypeSenderReport = 200;
inline constexpr uint8_t kTypeReceiverReport = 201;
inline constexpr uint8_t kTypeSourceDescription = 202;
inline constexpr uint8_t kTypeBye = 203;

inline constexpr size_t kHeaderSize = 4;
inline constexpr size_t kSenderReportMinSize = 28;
inline constexpr size_t kReceiverReportSize = 32;
inline constexpr size_t kByeSize = 8;
inline constexpr uint8_t kVersionMask = 0xC0;

// One whole packet of a compound datagram.
struct PacketView {
  uint8_t firstByte = 0;           // version, padding, count
  uint8_t type = 0;                // PT
  std::span<const uint8_t> bytes;  // the whole packet, header included
};

// Iterates the packets of a compound datagram by their length fields.
class CCompoundReader {
 public:
  explicit CCompoundReader(std::span<const uint8_t> datagram) : reader_(datagram) {}

  // False when no further whole packet fits.
  bool Next(PacketView& out);

 private:
  ByteReader reader_;
};

struct SenderReportInfo {
  uint8_t versionBits = 0;  // first byte masked with kVersionMask
  uint32_t senderSsrc = 0;
  uint32_t lsr = 0;           // middle 32 bits of the NTP timestamp
  uint64_t ntp = 0;           // the sender's wall clock: seconds since 1900 (high word), fraction (low)
  uint32_t rtpTimestamp = 0;  // the same instant on the stream's RTP clock
};

// nullopt when the packet is not a sender report or is too short to be one.
std::optional<SenderReportInfo> ReadSenderReport(const PacketView& packet);

// The sender's wall-clock time (UTC FILETIME value) of `rtpTimestamp`, from a sender report
// of the same stream: the camera's own capture time of a frame. 0 when the report holds no time.
// Timestamps up to 2^31 ticks either side of the report's are placed correctly.
uint64_t SenderTimeOfRtp(uint64_t ntp, uint32_t reportRtp, uint32_t rtpTimestamp, uint32_t clockRate);

// RTP sequence bookkeeping for the receiver report (RFC 3550 appendix A.1).
struct SequenceState {
  static constexpr uint32_t kMaxDropout = 3000;
  static constexpr uint32_t kMaxMisorder = 100;
  static constexpr uint32_t kMinSequential = 2;
  static constexpr uint32_t kSequenceModulo = 1u << 16;

  uint32_t maxSeq = 0;  // highest sequence number seen
  uint32_t cycles = 0;  // wraps seen, as a multiple of 65536
  uint32_t baseSeq = 0;
  uint32_t badSeq = 0;
  uint32_t probation = 0;
  uint32_t received = 0;
  bool started = false;

  // Starts on the first call (with probation) and then tracks every sequence number given.
  void Update(uint16_t seq);
  void Clear() { *this = SequenceState{}; }
  uint32_t ExtendedHighest() const { return cycles + maxSeq; }

 private:
  void Init(uint16_t seq);
  // Returns whether the packet counts as received.
  bool Track(uint16_t seq);
};

// Delay since the last sender report in units of 1/65536 s, from a millisecond interval.
uint32_t DelaySinceLastReport(uint32_t elapsedMs);

struct ReceiverReportFields {
  uint8_t versionBits = 0;
  uint32_t ownSsrc = 0;
  uint32_t senderSsrc = 0;
  uint32_t extendedHighest = 0;
  uint32_t lsr = 0;
  uint32_t dlsr = 0;
};

// A receiver report with one report block. Loss and jitter are not measured (always 0).
std::array<uint8_t, kReceiverReportSize> BuildReceiverReport(const ReceiverReportFields& fields);

// A BYE for our own SSRC.
std::array<uint8_t, kByeSize> BuildBye(uint8_t versionBits, uint32_t ownSsrc);

}  // namespace vantrel::rtcp
