#include "capabilities/encoder_profile_records.h"

#include "foundation/byte_reader.h"

namespace vantrel {

EncoderProfileRecords ParseEncoderProfileRecords(std::span<const uint8_t> bytes) {
  EncoderProfileRecords out;
  ByteReader reader(bytes);
  std::span<const uint8_t> record;
  while (reader.ReadBytes(kProfileRecordSize, record)) {
    if (out.pairs.size() == kMaxProfileRecords) {
      out.truncated = true;
      return out;
    }
    const uint8_t first = record[7];
    const uint8_t second = record[11];
    if (first == 0) out.zeroFirst = true;
    if (second == 0) out.zeroSecond = true;
    out.pairs.emplace_back(first, second);
  }
  if (!reader.Empty()) out.truncated = true;
  return out;
}

std::string EncoderCapabilityText(const EncoderProfileRecords& records) {
  std::string text;
  for (const auto& [first, second] : records.pairs) {
    if (!text.empty()) text += ':';
    text += std::to_string(first) + ',' + std::to_string(second);
  }
  return text;
}

}  // namespace vantrel
