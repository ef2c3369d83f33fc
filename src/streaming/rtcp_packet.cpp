#include "streaming/rtcp_packet.h"

namespace vantrel::rtcp {

namespace {

void PutU32(uint8_t* out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value >> 24);
  out[1] = static_cast<uint8_t>(value >> 16);
  out[2] = static_cast<uint8_t>(value >> 8);
  out[3] = static_cast<uint8_t>(value);
}

}  // namespace

bool CCompoundReader::Next(PacketView& out) {
  ByteReader probe = reader_;
  uint8_t first = 0;
  uint8_t type = 0;
  uint16_t lengthWords = 0;
  if (!probe.ReadU8(first) || !probe.ReadU8(type) || !probe.ReadU16(lengthWords)) return false;
  const size_t size = (static_cast<size_t>(lengthWords) + 1) * 4;
  std::span<const uint8_t> whole;
  if (!reader_.ReadBytes(size, whole)) return false;
  out.firstByte = first;
  out.type = type;
  out.bytes = whole;
  return true;
}

std::optional<SenderReportInfo> ReadSenderReport(const PacketView& packet) {
  if (packet.type != kTypeSenderReport || packet.bytes.size() < kSenderReportMinSize) return std::nullopt;
  ByteReader reader(packet.bytes);
  SenderReportInfo info;
  info.versionBits = static_cast<uint8_t>(packet.firstByte & kVersionMask);
  uint32_t ntpSeconds = 0, ntpFraction = 0;
  if (!reader.Skip(4) || !reader.ReadU32(info.senderSsrc) || !reader.ReadU32(ntpSeconds) ||
      !reader.ReadU32(ntpFraction) || !reader.ReadU32(info.rtpTimestamp))
    return std::nullopt;
  info.ntp = (uint64_t{ntpSeconds} << 32) | ntpFraction;
  info.lsr = static_cast<uint32_t>(info.ntp >> 16);
  return info;
}

uint64_t SenderTimeOfRtp(uint64_t ntp, uint32_t reportRtp, uint32_t rtpTimestamp, uint32_t clockRate) {
  constexpr uint64_t kTicksPerSecond = 10000000;          // FILETIME: 100 ns
  constexpr uint64_t kSeconds1601To1900 = 9435484800ULL;  // 299 years, 72 of them leap years
  uint64_t seconds = ntp >> 32;
  if (seconds == 0 || clockRate == 0) return 0;
  // NTP's first era ends in February 2036; values below 2^31 s belong to the next one.
  if (seconds < 0x80000000ULL) seconds += 0x100000000ULL;
  const uint64_t fraction = ntp & 0xFFFFFFFFULL;
  const uint64_t base =
      (seconds + kSeconds1601To1900) * kTicksPerSecond + ((fraction * kTicksPerSecond) >> 32);
  const int64_t delta = static_cast<int32_t>(rtpTimestamp - reportRtp);
  const int64_t offset = delta * static_cast<int64_t>(kTicksPerSecond) / static_cast<int64_t>(clockRate);
  return static_cast<uint64_t>(static_cast<int64_t>(base) + offset);
}

void SequenceState::Init(uint16_t seq) {
  maxSeq = seq;
  baseSeq = static_cast<uint32_t>(seq) - 1;
  badSeq = kSequenceModulo + 1;
  cycles = 0;
  received = 0;
}

void SequenceState::Update(uint16_t seq) {
  if (!started) {
    // The source is only trusted after kMinSequential packets in a row; starting one below the
    // first number makes that first packet the first of the run.
    Init(seq);
    maxSeq = static_cast<uint16_t>(seq - 1);
    probation = kMinSequential;
    started = true;
  }
  if (Track(seq)) ++received;
}

bool SequenceState::Track(uint16_t seq) {
  const uint32_t s = seq;
  const uint32_t delta = (s - maxSeq) & (kSequenceModulo - 1);
  if (probation > 0) {
    if (s == ((maxSeq + 1) & (kSequenceModulo - 1))) {
      --probation;
      maxSeq = s;
      if (probation == 0) {
        Init(seq);
        return true;
      }
    } else {
      probation = kMinSequential - 1;
      maxSeq = s;
    }
    return false;
  }
  if (delta < kMaxDropout) {
    if (s < maxSeq) cycles += kSequenceModulo;
    maxSeq = s;
  } else if (delta <= kSequenceModulo - kMaxMisorder) {
    if (s == badSeq) {
      // Two sequential packets after a big jump: the sender restarted, follow it.
      Init(seq);
      return true;
    }
    badSeq = (s + 1) & (kSequenceModulo - 1);
    return false;
  }
  // Duplicates and late packets count as received but move nothing.
  return true;
}

uint32_t DelaySinceLastReport(uint32_t elapsedMs) {
  const uint64_t units = static_cast<uint64_t>(elapsedMs) * 65536 / 1000;
  return units > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(units);
}

std::array<uint8_t, kReceiverReportSize> BuildReceiverReport(const ReceiverReportFields& fields) {
  std::array<uint8_t, kReceiverReportSize> out{};
  out[0] = static_cast<uint8_t>((fields.versionBits & kVersionMask) | 1);
  out[1] = kTypeReceiverReport;
  out[2] = 0;
  out[3] = kReceiverReportSize / 4 - 1;
  PutU32(&out[4], fields.ownSsrc);
  PutU32(&out[8], fields.senderSsrc);
  // Bytes 12 to 15 (fraction and cumulative lost) stay 0.
  PutU32(&out[16], fields.extendedHighest);
  // Bytes 20 to 23 (jitter) stay 0.
  PutU32(&out[24], fields.lsr);
  PutU32(&out[28], fields.dlsr);
  return out;
}

std::array<uint8_t, kByeSize> BuildBye(uint8_t versionBits, uint32_t ownSsrc) {
  std::array<uint8_t, kByeSize> out{};
  out[0] = static_cast<uint8_t>((versionBits & kVersionMask) | 1);
  out[1] = kTypeBye;
  out[2] = 0;
  out[3] = kByeSize / 4 - 1;
  PutU32(&out[4], ownSsrc);
  return out;
}

}  // namespace vantrel::rtcp
